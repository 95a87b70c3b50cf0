#ifndef VOK_LOGON_H
#define VOK_LOGON_H

#include "vok_connect_document.h"
#include "vok_connection.h"
#include "vok_status.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// How a logon ended.
enum class Vok_Logon_Outcome
{
  logged_on,  // the system information line arrived: the connection is the logon's control connection
  refused,    // the server answered with error lines and closed the connection
  failed      // no answer the protocol allows (see the status): connection lost, silence, too much
};

// What the server answered to a connect document.
struct Vok_Logon_Reply
{
  Vok_Logon_Outcome outcome = Vok_Logon_Outcome::failed;
  // ok when logged on, and when refused with a reply that ended as it
  // should (the server closed the connection after its error lines);
  // otherwise why the reply could not be read to its end.
  Vok_Status status;
  // The system information line, as it came.
  std::string system_info;
  // Other lines before it (generated program lines, metadata), in order.
  std::vector<std::string> program_lines;
  // The error lines without their "E," (for a refused RFC logon "RFC Error:",
  // "Error Group: 3", "Key        : ...", "Message    : ..."), in order.
  std::vector<std::string> error_lines;
};

// Logs a connection on: sends a connect document and reads the reply.
//
// The reply is a run of lines. Lines that begin with "E," are error lines;
// after them the server closes the connection, and the logon is refused.
// The line holding ",LIT,IE3,W," is the system information line, which ends
// a successful logon; nothing after it is read, so the connection stays
// ready for what comes next. Any other non-empty line is kept as a program
// line; empty lines (the server ends some error replies with one) are
// skipped. Each line waits at most the connection's reply_timeout and may
// be at most its max_line_bytes long; at most `max_lines` lines are read.
class Vok_Logon
{
public:
  static constexpr std::string_view system_info_marker = ",LIT,IE3,W,";
  static constexpr std::size_t default_max_lines = 10000;

  explicit Vok_Logon (std::size_t max_lines = default_max_lines);

  // `document` is the text of a connect document.
  Vok_Logon_Reply log_on (Vok_Connection &connection, std::string_view document) const;
  // Writes the document, sends it and wipes its text (the password) again.
  // A document that cannot be written fails with its status and sends
  // nothing.
  Vok_Logon_Reply log_on (Vok_Connection &connection, const Vok_Connect_Document &document) const;

  // Whether a reply line is the system information line.
  static bool is_system_info (std::string_view line);

private:
  // Reads lines up to the system information line or the end of the reply.
  void read_reply (Vok_Connection &connection, Vok_Logon_Reply &reply) const;
  // Files one line; true when it ends the reply.
  static bool take_line (std::string line, Vok_Logon_Reply &reply);

  std::size_t max_lines_;
};

#endif
