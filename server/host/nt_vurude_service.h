#ifndef NT_VURUDE_SERVICE_H
#define NT_VURUDE_SERVICE_H

#include "managed_service.h"
#include "nt_vurude_service_options.h"

#include <ace/Singleton.h>
#include <ace/Mutex.h>


// The server as a service: svc() runs the server until a stop control ends
// the event loop, in a console process or in a process the service manager
// started.
class nt_vurude_service : public Managed_Service
{
public:
  // The process's own options and the machine's service manager.
  nt_vurude_service ();
  nt_vurude_service (Platform_Options &options, Service_Manager &manager);
  ~nt_vurude_service () override;

  // ACE_Shared_Object hooks
  // With exactly one argument, that is the name the manager started the
  // service under. Returns 0.
  int init (int argc, ACE_TCHAR *argv[]) override;

  // ACE_Task hooks
  // Runs the server; returns the start-up's result, with its error number
  // kept when it failed.
  int svc () override;

  // Managed_Service hooks
  // Stop and shutdown end the event loop; others go to the base.
  int handle_control (int control) override;

  Platform_Options &options () { return options_; }

private:
  Platform_Options &options_;
};

typedef ACE_Singleton<nt_vurude_service, ACE_Mutex> SERVICE;

#endif
