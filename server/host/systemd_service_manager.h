#ifndef VURUDE_SYSTEMD_SERVICE_MANAGER_H
#define VURUDE_SYSTEMD_SERVICE_MANAGER_H

#include "service_manager.h"
#include "signal_watcher.h"

#include <string>
#include <vector>

// The service manager of a systemd machine. A service is a unit file
// "<name>.service" (Type=notify) in the unit folder; its start type is the
// unit's enablement, and "disabled" adds a drop-in that refuses manual
// starts. A process that systemd started runs as the service: it reports its
// states through sd_notify and takes SIGTERM as the stop control.
class Systemd_Service_Manager : public Service_Manager
{
public:
  explicit Systemd_Service_Manager (std::string unit_folder = "/etc/systemd/system",
                                    std::string systemctl = "systemctl");

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

  // The unit file text an install writes.
  static std::string unit_text (const Service_Definition &service);

private:
  std::string unit_path (const std::string &name) const;
  std::string drop_in_folder (const std::string &name) const;
  int apply_start_type (const std::string &name, int start_type);
  int systemctl (std::vector<std::string> arguments, std::string *output = nullptr);

  std::string unit_folder_;
  std::string systemctl_;
  Control_Handler control_handler_ = nullptr;
};

// A systemd unit name: letters, digits and ":-_.\" only, at most 250 bytes.
bool valid_unit_name (const std::string &name);

#endif
