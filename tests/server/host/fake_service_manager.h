#ifndef VURUDE_TEST_FAKE_SERVICE_MANAGER_H
#define VURUDE_TEST_FAKE_SERVICE_MANAGER_H

#include "service_manager.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// An in-process service manager: keeps installed services in a map, plays
// the start and stop of a service as a scripted sequence of states, and, when
// told the process was started by it, runs the service main on a thread of
// its own and delivers controls to the registered handler.
class Fake_Service_Manager : public Service_Manager
{
public:
  // Service_Manager control commands
  int install (const Service_Definition &service) override;
  int remove (const std::string &name) override;
  int start (const std::string &name) override;
  int stop (const std::string &name) override;
  int set_start_type (const std::string &name, int start_type) override;
  int query_status (const std::string &name, Service_Status &status) override;

  // Service_Manager service side
  int run_dispatcher (Service_Main service_main) override;
  int register_control_handler (const std::string &name, Control_Handler handler) override;
  int report_status (const Service_Status &status) override;

  // Test controls
  std::map<std::string, Service_Definition> services;
  // States query_status reports one after another after a start or stop;
  // the last one repeats.
  std::vector<Service_Status> start_script;
  std::vector<Service_Status> stop_script;
  bool fail_commands = false;
  bool started_by_manager = false;
  std::string start_argument;
  std::string control_handler_name;

  // Blocks until the service has reported `state`.
  void wait_for_report (int state);
  // Delivers a control as the manager's dispatcher would.
  void send_control (int control);
  std::vector<Service_Status> reports ();
  int queries = 0;

private:
  std::vector<Service_Status> *script_ = nullptr;
  std::size_t script_position_ = 0;
  Control_Handler handler_ = nullptr;
  std::mutex lock_;
  std::condition_variable reported_;
  std::vector<Service_Status> reports_;
};

#endif
