#include "vok_logon.h"

#include <cstring>
#include <utility>

namespace
{
constexpr std::string_view error_prefix = "E,";

bool is_error (std::string_view line)
{
  return line.substr (0, error_prefix.size ()) == error_prefix;
}

Vok_Status with_context (const Vok_Status &status, const std::string &context)
{
  return {status.result (), context + ": " + status.message (), status.server_reply ()};
}

// The document holds the password; it is not left in freed memory.
void wipe (std::string &text)
{
  if (!text.empty ())
    explicit_bzero (text.data (), text.size ());
  text.clear ();
}
}

Vok_Logon::Vok_Logon (std::size_t max_lines)
  : max_lines_ (max_lines)
{
}

bool Vok_Logon::is_system_info (std::string_view line)
{
  return !is_error (line) && line.find (system_info_marker) != std::string_view::npos;
}

Vok_Logon_Reply Vok_Logon::log_on (Vok_Connection &connection, const Vok_Connect_Document &document) const
{
  std::string text;
  if (Vok_Status status = document.write (text); !status.ok ())
    {
      Vok_Logon_Reply reply;
      reply.status = with_context (status, "cannot write the connect document");
      return reply;
    }
  Vok_Logon_Reply reply = log_on (connection, text);
  wipe (text);
  return reply;
}

Vok_Logon_Reply Vok_Logon::log_on (Vok_Connection &connection, std::string_view document) const
{
  Vok_Logon_Reply reply;
  const Vok_Status sent = connection.send_request (document);
  if (!sent.ok ())
    {
      // An error line in place of the "OK" after a continuation line is
      // the first line of a refusal; anything else ends the logon here.
      if (sent.result () != Vok_Result::rejected || !is_error (sent.server_reply ()))
        {
          reply.status = with_context (sent, "cannot send the connect document");
          return reply;
        }
      take_line (sent.server_reply (), reply);
    }
  read_reply (connection, reply);
  return reply;
}

bool Vok_Logon::take_line (std::string line, Vok_Logon_Reply &reply)
{
  if (is_error (line))
    {
      reply.error_lines.push_back (line.substr (error_prefix.size ()));
      return false;
    }
  if (line.empty ())
    return false;
  // After an error the server closes the connection, whatever else comes.
  if (is_system_info (line) && reply.system_info.empty ())
    {
      reply.system_info = std::move (line);
      return reply.error_lines.empty ();
    }
  reply.program_lines.push_back (std::move (line));
  return false;
}

void Vok_Logon::read_reply (Vok_Connection &connection, Vok_Logon_Reply &reply) const
{
  std::string line;
  for (std::size_t count = reply.error_lines.size ();; ++count)
    {
      if (count == max_lines_)
        {
          reply.status = {Vok_Result::too_long, "the logon reply has more than " + std::to_string (max_lines_)
                                                  + " lines"};
          break;
        }
      Vok_Status status = connection.read_line (line);
      if (status.result () == Vok_Result::closed)
        {
          // A last line cut off by the close is still part of the reply.
          std::string rest;
          if (connection.read_until_closed (rest, connection.options ().max_line_bytes).ok () && !rest.empty ())
            take_line (std::move (rest), reply);
          if (!reply.error_lines.empty ())
            reply.status = {};
          else
            reply.status = {Vok_Result::closed,
                            "the server closed the connection after "
                              + std::to_string (reply.program_lines.size ())
                              + " program line(s), without an error line or a complete system information line"};
          break;
        }
      if (!status.ok ())
        {
          reply.status = with_context (status, "reading the logon reply");
          break;
        }
      if (take_line (std::move (line), reply))
        {
          reply.outcome = Vok_Logon_Outcome::logged_on;
          reply.status = {};
          return;
        }
    }
  if (!reply.error_lines.empty ())
    reply.outcome = Vok_Logon_Outcome::refused;
}
