#ifndef VURUDE_V9_HANDLER_H
#define VURUDE_V9_HANDLER_H

#include "vurude_base_handler.h"

// A connection of the main port, where clients send XML requests.
class Vurude_V9_Handler : public Vurude_Base_Handler
{
public:
  using Vurude_Base_Handler::Vurude_Base_Handler;
};

#endif
