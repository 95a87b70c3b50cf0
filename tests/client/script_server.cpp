#include "script_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace
{
// The longest a step waits for the client.
constexpr int step_timeout_ms = 10000;

bool wait_readable (int fd)
{
  pollfd entry {fd, POLLIN, 0};
  int result;
  do
    result = ::poll (&entry, 1, step_timeout_ms);
  while (result < 0 && errno == EINTR);
  return result > 0;
}

bool send_all (int fd, std::string_view bytes)
{
  while (!bytes.empty ())
    {
      const ssize_t sent = ::send (fd, bytes.data (), bytes.size (), MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR)
        continue;
      if (sent <= 0)
        return false;
      bytes.remove_prefix (static_cast<std::size_t> (sent));
    }
  return true;
}

std::string printable (std::string_view bytes)
{
  std::string out;
  for (unsigned char c : bytes)
    if (c >= ' ' && c < 0x7F && c != '\\')
      out += static_cast<char> (c);
    else
      {
        char code[8];
        std::snprintf (code, sizeof code, "\\x%02X", c);
        out += code;
      }
  return out;
}
}

Script_Step send (std::string bytes)
{
  return {Script_Step::Kind::send, std::move (bytes)};
}

Script_Step send_bytewise (std::string bytes)
{
  return {Script_Step::Kind::send_bytewise, std::move (bytes)};
}

Script_Step expect (std::string bytes)
{
  return {Script_Step::Kind::expect, std::move (bytes)};
}

Script_Step expect_closed ()
{
  return {Script_Step::Kind::expect_closed, {}};
}

Script_Step close_connection ()
{
  return {Script_Step::Kind::close, {}};
}

std::string padded_greeting (std::string_view handle)
{
  std::string greeting (handle);
  greeting.resize (129, ' ');
  return greeting + "\n";
}

Script_Server::Script_Server (std::vector<Script_Step> script)
  : Script_Server (Connection_Scripts {{std::move (script)}})
{
}

Script_Server::Script_Server (Connection_Scripts scripts)
  : several_ (scripts.scripts.size () > 1)
{
  listener_ = ::socket (AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0
      || ::bind (listener_, reinterpret_cast<sockaddr *> (&address), sizeof address) != 0
      || ::listen (listener_, 8) != 0
      || ::getsockname (listener_, reinterpret_cast<sockaddr *> (&address), &length) != 0)
    {
      faults_ = std::string ("cannot listen: ") + std::strerror (errno) + "\n";
      return;
    }
  port_ = ntohs (address.sin_port);
  thread_ = std::thread (&Script_Server::accept_all, this, std::move (scripts.scripts));
}

Script_Server::~Script_Server ()
{
  finish ();
}

std::string Script_Server::finish ()
{
  if (thread_.joinable ())
    thread_.join ();
  if (listener_ >= 0)
    ::close (listener_);
  listener_ = -1;
  const std::lock_guard<std::mutex> lock (faults_mutex_);
  return faults_;
}

void Script_Server::fault (const std::string &text)
{
  const std::lock_guard<std::mutex> lock (faults_mutex_);
  faults_ += text + "\n";
}

void Script_Server::accept_all (std::vector<std::vector<Script_Step>> scripts)
{
  std::vector<std::thread> players;
  for (std::size_t i = 0; i < scripts.size (); ++i)
    {
      const std::string which = several_ ? "connection " + std::to_string (i + 1) + ": " : "";
      if (!wait_readable (listener_))
        {
          fault (which + "no client connected");
          break;
        }
      const int fd = ::accept4 (listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0)
        {
          fault (which + "accept failed: " + std::strerror (errno));
          break;
        }
      players.emplace_back (&Script_Server::play, this, fd, i, std::move (scripts[i]));
    }
  for (std::thread &player : players)
    player.join ();
}

void Script_Server::play (int fd, std::size_t connection, std::vector<Script_Step> script)
{
  const std::string where = several_ ? "connection " + std::to_string (connection + 1) + ": " : "";
  // Every send leaves at once as a segment of its own.
  const int one = 1;
  ::setsockopt (fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  for (const Script_Step &step : script)
    if (!play_step (fd, step, where))
      break;
  ::close (fd);
}

bool Script_Server::play_step (int fd, const Script_Step &step, const std::string &where)
{
  switch (step.kind)
    {
    case Script_Step::Kind::send:
      if (!send_all (fd, step.bytes))
        fault (where + "cannot send \"" + printable (step.bytes) + "\"");
      return true;
    case Script_Step::Kind::send_bytewise:
      for (char c : step.bytes)
        if (!send_all (fd, std::string_view (&c, 1)))
          {
            fault (where + "cannot send \"" + printable (step.bytes) + "\"");
            break;
          }
      return true;
    case Script_Step::Kind::expect:
      {
        std::string got;
        char buffer[4096];
        while (got.size () < step.bytes.size () && wait_readable (fd))
          {
            const ssize_t n = ::recv (fd, buffer, std::min (sizeof buffer, step.bytes.size () - got.size ()), 0);
            if (n <= 0)
              break;
            got.append (buffer, static_cast<std::size_t> (n));
          }
        if (got != step.bytes)
          {
            fault (where + "expected \"" + printable (step.bytes) + "\", got \"" + printable (got) + "\"");
            return false;
          }
        return true;
      }
    case Script_Step::Kind::expect_closed:
      {
        std::string got;
        char buffer[4096];
        for (;;)
          {
            if (!wait_readable (fd))
              {
                fault (where + "the client did not close the connection");
                break;
              }
            const ssize_t n = ::recv (fd, buffer, sizeof buffer, 0);
            if (n <= 0)
              break;
            got.append (buffer, static_cast<std::size_t> (n));
          }
        if (!got.empty ())
          fault (where + "unexpected bytes from the client: \"" + printable (got) + "\"");
        return true;
      }
    case Script_Step::Kind::close:
      return false;
    }
  return false;
}
