#ifndef VURUDE_BCOMPAT_HANDLER_H
#define VURUDE_BCOMPAT_HANDLER_H

#include "vurude_compat_handler.h"

// A connection of the batch-compatibility port: the dialog-compatibility
// commands, with extractions run as background jobs.
class Vurude_Bcompat_Handler : public Vurude_Compat_Handler
{
public:
  using Vurude_Compat_Handler::Vurude_Compat_Handler;
};

#endif
