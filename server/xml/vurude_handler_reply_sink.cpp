#include "vurude_handler_reply_sink.h"

#include "vurude_base_handler.h"

#include <string>

static_assert (Vurude_Xml_Reply_Sink::max_message_units == Vurude_Base_Handler::format_units - 4,
               "\"E,\", the message, \"\\n\" and the terminator fill a formatted line");

Vurude_Handler_Reply_Sink::Vurude_Handler_Reply_Sink (Vurude_Base_Handler &handler)
  : handler_ (handler)
{
}

void Vurude_Handler_Reply_Sink::error_reply (std::u16string_view message)
{
  handler_.send_error (message, 0);
}

void Vurude_Handler_Reply_Sink::error_reply (std::string_view message)
{
  // The single-byte line is a C string: it ends at the first zero byte.
  const std::string text (message.substr (0, message.find ('\0')));
  handler_.send_error (text.c_str (), 0);
}
