#ifndef VURUDE_HANDLER_REPLY_SINK_H
#define VURUDE_HANDLER_REPLY_SINK_H

#include "vurude_xml_reply_sink.h"

class Vurude_Base_Handler;

// Sends the request-document replies on a client connection, through the
// handler's error lines (no error record on a partner).
class Vurude_Handler_Reply_Sink : public Vurude_Xml_Reply_Sink
{
public:
  explicit Vurude_Handler_Reply_Sink (Vurude_Base_Handler &handler);

  // Vurude_Xml_Reply_Sink
  void error_reply (std::u16string_view message) override;
  void error_reply (std::string_view message) override;

private:
  Vurude_Base_Handler &handler_;
};

#endif
