#ifndef VURUDE_MANAGED_SERVICE_H
#define VURUDE_MANAGED_SERVICE_H

#include "service_manager.h"

#include <ace/Synch_Traits.h>
#include <ace/Task.h>
#include <ace/Thread_Mutex.h>

#include <string>

// A service of the operating system's service manager: the commands that
// install, remove, start, stop and reconfigure it, and, inside the service
// process, the state reports around its worker operation svc().
class Managed_Service : public ACE_Task<ACE_MT_SYNCH>
{
public:
  Managed_Service (Service_Manager &manager, int start_timeout_ms = 5000);

  void name (const std::string &name, const std::string &display_name);
  const std::string &name () const { return name_; }
  const std::string &display_name () const { return display_name_; }

  // Control commands; each returns 0 or -1.
  int insert (int start_type, const std::string &executable_path);
  int remove ();
  int startup (int start_type);
  // Start or stop, then wait for the state.
  int start_svc ();
  int stop_svc ();

  // Service side
  int register_control_handler (const std::string &handler_name,
                                Service_Manager::Control_Handler handler);
  // Reports START_PENDING, runs svc() and records its exit codes.
  int open (void *args = nullptr) override;
  // Reports SERVICE_STOPPED with the recorded exit codes.
  int fini () override;
  // The Win32 exit code open() recorded; NO_ERROR_EXIT before any run.
  int exit_code ();
  // Answers controls the service does not handle itself with a status report.
  virtual int handle_control (int control);
  // 0 when the manager took the report; -1 without a status handle or on failure.
  int report_status (int new_state, int increment_check_point = 0);

  Service_Manager &manager () { return manager_; }

protected:
  // Polls until `desired` or until the service stops making progress.
  int wait_for_service_state (int desired);

  Service_Manager &manager_;
  // The control handler reports from the manager's thread while the service
  // thread reports too.
  ACE_Thread_Mutex status_lock_;
  Service_Status status_;
  int start_timeout_ms_;
  bool has_status_handle_ = false;
  std::string name_;
  std::string display_name_;
};

#endif
