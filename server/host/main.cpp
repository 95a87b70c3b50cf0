#include "nt_vurude_server.h"
#include "nt_vurude_service.h"
#include "vurude_reactor.h"

int ACE_TMAIN (int argc, ACE_TCHAR *argv[])
{
  // Lives on this stack for the whole process; installed without handing
  // over ownership.
  Vurude_Reactor event_loop;
  ACE_Reactor::instance (&event_loop.reactor ());

  const int result = dispatch_command (argc, argv, *SERVICE::instance ());
  ACE_Reactor::instance (nullptr);
  return result;
}
