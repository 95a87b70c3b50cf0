#include "vurude_reactor.h"

#include <ace/ACE.h>

Vurude_Reactor::Vurude_Reactor ()
  // Restart waits that a signal interrupts: an interrupted wait would
  // otherwise end the event loop, and with it the server.
  : implementation_ (ACE::max_handles (), true),
    reactor_ (&implementation_)
{
}
