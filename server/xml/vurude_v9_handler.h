#ifndef VURUDE_V9_HANDLER_H
#define VURUDE_V9_HANDLER_H

#include "vurude_base_handler.h"

// A connection of the main port, where clients send XML requests: each
// request text is parsed as a request document, turned into the request
// object of its root element and driven through attribute parsing, opening
// the RFC connection and the call.
class Vurude_V9_Handler : public Vurude_Base_Handler
{
public:
  using Vurude_Base_Handler::Vurude_Base_Handler;

  // Vurude_Base_Handler
  // Worker thread: one request document. 0 keeps the connection; 13 after
  // a request answered once, 1 after a document that does not parse, -1
  // after an unknown request type or a failed logon, else the request's
  // failure code.
  int handle_mb (ACE_Message_Block *request) override;
  // Worker thread of a data connection: serves the background job of the
  // owner's request, registered with the logon's gateway values.
  int handle_batch () override;
};

#endif
