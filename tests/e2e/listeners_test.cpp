// The server's listeners and connections as a client meets them.
#include "server_process.h"

#include "vok_connection.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <set>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
bool greets (int port)
{
  Vok_Connection connection;
  return connection.connect ("127.0.0.1", static_cast<std::uint16_t> (port)).ok ()
    && connection.handle ().size () == 20;
}

// Waits for a server started to fail: it logs its refusal and exits with
// a non-zero status, so whoever started it sees the failure.
void expect_refused (vurude::test::ChildProcess &server, const std::string &message)
{
  EXPECT_TRUE (server.wait_for_stderr (message, 30s)) << server.stderr_text ();
  const auto status = server.wait_exit (30s);
  ASSERT_TRUE (status) << "still running: " << server.stderr_text ();
  EXPECT_TRUE (WIFEXITED (*status));
  EXPECT_NE (WEXITSTATUS (*status), 0);
}

// A port another program listens on, without any lock file of the server.
class Held_Port
{
public:
  Held_Port ()
  {
    sockaddr_in address {};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    fd_ = ::socket (AF_INET, SOCK_STREAM, 0);
    if (fd_ >= 0 && ::bind (fd_, reinterpret_cast<sockaddr *> (&address), sizeof address) == 0
        && ::listen (fd_, 1) == 0 && ::getsockname (fd_, reinterpret_cast<sockaddr *> (&address), &length) == 0)
      port_ = ntohs (address.sin_port);
  }
  ~Held_Port ()
  {
    if (fd_ >= 0)
      ::close (fd_);
  }
  Held_Port (const Held_Port &) = delete;
  Held_Port &operator= (const Held_Port &) = delete;

  int port () const { return port_; }

private:
  int fd_ = -1;
  int port_ = -1;
};

TEST (Listeners, SecondServerOnTheSameMainPortEndsAndTheFirstKeepsServing)
{
  Server_Process first;
  std::string error;
  ASSERT_TRUE (first.start ({}, error)) << error;

  vurude::test::ChildProcess second;
  ASSERT_TRUE (second.start ({VURUDE_SERVER_EXE, "-d", "1", "-p", std::to_string (first.port ())}, error)) << error;
  expect_refused (second, "Port " + std::to_string (first.port ()) + " already in use");
  EXPECT_EQ (second.stderr_text ().find ("Listening"), std::string::npos);

  EXPECT_TRUE (greets (first.port ()));
}

TEST (Listeners, DialogPortInUseEndsTheRunAfterTheMainListener)
{
  const int dialog_port = free_tcp_port ();
  Server_Process first;
  std::string error;
  ASSERT_TRUE (first.start ({"-c", std::to_string (dialog_port)}, error)) << error;

  vurude::test::ChildProcess second;
  const int main_port = free_tcp_port ();
  ASSERT_TRUE (second.start ({VURUDE_SERVER_EXE, "-d", "3", "-p", std::to_string (main_port), "-c",
                              std::to_string (dialog_port)}, error)) << error;
  expect_refused (second, "Dialog compatibility port " + std::to_string (dialog_port) + " already in use");
  EXPECT_NE (second.stderr_text ().find ("Listening on port " + std::to_string (main_port)), std::string::npos);

  Vok_Connection_Options compat;
  compat.greeting = Vok_Greeting_Form::handle_line;
  Vok_Connection dialog (compat);
  EXPECT_TRUE (dialog.connect ("127.0.0.1", static_cast<std::uint16_t> (dialog_port)).ok ());
  EXPECT_EQ (dialog.handle ().size (), 20u);
}

TEST (Listeners, SamePortForTwoListenersOfOneServerIsRefused)
{
  vurude::test::ChildProcess server;
  std::string error;
  const int port = free_tcp_port ();
  ASSERT_TRUE (server.start ({VURUDE_SERVER_EXE, "-d", "1", "-p", std::to_string (port), "-c",
                              std::to_string (port)}, error)) << error;
  expect_refused (server, "Port " + std::to_string (port) + " already in use");
}

TEST (Listeners, MainPortHeldByAnotherProgramFailsTheStart)
{
  Held_Port held;
  ASSERT_GT (held.port (), 0);
  vurude::test::ChildProcess server;
  std::string error;
  ASSERT_TRUE (server.start ({VURUDE_SERVER_EXE, "-d", "1", "-p", std::to_string (held.port ())}, error)) << error;
  expect_refused (server, "Cannot listen on port " + std::to_string (held.port ()) + ": ");
}

TEST (Listeners, DialogPortHeldByAnotherProgramLeavesTheMainListenerServing)
{
  Held_Port held;
  ASSERT_GT (held.port (), 0);
  Server_Process server;
  std::string error;
  ASSERT_TRUE (server.start ({"-c", std::to_string (held.port ())}, error)) << error;
  EXPECT_NE (server.process ().stderr_text ().find ("Cannot listen on dialog compatibility port "
                                                    + std::to_string (held.port ()) + ": "),
             std::string::npos)
    << server.process ().stderr_text ();
  EXPECT_TRUE (greets (server.port ()));
  EXPECT_TRUE (server.process ().running ());
}

TEST (Connections, ThousandClientsGetDistinctHandlesAndLeaveNoWorkerBehind)
{
  rlimit limit {};
  ::getrlimit (RLIMIT_NOFILE, &limit);
  limit.rlim_cur = std::max<rlim_t> (limit.rlim_cur, std::min<rlim_t> (limit.rlim_max, 4096));
  ::setrlimit (RLIMIT_NOFILE, &limit);
  ASSERT_GE (limit.rlim_cur, 1100u) << "this test needs more open files";

  Server_Process server;
  std::string error;
  ASSERT_TRUE (server.start ({}, error)) << error;
  const int idle_threads = server.thread_count ();

  std::vector<Vok_Connection> clients (1000);
  std::set<std::string> handles;
  for (auto &client : clients)
    {
      const Vok_Status status = client.connect ("127.0.0.1", static_cast<std::uint16_t> (server.port ()));
      ASSERT_TRUE (status.ok ()) << status.message ();
      handles.insert (client.handle ());
    }
  EXPECT_EQ (handles.size (), 1000u);
  EXPECT_EQ (server.thread_count (), idle_threads + 1000);

  clients.clear ();
  // Each worker notices its closed socket within about a second.
  const auto deadline = std::chrono::steady_clock::now () + 30s;
  while (server.thread_count () > idle_threads && std::chrono::steady_clock::now () < deadline)
    std::this_thread::sleep_for (100ms);
  EXPECT_EQ (server.thread_count (), idle_threads);
  EXPECT_TRUE (greets (server.port ()));
}
}
