#include "server_process.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

int Server_Process::thread_count () const
{
  const std::string path = "/proc/" + std::to_string (process_.pid ()) + "/task";
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
