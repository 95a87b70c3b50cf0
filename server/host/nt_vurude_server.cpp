#include "nt_vurude_server.h"

#include "nt_vurude_service.h"
#include "signal_watcher.h"
#include "utf16_text.h"

#include <ace/Log_Msg.h>
#include <ace/OS_Log_Msg_Attributes.h>
#include <ace/OS_NS_errno.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <unistd.h>

namespace
{
// The service object that service_main runs, and the log settings its
// thread inherits; set by the process entry before the dispatcher starts.
std::atomic<nt_vurude_service *> the_service {nullptr};
ACE_OS_Log_Msg_Attributes log_attributes;

void service_control_handler (int control)
{
  if (nt_vurude_service *service = the_service.load ())
    service->handle_control (control);
}

std::string executable_path ()
{
  char path[PATH_MAX];
  const ssize_t n = ::readlink ("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string (path, static_cast<std::size_t> (n)) : std::string ();
}

// Console mode: every terminal stop signal asks the server to stop; the
// process ends when svc returns, not in the signal. A start that failed
// (a port in use, no main listener) ends with svc's -1, so whoever started
// the process sees the failure in its exit status.
int run_console (nt_vurude_service &service)
{
  Signal_Watcher console ({SIGINT, SIGTERM, SIGHUP, SIGQUIT});
  if (console.start ([&service] (int) { service.handle_control (SERVICE_CONTROL_STOP); }) != 0)
    ACE_ERROR ((LM_ERROR, "%p\n", "console control handler"));
  const int result = service.svc ();
  console.stop ();
  return result;
}
}

void service_main (int argc, ACE_TCHAR *argv[])
{
  std::unique_ptr<nt_vurude_service> created;
  nt_vurude_service *service = the_service.load ();
  if (!service)
    {
      created.reset (new nt_vurude_service);
      service = created.get ();
      the_service = service;
    }
  else
    ACE_Log_Msg::inherit_hook (nullptr, log_attributes);

  service->init (argc, argv);
  service->register_control_handler ("NT VOK RFC Service", service_control_handler);
  service->open ();
  service->wait ();
  service->fini ();
  the_service = nullptr;
}

int dispatch_command (int argc, ACE_TCHAR *argv[], nt_vurude_service &service)
{
  Platform_Options &options = service.options ();
  options.parse_args (argc, argv, 1);
  options.set_log_mask ();
  service.name (utf8_from_utf16 (options.service_name ()), utf8_from_utf16 (options.service_desc ()));

  if (options.install_requested () && !options.remove_requested ())
    {
      if (service.insert (options.startup_type (), executable_path ()) != 0)
        ACE_ERROR_RETURN ((LM_ERROR, "ERROR installing service.\n"), -1);
      return options.set_registry ();
    }
  if (options.remove_requested () && !options.install_requested ())
    {
      if (service.remove () != 0)
        ACE_ERROR_RETURN ((LM_ERROR, "ERROR removing service.\n"), -1);
      return 0;
    }

  if (options.start_requested () && options.kill_requested ())
    options.usage (argc > 0 ? argv[0] : "");
  int result = 1;
  if (options.start_requested ())
    result = service.start_svc ();
  else if (options.kill_requested ())
    result = service.stop_svc ();
  else if (options.set_startup_requested ())
    result = service.startup (options.startup_type ());
  if (result != 1)
    {
      if (result != 0)
        ACE_ERROR_RETURN ((LM_ERROR, "ERROR starting service.\n"), -1);
      return 0;
    }

  if (options.debug_level () != 0)
    return run_console (service);

  the_service = &service;
  ACE_Log_Msg::init_hook (log_attributes);
  ACE_OS::last_error (0);
  if (service.manager ().run_dispatcher (service_main) != 0)
    ACE_ERROR ((LM_ERROR, "%p\n", "Couldn't start service"));
  // The last status report carried the failure of a start; the exit status
  // says it too, so the manager counts the service as failed, not as ended.
  return service.exit_code () == NO_ERROR_EXIT ? 0 : -1;
}
