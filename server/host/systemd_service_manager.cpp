#include "systemd_service_manager.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-login.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace
{
const char drop_in_name[] = "start-type.conf";

// A display name may come from anywhere: keep it on one line and stop
// systemd from expanding "%" specifiers in it.
std::string unit_description (const std::string &text)
{
  std::string out;
  for (const char c : text)
    {
      if (static_cast<unsigned char> (c) < 0x20 || c == 0x7F)
        out += ' ';
      else if (c == '%')
        out += "%%";
      else
        out += c;
    }
  return out;
}

int write_file (const std::string &path, const std::string &text)
{
  std::ofstream out (path, std::ios::trunc);
  if (!(out << text) || !out.flush ())
    {
      if (errno == 0)
        errno = EIO;
      return -1;
    }
  return 0;
}

bool exists (const std::string &path)
{
  struct stat st;
  return ::stat (path.c_str (), &st) == 0;
}

// Runs a program with its standard output collected into `output` (when
// given); returns its exit status, or -1 with errno set when it cannot run.
int run_program (const std::vector<std::string> &arguments, std::string *output)
{
  std::vector<char *> argv;
  for (const auto &a : arguments)
    argv.push_back (const_cast<char *> (a.c_str ()));
  argv.push_back (nullptr);

  int pipe_fds[2];
  if (::pipe2 (pipe_fds, O_CLOEXEC) != 0)
    return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init (&actions);
  posix_spawn_file_actions_adddup2 (&actions, pipe_fds[1], STDOUT_FILENO);
  pid_t pid;
  const int spawned = ::posix_spawnp (&pid, argv[0], &actions, nullptr, argv.data (), environ);
  posix_spawn_file_actions_destroy (&actions);
  ::close (pipe_fds[1]);
  if (spawned != 0)
    {
      ::close (pipe_fds[0]);
      errno = spawned;
      return -1;
    }
  char buffer[4096];
  for (ssize_t n; (n = ::read (pipe_fds[0], buffer, sizeof buffer)) != 0;)
    {
      if (n < 0)
        {
          if (errno == EINTR)
            continue;
          break;
        }
      if (output)
        output->append (buffer, static_cast<std::size_t> (n));
    }
  ::close (pipe_fds[0]);
  int status;
  while (::waitpid (pid, &status, 0) < 0)
    if (errno != EINTR)
      return -1;
  if (!WIFEXITED (status))
    {
      errno = ECHILD;
      return -1;
    }
  return WEXITSTATUS (status);
}

int state_of (const std::string &active_state)
{
  if (active_state == "active" || active_state == "reloading")
    return SERVICE_RUNNING;
  if (active_state == "activating")
    return SERVICE_START_PENDING;
  if (active_state == "deactivating")
    return SERVICE_STOP_PENDING;
  return SERVICE_STOPPED;
}
}

bool valid_unit_name (const std::string &name)
{
  if (name.empty () || name.size () > 250)
    return false;
  for (const char c : name)
    if (!(std::isalnum (static_cast<unsigned char> (c)) || std::strchr (":-_.\\", c)))
      return false;
  return true;
}

Systemd_Service_Manager::Systemd_Service_Manager (std::string unit_folder, std::string systemctl)
  : unit_folder_ (std::move (unit_folder)), systemctl_ (std::move (systemctl))
{
}

std::string Systemd_Service_Manager::unit_path (const std::string &name) const
{
  return unit_folder_ + "/" + name + ".service";
}

std::string Systemd_Service_Manager::drop_in_folder (const std::string &name) const
{
  return unit_folder_ + "/" + name + ".service.d";
}

std::string Systemd_Service_Manager::unit_text (const Service_Definition &service)
{
  return "# Written by \"vurude_server -i\"; \"vurude_server -r\" removes it.\n"
         "[Unit]\n"
         "Description=" + unit_description (service.display_name) + "\n"
         "After=network-online.target\n"
         "Wants=network-online.target\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "NotifyAccess=main\n"
         "ExecStart=\"" + service.executable_path + "\"\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
}

int Systemd_Service_Manager::systemctl (std::vector<std::string> arguments, std::string *output)
{
  arguments.insert (arguments.begin (), systemctl_);
  const int status = run_program (arguments, output);
  if (status > 0)
    errno = EPROTO;
  return status == 0 ? 0 : -1;
}

int Systemd_Service_Manager::apply_start_type (const std::string &name, int start_type)
{
  const std::string folder = drop_in_folder (name);
  const std::string drop_in = folder + "/" + drop_in_name;
  if (start_type == SERVICE_DISABLED)
    {
      if ((::mkdir (folder.c_str (), 0755) != 0 && errno != EEXIST)
          || write_file (drop_in, "# Start type \"disabled\": no manual starts either.\n"
                                  "[Unit]\nRefuseManualStart=yes\n") != 0)
        return -1;
    }
  else if (exists (drop_in))
    {
      ::unlink (drop_in.c_str ());
      ::rmdir (folder.c_str ());
    }
  if (systemctl ({"daemon-reload"}) != 0)
    return -1;
  return systemctl ({start_type == SERVICE_AUTO_START ? "enable" : "disable",
                     "--quiet", name + ".service"});
}

int Systemd_Service_Manager::install (const Service_Definition &service)
{
  if (!valid_unit_name (service.name)
      || service.start_type < SERVICE_AUTO_START || service.start_type > SERVICE_DISABLED)
    {
      errno = EINVAL;
      return -1;
    }
  const std::string path = unit_path (service.name);
  if (exists (path))
    {
      errno = EEXIST;
      return -1;
    }
  if (write_file (path, unit_text (service)) != 0)
    return -1;
  if (apply_start_type (service.name, service.start_type) != 0)
    {
      const int reason = errno;
      remove (service.name);
      errno = reason;
      return -1;
    }
  return 0;
}

int Systemd_Service_Manager::remove (const std::string &name)
{
  const std::string path = unit_path (name);
  if (!valid_unit_name (name) || !exists (path))
    {
      errno = ENOENT;
      return -1;
    }
  // A unit that was never enabled fails to disable; that is no reason to keep it.
  systemctl ({"disable", "--quiet", name + ".service"});
  const std::string folder = drop_in_folder (name);
  ::unlink ((folder + "/" + drop_in_name).c_str ());
  ::rmdir (folder.c_str ());
  if (::unlink (path.c_str ()) != 0)
    return -1;
  return systemctl ({"daemon-reload"});
}

int Systemd_Service_Manager::start (const std::string &name)
{
  if (!valid_unit_name (name))
    {
      errno = EINVAL;
      return -1;
    }
  return systemctl ({"start", name + ".service"});
}

int Systemd_Service_Manager::stop (const std::string &name)
{
  if (!valid_unit_name (name))
    {
      errno = EINVAL;
      return -1;
    }
  return systemctl ({"stop", name + ".service"});
}

int Systemd_Service_Manager::set_start_type (const std::string &name, int start_type)
{
  if (!valid_unit_name (name) || start_type < SERVICE_AUTO_START || start_type > SERVICE_DISABLED)
    {
      errno = EINVAL;
      return -1;
    }
  if (!exists (unit_path (name)))
    {
      errno = ENOENT;
      return -1;
    }
  return apply_start_type (name, start_type);
}

int Systemd_Service_Manager::query_status (const std::string &name, Service_Status &status)
{
  std::string output;
  if (!valid_unit_name (name)
      || systemctl ({"show", "--property=ActiveState", "--value", name + ".service"}, &output) != 0)
    return -1;
  while (!output.empty () && (output.back () == '\n' || output.back () == ' '))
    output.pop_back ();
  status = Service_Status {};
  status.current_state = state_of (output);
  return 0;
}

int Systemd_Service_Manager::run_dispatcher (Service_Main service_main)
{
  char *unit = nullptr;
  const bool by_systemd = std::getenv ("NOTIFY_SOCKET") != nullptr
    && sd_pid_get_unit (0, &unit) >= 0;
  std::string name = unit ? unit : "";
  std::free (unit);
  const std::string suffix = ".service";
  if (!by_systemd || name.size () <= suffix.size ()
      || name.compare (name.size () - suffix.size (), suffix.size (), suffix) != 0)
    {
      errno = ENOTCONN;
      return -1;
    }
  name.resize (name.size () - suffix.size ());

  // Block the stop signals before the service thread exists, so only the
  // watcher ever receives them.
  Signal_Watcher watcher ({SIGTERM, SIGINT});
  if (watcher.open () != 0)
    return -1;
  std::thread service_thread ([&] {
    char *argv[] = {name.data (), nullptr};
    service_main (1, argv);
    watcher.wake ();
  });
  for (int s; (s = watcher.wait ()) > 0;)
    if (control_handler_)
      control_handler_ (SERVICE_CONTROL_STOP);
  service_thread.join ();
  return 0;
}

int Systemd_Service_Manager::register_control_handler (const std::string &, Control_Handler handler)
{
  control_handler_ = handler;
  return 0;
}

int Systemd_Service_Manager::report_status (const Service_Status &status)
{
  std::string message;
  switch (status.current_state)
    {
    case SERVICE_START_PENDING:
      message = "STATUS=starting";
      break;
    case SERVICE_RUNNING:
      message = "READY=1\nSTATUS=running";
      break;
    case SERVICE_STOP_PENDING:
      message = "STOPPING=1\nSTATUS=stopping";
      break;
    default:
      message = "STATUS=stopped";
      if (status.win32_exit_code == ERROR_SERVICE_SPECIFIC_ERROR)
        message += "\nERRNO=" + std::to_string (status.service_specific_exit_code);
      else if (status.win32_exit_code != NO_ERROR_EXIT)
        message += "\nERRNO=" + std::to_string (status.win32_exit_code);
      break;
    }
  const int sent = sd_notify (0, message.c_str ());
  if (sent <= 0)
    {
      errno = sent < 0 ? -sent : ENOTCONN;
      return -1;
    }
  return 0;
}
