#ifndef VOK_STATUS_H
#define VOK_STATUS_H

#include <string>
#include <string_view>

// What became of one client library operation.
enum class Vok_Result
{
  ok,
  timed_out,         // nothing (or not enough) arrived in time; nothing read was lost
  closed,            // the server closed the connection (end of file)
  too_long,          // a line, reply or record exceeds its bound; nothing read was lost
  rejected,          // the server answered something other than "OK" to a continuation line
  bad_greeting,      // the first line of the connection is not a greeting of the expected form
  bad_record,        // a data record whose flag byte does not fit its content
  invalid_argument,  // the caller's request or options cannot be sent as asked
  connect_failed,    // no address of the host accepted the connection
  not_connected,     // the connection is not open
  io_error           // the operating system reported a failure
};

// The name of a result, for messages ("timed_out").
const char *vok_result_name (Vok_Result result);

// The result of an operation with a text for people and, when the server
// answered something unexpected, the server's line as it came.
class Vok_Status
{
public:
  Vok_Status () = default;  // success
  Vok_Status (Vok_Result result, std::string message, std::string server_reply = {});

  bool ok () const { return result_ == Vok_Result::ok; }
  Vok_Result result () const { return result_; }
  const std::string &message () const { return message_; }
  // The line the server sent in place of the expected one (without its line
  // feed); empty unless the result is `rejected`.
  const std::string &server_reply () const { return server_reply_; }

private:
  Vok_Result result_ = Vok_Result::ok;
  std::string message_;
  std::string server_reply_;
};

#endif
