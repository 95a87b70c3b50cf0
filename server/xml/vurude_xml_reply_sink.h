#ifndef VURUDE_XML_REPLY_SINK_H
#define VURUDE_XML_REPLY_SINK_H

#include <cstddef>
#include <string_view>

// Where the request-document parse sends its error replies. A connection
// sends each as the line "E,<message>\n"; tests collect them.
class Vurude_Xml_Reply_Sink
{
public:
  // The longest message a connection's error line carries whole.
  static constexpr std::size_t max_message_units = 1020;

  virtual ~Vurude_Xml_Reply_Sink () = default;

  // An error reply of UTF-16 text.
  virtual void error_reply (std::u16string_view message) = 0;
  // An error reply of single-byte text, sent as it stands.
  virtual void error_reply (std::string_view message) = 0;
};

#endif
