#ifndef VURUDE_SERVICE_MANAGER_H
#define VURUDE_SERVICE_MANAGER_H

#include <string>

// Service states, controls and exit codes, numbered as the service host has
// always reported them, whatever manager stands behind it.
enum Service_State
{
  SERVICE_STOPPED = 1,
  SERVICE_START_PENDING = 2,
  SERVICE_STOP_PENDING = 3,
  SERVICE_RUNNING = 4
};

enum Service_Control
{
  SERVICE_CONTROL_STOP = 1,
  SERVICE_CONTROL_INTERROGATE = 4,
  SERVICE_CONTROL_SHUTDOWN = 5
};

enum Service_Start_Type
{
  SERVICE_AUTO_START = 2,
  SERVICE_DEMAND_START = 3,
  SERVICE_DISABLED = 4
};

constexpr int SERVICE_ACCEPT_STOP = 1;
constexpr int NO_ERROR_EXIT = 0;
constexpr int ERROR_SERVICE_SPECIFIC_ERROR = 1066;

struct Service_Status
{
  int current_state = SERVICE_STOPPED;
  int controls_accepted = 0;
  int win32_exit_code = NO_ERROR_EXIT;
  int service_specific_exit_code = 0;
  int check_point = 0;
  int wait_hint = 0;                  // milliseconds
};

struct Service_Definition
{
  std::string name;
  std::string display_name;
  std::string executable_path;        // full path, no arguments
  int start_type = SERVICE_DEMAND_START;
};

// What the service host needs of the operating system's service manager:
// the control commands of an installer or operator, and the service side of
// a process that the manager started. Every operation returns 0, or -1 with
// errno set.
class Service_Manager
{
public:
  typedef void (*Service_Main) (int argc, char *argv[]);
  typedef void (*Control_Handler) (int control);

  virtual ~Service_Manager () = default;

  // Control commands
  virtual int install (const Service_Definition &service) = 0;
  virtual int remove (const std::string &name) = 0;
  // Asks for a start or a stop; the caller polls query_status for the result.
  virtual int start (const std::string &name) = 0;
  virtual int stop (const std::string &name) = 0;
  virtual int set_start_type (const std::string &name, int start_type) = 0;
  virtual int query_status (const std::string &name, Service_Status &status) = 0;

  // Service side
  // Runs service_main on a service thread with the service's start arguments
  // and delivers controls to the registered handler until the service thread
  // ends. Fails at once when the manager did not start this process.
  virtual int run_dispatcher (Service_Main service_main) = 0;
  virtual int register_control_handler (const std::string &name, Control_Handler handler) = 0;
  virtual int report_status (const Service_Status &status) = 0;
};

#endif
