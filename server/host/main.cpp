#include "nt_vurude_server.h"
#include "nt_vurude_service.h"

#include <ace/Reactor.h>
#include <ace/Select_Reactor.h>

int ACE_TMAIN (int argc, ACE_TCHAR *argv[])
{
  // Lives on this stack for the whole process; installed without handing
  // over ownership.
  ACE_Select_Reactor select_reactor;
  ACE_Reactor reactor (&select_reactor);
  ACE_Reactor::instance (&reactor);

  const int result = dispatch_command (argc, argv, *SERVICE::instance ());
  ACE_Reactor::instance (nullptr);
  return result;
}
