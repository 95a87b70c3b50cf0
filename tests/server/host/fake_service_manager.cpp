#include "fake_service_manager.h"

#include <cerrno>
#include <thread>

int Fake_Service_Manager::install (const Service_Definition &service)
{
  if (fail_commands || services.count (service.name))
    {
      errno = EEXIST;
      return -1;
    }
  services[service.name] = service;
  return 0;
}

int Fake_Service_Manager::remove (const std::string &name)
{
  if (fail_commands || !services.erase (name))
    {
      errno = ENOENT;
      return -1;
    }
  return 0;
}

int Fake_Service_Manager::start (const std::string &name)
{
  if (fail_commands || !services.count (name))
    {
      errno = ENOENT;
      return -1;
    }
  script_ = &start_script;
  script_position_ = 0;
  return 0;
}

int Fake_Service_Manager::stop (const std::string &name)
{
  if (fail_commands || !services.count (name))
    {
      errno = ENOENT;
      return -1;
    }
  script_ = &stop_script;
  script_position_ = 0;
  return 0;
}

int Fake_Service_Manager::set_start_type (const std::string &name, int start_type)
{
  if (fail_commands || !services.count (name))
    {
      errno = ENOENT;
      return -1;
    }
  services[name].start_type = start_type;
  return 0;
}

int Fake_Service_Manager::query_status (const std::string &name, Service_Status &status)
{
  ++queries;
  if (!services.count (name) || !script_ || script_->empty ())
    {
      errno = ENOENT;
      return -1;
    }
  status = (*script_)[std::min (script_position_, script_->size () - 1)];
  ++script_position_;
  return 0;
}

int Fake_Service_Manager::run_dispatcher (Service_Main service_main)
{
  if (!started_by_manager)
    {
      errno = ENOTCONN;
      return -1;
    }
  std::thread service_thread ([&] {
    char *argv[] = {start_argument.data (), nullptr};
    service_main (1, argv);
  });
  service_thread.join ();
  return 0;
}

int Fake_Service_Manager::register_control_handler (const std::string &name, Control_Handler handler)
{
  std::lock_guard<std::mutex> guard (lock_);
  control_handler_name = name;
  handler_ = handler;
  return 0;
}

int Fake_Service_Manager::report_status (const Service_Status &status)
{
  std::lock_guard<std::mutex> guard (lock_);
  reports_.push_back (status);
  reported_.notify_all ();
  return 0;
}

void Fake_Service_Manager::wait_for_report (int state)
{
  std::unique_lock<std::mutex> guard (lock_);
  reported_.wait (guard, [&] {
    for (const auto &r : reports_)
      if (r.current_state == state)
        return true;
    return false;
  });
}

void Fake_Service_Manager::send_control (int control)
{
  Control_Handler handler;
  {
    std::lock_guard<std::mutex> guard (lock_);
    handler = handler_;
  }
  if (handler)
    handler (control);
}

std::vector<Service_Status> Fake_Service_Manager::reports ()
{
  std::lock_guard<std::mutex> guard (lock_);
  return reports_;
}
