#include "vok_connection.h"

namespace
{
// Bytes asked of the socket per read when the caller's need is smaller.
constexpr std::size_t receive_chunk = 16384;
// How much of an unexpected answer a message quotes (the status keeps all).
constexpr std::size_t shown_reply_bytes = 200;

Vok_Status with_context (const Vok_Status &status, const std::string &context)
{
  return {status.result (), context + ": " + status.message (), status.server_reply ()};
}
}

Vok_Connection::Vok_Connection (const Vok_Connection_Options &options)
  : options_ (options)
{
}

Vok_Deadline Vok_Connection::reply_deadline () const
{
  return Vok_Clock::now () + options_.reply_timeout;
}

Vok_Status Vok_Connection::fill (Vok_Deadline deadline)
{
  std::size_t count = 0;
  char *space = buffer_.prepare (receive_chunk);
  Vok_Status status = socket_.receive_some (space, receive_chunk, deadline, count);
  buffer_.commit (count);
  return status;
}

Vok_Status Vok_Connection::connect (const std::string &host, std::uint16_t port)
{
  close ();
  if (Vok_Status status = socket_.connect (host, port, options_.connect_timeout); !status.ok ())
    return status;

  std::string line;
  Vok_Status status = read_bounded_line (line, Vok_Greeting::max_bytes (options_.greeting), reply_deadline ());
  if (status.result () == Vok_Result::too_long)
    status = {Vok_Result::bad_greeting, "no line feed within the first "
                                          + std::to_string (Vok_Greeting::max_bytes (options_.greeting))
                                          + " bytes of the greeting"};
  if (status.ok ())
    status = Vok_Greeting::parse (line, options_.greeting, handle_);
  if (!status.ok ())
    {
      close ();
      return with_context (status, "no greeting from " + host + ":" + std::to_string (port));
    }
  return {};
}

Vok_Status Vok_Connection::read_bounded_line (std::string &line, std::size_t max_bytes, Vok_Deadline deadline)
{
  line.clear ();
  for (;;)
    {
      if (const std::size_t length = buffer_.line_length (max_bytes); length > 0)
        {
          line = buffer_.take (length);
          return {};
        }
      if (buffer_.size () >= max_bytes)
        return {Vok_Result::too_long, "no line feed within " + std::to_string (max_bytes) + " bytes"};
      if (Vok_Status status = fill (deadline); !status.ok ())
        {
          if (status.result () == Vok_Result::closed && buffer_.size () > 0)
            return {Vok_Result::closed, status.message () + " within a line, after "
                                          + std::to_string (buffer_.size ()) + " bytes of it"};
          return status;
        }
    }
}

Vok_Status Vok_Connection::read_line (std::string &line)
{
  Vok_Status status = read_bounded_line (line, options_.max_line_bytes, reply_deadline ());
  if (status.ok ())
    line.pop_back ();
  return status;
}

Vok_Status Vok_Connection::read_lines_until (std::string_view terminator, std::vector<std::string> &lines,
                                             std::size_t max_lines)
{
  lines.clear ();
  std::string line;
  for (;;)
    {
      if (Vok_Status status = read_line (line); !status.ok ())
        return status;
      if (line == terminator)
        return {};
      if (lines.size () == max_lines)
        return {Vok_Result::too_long, "more than " + std::to_string (max_lines) + " lines before \""
                                        + std::string (terminator) + "\""};
      lines.push_back (std::move (line));
    }
}

Vok_Status Vok_Connection::read_record (std::size_t row_width, Vok_Record &record)
{
  if (row_width >= options_.max_record_bytes)
    return {Vok_Result::too_long, "a record of " + std::to_string (row_width) + " + 1 bytes exceeds the limit of "
                                    + std::to_string (options_.max_record_bytes) + " bytes"};
  const std::size_t need = row_width + 1;
  const Vok_Deadline deadline = reply_deadline ();
  while (buffer_.size () < need)
    if (Vok_Status status = fill (deadline); !status.ok ())
      {
        if (status.result () == Vok_Result::closed && buffer_.size () > 0)
          return {Vok_Result::closed, status.message () + " within a record, after "
                                        + std::to_string (buffer_.size ()) + " of its " + std::to_string (need)
                                        + " bytes"};
        return status;
      }
  if (Vok_Status status = record.assign (buffer_.view ().substr (0, need)); !status.ok ())
    return status;
  buffer_.take (need);
  return {};
}

Vok_Status Vok_Connection::read_until_closed (std::string &bytes, std::size_t max_bytes)
{
  bytes.clear ();
  for (;;)
    {
      if (buffer_.size () > max_bytes)
        return {Vok_Result::too_long, "the server sent more than " + std::to_string (max_bytes)
                                        + " bytes before it closed the connection"};
      const Vok_Status status = fill (reply_deadline ());
      if (status.result () == Vok_Result::closed)
        break;
      if (!status.ok ())
        return status;
    }
  bytes = buffer_.take (buffer_.size ());
  return {};
}

Vok_Status Vok_Connection::send_request (std::string_view request)
{
  if (!socket_.is_open ())
    return {Vok_Result::not_connected, "the connection is not open"};
  std::vector<std::string_view> lines;
  if (Vok_Status status = Vok_Request_Framer::split (request, options_.max_request_line, lines); !status.ok ())
    return status;

  std::string answer;
  for (std::size_t i = 0; i < lines.size (); ++i)
    {
      const bool last = i + 1 == lines.size ();
      const std::string where = "request line " + std::to_string (i + 1) + " of " + std::to_string (lines.size ());
      if (Vok_Status status = socket_.send_all ({lines[i], last ? "\n" : "\\\n"}, reply_deadline ()); !status.ok ())
        return with_context (status, where);
      if (last)
        break;
      Vok_Status status = read_bounded_line (answer, options_.max_line_bytes, reply_deadline ());
      if (!status.ok ())
        return with_context (status, "no OK after " + where);
      answer.pop_back ();
      if (answer != "OK")
        return {Vok_Result::rejected, "the server answered \"" + answer.substr (0, shown_reply_bytes)
                                        + (answer.size () > shown_reply_bytes ? "..." : "")
                                        + "\" instead of OK after " + where,
                answer};
    }
  return {};
}

Vok_Status Vok_Connection::shutdown_send ()
{
  return socket_.shutdown_send ();
}

void Vok_Connection::close ()
{
  socket_.close ();
  buffer_ = Vok_Receive_Buffer ();
  handle_.clear ();
}
