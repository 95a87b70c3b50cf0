#ifndef VOK_CONNECTION_OPTIONS_H
#define VOK_CONNECTION_OPTIONS_H

#include "vok_greeting.h"
#include "vok_request_framer.h"

#include <chrono>
#include <cstddef>

// The settings of one connection; the defaults suit the main port.
struct Vok_Connection_Options
{
  Vok_Greeting_Form greeting = Vok_Greeting_Form::padded;
  // Until the TCP connection stands (name resolution not included).
  std::chrono::milliseconds connect_timeout {10000};
  // The longest wait of one operation: the greeting, one line, one record,
  // the "OK" after a continuation line, the sending of one request line;
  // for reads of many lines or of everything until the server closes, the
  // longest silence.
  std::chrono::milliseconds reply_timeout {30000};
  // Bytes of a request line on the wire, its ending included.
  std::size_t max_request_line = Vok_Request_Framer::default_line_bytes;
  // The longest text line accepted from the server, its line feed included.
  std::size_t max_line_bytes = 65536;
  // The largest record accepted from a data connection, flag byte included.
  std::size_t max_record_bytes = 1 << 20;
};

#endif
