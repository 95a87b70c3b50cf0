#include "vok_extraction.h"

#include "vok_record.h"

#include <utility>

namespace
{
constexpr std::string_view error_prefix = "E,";

bool is_error_line (std::string_view line)
{
  return line.substr (0, error_prefix.size ()) == error_prefix;
}

Vok_Status with_context (const Vok_Status &status, const std::string &context)
{
  return {status.result (), context + ": " + status.message (), status.server_reply ()};
}

std::string rows_text (std::uint64_t rows)
{
  return std::to_string (rows) + (rows == 1 ? " row" : " rows");
}
}

// The state of one select while it runs.
struct Vok_Extraction::Run
{
  Run (const Vok_Extraction_Settings &run_settings, const Vok_Extraction_Handlers &run_handlers)
    : settings (run_settings), handlers (run_handlers), data (run_settings.connection),
      request (run_settings.connection)
  {
  }

  void execute (const std::string &host, std::uint16_t port, const std::string &chandle,
                const Vok_Select_Document &select);

  // Reads the request connection up to "OK" (true) or its close (false).
  bool read_until_ok ();
  // Reads the records of the data connection up to the end or error record.
  void read_rows ();
  // Reads the rest of the request connection up to its close.
  void read_to_close ();
  // Files one line of the request connection; false when reading must stop.
  bool take_line (std::string line, bool before_rows);
  // After rows: whatever the data connection still holds must be nothing.
  void check_data_closed ();

  // The first failure is the one reported; later ones follow from it.
  void fail (Vok_Status status)
  {
    if (ended ())
      return;
    result.outcome = Vok_Extraction_Outcome::failed;
    result.status = std::move (status);
  }
  void stop (Vok_Status status)
  {
    result.outcome = Vok_Extraction_Outcome::stopped;
    result.status = std::move (status);
  }
  bool ended () const { return !result.status.ok (); }
  void report (bool final);

  const Vok_Extraction_Settings &settings;
  const Vok_Extraction_Handlers &handlers;
  Vok_Connection data;
  Vok_Connection request;
  Vok_Extraction_Result result;
  bool want_data = false;
  bool want_metadata = false;
  Vok_Metadata_Parser metadata;
  Vok_Layout layout;
  std::size_t lines = 0;
  Vok_Clock::time_point started;
  Vok_Clock::time_point next_report;
};

Vok_Extraction::Vok_Extraction (const Vok_Extraction_Settings &settings)
  : settings_ (settings)
{
}

Vok_Extraction_Result Vok_Extraction::run (const std::string &host, std::uint16_t port, const std::string &chandle,
                                           const Vok_Select_Document &select,
                                           const Vok_Extraction_Handlers &handlers) const
{
  Run run (settings_, handlers);
  run.execute (host, port, chandle, select);
  return std::move (run.result);
}

void Vok_Extraction::Run::execute (const std::string &host, std::uint16_t port, const std::string &chandle,
                                   const Vok_Select_Document &select)
{
  want_data = select.data.value_or (false);
  want_metadata = select.metadata.value_or (false);
  if (want_data && !want_metadata)
    {
      if (!settings.row_width)
        return fail ({Vok_Result::invalid_argument, "rows without metadata need the row width from the caller"});
      if (*settings.row_width >= settings.connection.max_record_bytes)
        return fail ({Vok_Result::invalid_argument,
                      "a row width of " + std::to_string (*settings.row_width) + " bytes exceeds the record limit of "
                        + std::to_string (settings.connection.max_record_bytes) + " bytes"});
    }

  Vok_Select_Document document = select;
  document.chandle = chandle;
  document.dhandle.reset ();
  if (want_data)
    {
      if (Vok_Status status = data.connect (host, port); !status.ok ())
        return fail (with_context (status, "cannot open the data connection"));
      document.dhandle = data.handle ();
    }
  std::string text;
  if (Vok_Status status = document.write (text); !status.ok ())
    return fail (with_context (status, "cannot write the select document"));
  if (Vok_Status status = request.connect (host, port); !status.ok ())
    return fail (with_context (status, "cannot open the request connection"));

  started = next_report = Vok_Clock::now ();
  next_report += settings.progress_interval;
  if (Vok_Status sent = request.send_request (text); !sent.ok ())
    {
      // An error line in place of an "OK" after a continuation line is the
      // server's answer to the select.
      if (sent.result () != Vok_Result::rejected || !is_error_line (sent.server_reply ()))
        return fail (with_context (sent, "cannot send the select document"));
      take_line (sent.server_reply (), true);
      read_to_close ();
    }
  else if (read_until_ok ())
    {
      read_rows ();
      if (result.outcome != Vok_Extraction_Outcome::stopped && result.status.result () != Vok_Result::timed_out)
        read_to_close ();
      if (!ended () && result.end_record)
        check_data_closed ();
    }
  else if (!ended () && result.error_lines.empty ())
    {
      if (want_data)
        return fail ({Vok_Result::closed, "the server closed the request connection without an OK and without "
                                            "an error line: no rows"});
      if (want_metadata)
        {
          if (Vok_Status status = metadata.finish (layout); !status.ok ())
            return fail (with_context (status, "incomplete metadata"));
          result.layout = layout;
        }
    }

  if (ended ())
    return;
  if (result.error_record || !result.error_lines.empty ())
    {
      result.outcome = Vok_Extraction_Outcome::server_error;
      std::string summary = "the server reported a failure";
      if (result.error_record)
        summary += ": the rows ended with an error record after " + rows_text (result.rows);
      if (!result.error_lines.empty ())
        summary += (result.error_record ? " and " : ": ") + std::to_string (result.error_lines.size ())
                   + " error line(s)";
      result.status = {Vok_Result::rejected, summary};
      return;
    }
  result.outcome = Vok_Extraction_Outcome::completed;
}

bool Vok_Extraction::Run::take_line (std::string line, bool before_rows)
{
  if (++lines > settings.max_lines)
    {
      fail ({Vok_Result::too_long, "the server sent more than " + std::to_string (settings.max_lines)
                                     + " lines on the request connection"});
      return false;
    }
  if (is_error_line (line))
    {
      result.error_lines.push_back (line.substr (error_prefix.size ()));
      return true;
    }
  // The server ends some error replies with an empty line.
  if (line.empty ())
    return true;
  if (before_rows && want_metadata && result.error_lines.empty () && Vok_Metadata_Parser::is_metadata_line (line))
    {
      if (Vok_Status status = metadata.add_line (line); !status.ok ())
        {
          fail (with_context (status, "metadata the client cannot use"));
          return false;
        }
      return true;
    }
  result.other_lines.push_back (std::move (line));
  return true;
}

bool Vok_Extraction::Run::read_until_ok ()
{
  std::string line;
  for (;;)
    {
      const Vok_Status status = request.read_line (line);
      if (status.result () == Vok_Result::closed)
        {
          // A last line cut off by the close still counts.
          std::string rest;
          if (request.read_until_closed (rest, settings.connection.max_line_bytes).ok () && !rest.empty ())
            take_line (std::move (rest), true);
          return false;
        }
      if (!status.ok ())
        {
          fail (with_context (status, "reading the reply to the select"));
          return false;
        }
      // After an error line the server ends the request; what follows is
      // read to the close.
      if (line == "OK" && result.error_lines.empty ())
        break;
      if (!take_line (std::move (line), true))
        return false;
    }

  if (!want_data)
    {
      fail ({Vok_Result::bad_record, "the server answered OK though no rows were asked for"});
      return false;
    }
  if (!want_metadata)
    layout.row_bytes = *settings.row_width;
  else if (Vok_Status status = metadata.finish (layout); !status.ok ())
    {
      // A statement the read report refuses ends in an error line right
      // after the OK of its only chunk, before any metadata: that line is
      // the answer.
      read_to_close ();
      if (!ended () && !result.error_lines.empty ())
        return false;
      if (!ended ())
        fail (with_context (status, "the rows begin before the metadata is complete"));
      return false;
    }
  else
    result.layout = layout;
  if (layout.row_bytes >= settings.connection.max_record_bytes)
    {
      fail ({Vok_Result::too_long, "rows of " + std::to_string (layout.row_bytes)
                                     + " bytes exceed the record limit of "
                                     + std::to_string (settings.connection.max_record_bytes) + " bytes"});
      return false;
    }
  if (handlers.on_layout)
    if (Vok_Status status = handlers.on_layout (layout); !status.ok ())
      {
        stop (status);
        return false;
      }
  return true;
}

void Vok_Extraction::Run::report (bool final)
{
  if (!handlers.on_progress)
    return;
  const Vok_Clock::time_point now = Vok_Clock::now ();
  next_report = now + settings.progress_interval;
  handlers.on_progress ({result.rows, result.bytes, now - started, final});
}

void Vok_Extraction::Run::read_rows ()
{
  const std::size_t width = layout.row_bytes;
  const bool by_time = settings.progress_interval.count () > 0;
  Vok_Record record;
  for (;;)
    {
      const Vok_Status status = data.read_record (width, record);
      if (!status.ok ())
        {
          // Before the first row the server may end the rows with a record
          // of width zero: the flag byte alone, then the close.
          std::string rest;
          if (status.result () == Vok_Result::closed && result.rows == 0
              && data.read_until_closed (rest, width).ok () && rest.size () == 1
              && record.assign (rest).ok () && record.kind () != Vok_Record_Kind::row)
            {
              result.bytes += 1;
              (record.kind () == Vok_Record_Kind::end ? result.end_record : result.error_record) = true;
              break;
            }
          fail (with_context (status, "the data connection after " + rows_text (result.rows)));
          break;
        }
      result.bytes += width + 1;
      if (record.kind () == Vok_Record_Kind::end)
        {
          result.end_record = true;
          break;
        }
      if (record.kind () == Vok_Record_Kind::error)
        {
          result.error_record = true;
          break;
        }
      if (handlers.on_row)
        if (Vok_Status handled = handlers.on_row (record.row (), layout); !handled.ok ())
          {
            stop (handled);
            break;
          }
      ++result.rows;
      if ((settings.progress_rows > 0 && result.rows % settings.progress_rows == 0)
          || (by_time && Vok_Clock::now () >= next_report))
        report (false);
    }
  report (true);
}

void Vok_Extraction::Run::read_to_close ()
{
  std::string line;
  for (;;)
    {
      const Vok_Status status = request.read_line (line);
      if (status.result () == Vok_Result::closed)
        {
          std::string rest;
          if (request.read_until_closed (rest, settings.connection.max_line_bytes).ok () && !rest.empty ())
            take_line (std::move (rest), false);
          return;
        }
      if (!status.ok ())
        {
          fail (with_context (status, "the server did not close the request connection after the select"));
          return;
        }
      if (!take_line (std::move (line), false))
        return;
    }
}

void Vok_Extraction::Run::check_data_closed ()
{
  std::string rest;
  const Vok_Status status = data.read_until_closed (rest, 0);
  if (status.result () == Vok_Result::too_long)
    fail ({Vok_Result::bad_record, "the server sent bytes after the end record on the data connection"});
  else if (!status.ok ())
    fail (with_context (status, "the data connection after the end record"));
}
