#include "managed_service.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_errno.h>

#include <cerrno>
#include <chrono>
#include <thread>

Managed_Service::Managed_Service (Service_Manager &manager, int start_timeout_ms)
  : manager_ (manager), start_timeout_ms_ (start_timeout_ms)
{
  status_.controls_accepted = SERVICE_ACCEPT_STOP;
}

void Managed_Service::name (const std::string &name, const std::string &display_name)
{
  name_ = name;
  display_name_ = display_name;
}

int Managed_Service::insert (int start_type, const std::string &executable_path)
{
  return manager_.install (Service_Definition {name_, display_name_, executable_path, start_type});
}

int Managed_Service::remove ()
{
  return manager_.remove (name_);
}

int Managed_Service::startup (int start_type)
{
  return manager_.set_start_type (name_, start_type);
}

int Managed_Service::start_svc ()
{
  if (manager_.start (name_) != 0)
    return -1;
  return wait_for_service_state (SERVICE_RUNNING);
}

int Managed_Service::stop_svc ()
{
  if (manager_.stop (name_) != 0)
    return -1;
  return wait_for_service_state (SERVICE_STOPPED);
}

int Managed_Service::wait_for_service_state (int desired)
{
  Service_Status previous;
  bool first = true;
  for (;;)
    {
      Service_Status current;
      if (manager_.query_status (name_, current) != 0)
        return -1;
      if (current.current_state == desired)
        return 0;
      if (!first && current.current_state == previous.current_state
          && current.check_point <= previous.check_point)
        {
          errno = ETIME;
          return -1;
        }
      first = false;
      previous = current;
      std::this_thread::sleep_for (std::chrono::milliseconds (current.wait_hint));
    }
}

int Managed_Service::register_control_handler (const std::string &handler_name,
                                               Service_Manager::Control_Handler handler)
{
  if (manager_.register_control_handler (handler_name, handler) != 0)
    return -1;
  has_status_handle_ = true;
  return 0;
}

int Managed_Service::report_status (int new_state, int increment_check_point)
{
  ACE_GUARD_RETURN (ACE_Thread_Mutex, guard, status_lock_, -1);
  status_.current_state = new_state;
  status_.controls_accepted = new_state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
  if (new_state == SERVICE_START_PENDING || new_state == SERVICE_STOP_PENDING)
    {
      status_.wait_hint = start_timeout_ms_;
      status_.check_point = increment_check_point ? status_.check_point + 1 : status_.check_point;
    }
  else
    {
      status_.wait_hint = 0;
      status_.check_point = 0;
    }
  // Without a status handle (a console process) there is nobody to tell.
  if (!has_status_handle_)
    return -1;
  return manager_.report_status (status_);
}

int Managed_Service::open (void *)
{
  report_status (SERVICE_START_PENDING, 1);
  errno = 0;
  const int result = svc ();
  const int error = errno;
  ACE_GUARD_RETURN (ACE_Thread_Mutex, guard, status_lock_, result);
  if (result == 0)
    {
      status_.win32_exit_code = NO_ERROR_EXIT;
      status_.service_specific_exit_code = 0;
    }
  else if (error != 0)
    {
      status_.win32_exit_code = ERROR_SERVICE_SPECIFIC_ERROR;
      status_.service_specific_exit_code = error;
    }
  else
    status_.win32_exit_code = ACE_OS::last_error ();
  return result;
}

int Managed_Service::fini ()
{
  report_status (SERVICE_STOPPED);
  return 0;
}

int Managed_Service::exit_code ()
{
  ACE_GUARD_RETURN (ACE_Thread_Mutex, guard, status_lock_, -1);
  return status_.win32_exit_code;
}

int Managed_Service::handle_control (int control)
{
  switch (control)
    {
    case SERVICE_CONTROL_INTERROGATE:
      {
        int state;
        {
          ACE_GUARD_RETURN (ACE_Thread_Mutex, guard, status_lock_, -1);
          state = status_.current_state;
        }
        report_status (state);
        return 0;
      }
    default:
      return -1;
    }
}
