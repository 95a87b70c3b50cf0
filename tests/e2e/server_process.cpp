#include "server_process.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

using namespace std::chrono_literals;

int free_tcp_port ()
{
  const int fd = ::socket (AF_INET, SOCK_STREAM, 0);
  sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl (INADDR_ANY);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind (fd, reinterpret_cast<sockaddr *> (&address), sizeof address) != 0
      || ::getsockname (fd, reinterpret_cast<sockaddr *> (&address), &length) != 0)
    {
      if (fd >= 0)
        ::close (fd);
      return -1;
    }
  ::close (fd);
  return ntohs (address.sin_port);
}

bool Server_Process::start (std::vector<std::string> extra, std::string &error, int port)
{
  port_ = port > 0 ? port : free_tcp_port ();
  std::vector<std::string> argv {VURUDE_SERVER_EXE, "-d", "3", "-p", std::to_string (port_)};
  argv.insert (argv.end (), extra.begin (), extra.end ());
  if (!process_.start (argv, error))
    return false;
  if (!process_.wait_for_stderr ("Listening on port " + std::to_string (port_), 30s))
    {
      error = "the server did not listen: " + process_.stderr_text ();
      return false;
    }
  return true;
}

namespace
{
int count_entries (const std::string &path)
{
  DIR *dir = ::opendir (path.c_str ());
  if (!dir)
    return -1;
  int count = 0;
  while (const dirent *entry = ::readdir (dir))
    if (entry->d_name[0] != '.')
      ++count;
  ::closedir (dir);
  return count;
}
}

int Server_Process::thread_count () const
{
  return count_entries ("/proc/" + std::to_string (process_.pid ()) + "/task");
}

int Server_Process::descriptor_count () const
{
  return count_entries ("/proc/" + std::to_string (process_.pid ()) + "/fd");
}

long Server_Process::resident_kib () const
{
  std::ifstream status ("/proc/" + std::to_string (process_.pid ()) + "/status");
  std::string line;
  while (std::getline (status, line))
    if (line.rfind ("VmRSS:", 0) == 0)
      return std::strtol (line.c_str () + 6, nullptr, 10);
  return -1;
}
