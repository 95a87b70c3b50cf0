#ifndef VURUDE_COMPAT_HANDLER_H
#define VURUDE_COMPAT_HANDLER_H

#include "vurude_base_handler.h"

// A connection of the dialog-compatibility port, where clients of the
// previous generation send line commands.
class Vurude_Compat_Handler : public Vurude_Base_Handler
{
public:
  using Vurude_Base_Handler::Vurude_Base_Handler;

  // Vurude_Base_Handler hooks
  // Greets with "HANDLE <handle>\n".
  int send_handle () override;
};

#endif
