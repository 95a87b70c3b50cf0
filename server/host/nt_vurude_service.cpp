#include "nt_vurude_service.h"

#include "systemd_service_manager.h"
#include "utf16_text.h"
#include "vurude_service.h"

#include <ace/ARGV.h>
#include <ace/Log_Msg.h>
#include <ace/Logging_Strategy.h>
#include <ace/Reactor.h>
#include <ace/Thread.h>

#include <cerrno>
#include <memory>

namespace
{
Service_Manager &system_manager ()
{
  static Systemd_Service_Manager manager;
  return manager;
}
}

nt_vurude_service::nt_vurude_service ()
  : Managed_Service (system_manager ()),
    options_ (*OPTIONS::instance ())
{
}

nt_vurude_service::nt_vurude_service (Platform_Options &options, Service_Manager &manager)
  : Managed_Service (manager), options_ (options)
{
}

nt_vurude_service::~nt_vurude_service () = default;

int nt_vurude_service::init (int argc, ACE_TCHAR *argv[])
{
  if (argc == 1)
    {
      options_.service_name (utf16_from_utf8 (argv[0]));
      name (utf8_from_utf16 (options_.service_name ()), utf8_from_utf16 (options_.service_desc ()));
    }
  return 0;
}

int nt_vurude_service::svc ()
{
  std::unique_ptr<ACE_Logging_Strategy> logging;
  if (options_.debug_level () == 0 && report_status (SERVICE_RUNNING) == 0)
    {
      // The main thread made the reactor; only its owner may run the loop.
      ACE_Reactor::instance ()->owner (ACE_Thread::self ());
      logging.reset (new ACE_Logging_Strategy);
      const std::string arguments = "-f SYSLOG -k " + name () + " -n " + name ();
      ACE_ARGV words (arguments.c_str ());
      logging->init (words.argc (), words.argv ());
      options_.get_registry ();
    }

  ACE_DEBUG ((LM_INFO, "%D(%P|%t) vurude_service 4.2 Unicode 2009-03-19 starting\n"));
  const int result = Vurude_Service (options_).run ();
  // A failed start's error number becomes the service's exit code: keep it
  // past the logging below.
  const int error = errno;
  ACE_DEBUG ((LM_INFO, "%D(%P|%t) vurude_service 4.2 Unicode 2009-03-19 stopping\n"));
  if (logging)
    logging->fini ();
  errno = error;
  return result;
}

int nt_vurude_service::handle_control (int control)
{
  switch (control)
    {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      report_status (SERVICE_STOP_PENDING, 1);
      ACE_Reactor::instance ()->end_reactor_event_loop ();
      report_status (SERVICE_STOPPED);
      return 0;
    default:
      return Managed_Service::handle_control (control);
    }
}
