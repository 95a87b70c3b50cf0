// connection_bench: what idle client connections cost vurude_server, and how
// fast it accepts and greets new ones. Starts the server itself on a free
// port (or measures one already running, --port), then
//   1. opens many connections at once, reads every greeting, checks that the
//      handles are distinct and reports the server's resident memory per idle
//      connection (VmRSS of /proc/<pid>/status);
//   2. lets connector threads connect, read the greeting and close for a few
//      seconds and reports connections greeted per second.
#include "child_process.h"
#include "process_status.h"
#include "vok_connection.h"

#include <CLI/CLI.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace
{
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Settings
{
  std::string server = VURUDE_SERVER_EXE;
  std::string host = "127.0.0.1";
  int port = 0;  // 0: start the server
  int pid = 0;   // of a running server, for its memory figures
  int connections = 1000;
  int threads = 32;
  double seconds = 3.0;
  double timeout = 10.0;  // seconds for a connect and for its greeting
};

Vok_Connection_Options connection_options (const Settings &settings)
{
  Vok_Connection_Options options;
  const auto timeout = std::chrono::duration_cast<std::chrono::milliseconds> (
    std::chrono::duration<double> (settings.timeout));
  options.connect_timeout = timeout;
  options.reply_timeout = timeout;
  return options;
}

// Connections the kernel dropped because a listen queue was full, machine
// wide (TcpExt ListenOverflows of /proc/net/netstat); -1 when unknown.
long listen_overflows ()
{
  std::ifstream file ("/proc/net/netstat");
  std::string names, values;
  while (std::getline (file, names) && std::getline (file, values))
    {
      if (names.rfind ("TcpExt:", 0) != 0)
        continue;
      std::istringstream name_fields (names), value_fields (values);
      std::string name, value;
      while (name_fields >> name && value_fields >> value)
        if (name == "ListenOverflows")
          return std::stol (value);
    }
  return -1;
}

double seconds_since (Clock::time_point start)
{
  return std::chrono::duration<double> (Clock::now () - start).count ();
}

// Descriptors for every connection, plus some for the program itself.
bool raise_descriptor_limit (rlim_t needed)
{
  rlimit limit {};
  if (::getrlimit (RLIMIT_NOFILE, &limit) != 0)
    return false;
  if (limit.rlim_cur >= needed)
    return true;
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed)
    {
      std::fprintf (stderr, "connection_bench: %llu descriptors needed, the hard limit is %llu\n",
                    static_cast<unsigned long long> (needed), static_cast<unsigned long long> (limit.rlim_max));
      return false;
    }
  limit.rlim_cur = needed;
  if (::setrlimit (RLIMIT_NOFILE, &limit) != 0)
    {
      std::perror ("connection_bench: setrlimit");
      return false;
    }
  return true;
}

// A loopback port nothing listens on right now (another process may still
// take it before the server does; the server then fails to start and says so).
int free_port ()
{
  const int fd = ::socket (AF_INET, SOCK_STREAM, 0);
  sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool bound = ::bind (fd, reinterpret_cast<sockaddr *> (&address), sizeof address) == 0
                     && ::getsockname (fd, reinterpret_cast<sockaddr *> (&address), &length) == 0;
  ::close (fd);
  return bound ? ntohs (address.sin_port) : -1;
}

// Connects until the server greets, for at most `limit`: the start-up line
// comes before the listeners are open.
bool wait_until_greeting (const Settings &settings, vurude::test::ChildProcess *server,
                          std::chrono::milliseconds limit)
{
  const auto end = Clock::now () + limit;
  Vok_Status status;
  do
    {
      Vok_Connection connection (connection_options (settings));
      status = connection.connect (settings.host, static_cast<std::uint16_t> (settings.port));
      if (status.ok ())
        return true;
      if (server && server->wait_exit (20ms))
        break;
      if (!server)
        std::this_thread::sleep_for (20ms);
    }
  while (Clock::now () < end);
  std::fprintf (stderr, "connection_bench: no greeting from port %d: %s\n", settings.port, status.message ().c_str ());
  return false;
}

void print_figures (const char *label, const std::optional<Process_Figures> &figures)
{
  if (figures)
    std::printf ("  server %s: VmRSS %ld KiB, %ld threads\n", label, figures->rss_kib, figures->threads);
  else
    std::printf ("  server %s: figures not available\n", label);
}

// Phase 1. False when a connection could not be opened or two handles agree.
bool measure_idle_connections (const Settings &settings, const Process_Status *server)
{
  std::printf ("idle connections: %d\n", settings.connections);
  const std::optional<Process_Figures> before = server ? server->settled (100ms, 5s) : std::nullopt;
  print_figures ("before", before);

  std::vector<Vok_Connection> connections;
  connections.reserve (static_cast<std::size_t> (settings.connections));
  for (int i = 0; i < settings.connections; ++i)
    connections.emplace_back (connection_options (settings));
  std::unordered_set<std::string> handles;
  const auto start = Clock::now ();
  for (Vok_Connection &connection : connections)
    {
      const Vok_Status status = connection.connect (settings.host, static_cast<std::uint16_t> (settings.port));
      if (!status.ok ())
        {
          std::printf ("  connection %zu failed: %s\n", handles.size () + 1, status.message ().c_str ());
          return false;
        }
      handles.insert (connection.handle ());
    }
  const double opened = seconds_since (start);
  const bool distinct = handles.size () == connections.size ();
  std::printf ("  opened and greeted in %.3f s; %zu distinct handles%s\n", opened, handles.size (),
               distinct ? "" : " (HANDLES REPEAT)");

  const std::optional<Process_Figures> after = server ? server->settled (100ms, 10s) : std::nullopt;
  print_figures ("with them open", after);
  if (before && after)
    std::printf ("  resident memory per idle connection: %.1f KiB\n",
                 static_cast<double> (after->rss_kib - before->rss_kib) / settings.connections);

  for (Vok_Connection &connection : connections)
    connection.close ();
  if (server && before)
    {
      const auto released = server->wait_for_threads (before->threads, 30s);
      if (released)
        std::printf ("  all closed: server back to %ld threads after %lld ms\n", before->threads,
                     static_cast<long long> (released->count ()));
      else
        std::printf ("  all closed: server still above %ld threads after 30 s\n", before->threads);
      print_figures ("after closing", server->read ());
    }
  return distinct;
}

struct Connector_Tally
{
  long greeted = 0;
  long failed = 0;
  std::string first_error;
  std::vector<double> latencies_ms;
};

void connect_until (const Settings &settings, Clock::time_point end, Connector_Tally &tally)
{
  Vok_Connection connection (connection_options (settings));
  while (Clock::now () < end)
    {
      const auto start = Clock::now ();
      const Vok_Status status = connection.connect (settings.host, static_cast<std::uint16_t> (settings.port));
      if (status.ok ())
        {
          ++tally.greeted;
          tally.latencies_ms.push_back (seconds_since (start) * 1000.0);
        }
      else if (tally.failed++ == 0)
        tally.first_error = status.message ();
      connection.close ();
    }
}

double percentile (std::vector<double> &values, double fraction)
{
  if (values.empty ())
    return 0.0;
  const auto at = static_cast<std::size_t> (fraction * static_cast<double> (values.size () - 1));
  std::nth_element (values.begin (), values.begin () + static_cast<std::ptrdiff_t> (at), values.end ());
  return values[at];
}

// Phase 2.
bool measure_accept_rate (const Settings &settings)
{
  std::vector<Connector_Tally> tallies (static_cast<std::size_t> (settings.threads));
  std::vector<std::thread> threads;
  const long overflows_before = listen_overflows ();
  const auto start = Clock::now ();
  const auto end = start + std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (settings.seconds));
  for (Connector_Tally &tally : tallies)
    threads.emplace_back (connect_until, std::cref (settings), end, std::ref (tally));
  for (std::thread &thread : threads)
    thread.join ();
  const double elapsed = seconds_since (start);

  Connector_Tally total;
  for (Connector_Tally &tally : tallies)
    {
      total.greeted += tally.greeted;
      total.failed += tally.failed;
      if (total.first_error.empty ())
        total.first_error = tally.first_error;
      total.latencies_ms.insert (total.latencies_ms.end (), tally.latencies_ms.begin (), tally.latencies_ms.end ());
    }
  std::printf ("accept rate: %d connector threads for %.2f s\n", settings.threads, elapsed);
  std::printf ("  %ld connections accepted and greeted: %.0f per second\n", total.greeted,
               static_cast<double> (total.greeted) / elapsed);
  std::printf ("  connect to greeting: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
               percentile (total.latencies_ms, 0.5), percentile (total.latencies_ms, 0.99),
               percentile (total.latencies_ms, 1.0));
  // A dropped connection attempt is repeated by the kernel after a second.
  const auto slow = std::count_if (total.latencies_ms.begin (), total.latencies_ms.end (),
                                   [] (double ms) { return ms >= 1000.0; });
  std::printf ("  greeted after a second or more: %ld\n", static_cast<long> (slow));
  const long overflows_after = listen_overflows ();
  if (overflows_before >= 0 && overflows_after >= 0)
    std::printf ("  listen queue overflows meanwhile (whole machine): %ld\n", overflows_after - overflows_before);
  std::printf ("  failures: %ld%s%s\n", total.failed, total.failed ? "; first: " : "", total.first_error.c_str ());
  return total.failed == 0;
}
}

int main (int argc, char **argv)
{
  Settings settings;
  CLI::App app {"Idle-connection memory and accept rate of vurude_server"};
  app.add_option ("--server", settings.server, "the server executable to start")->capture_default_str ();
  app.add_option ("--host", settings.host, "host of the server")->capture_default_str ();
  app.add_option ("--port", settings.port, "measure the server already listening on this port")
    ->check (CLI::Range (1, 65535));
  app.add_option ("--pid", settings.pid, "process id of that server, for its memory figures");
  app.add_option ("--connections", settings.connections, "idle connections held at once")
    ->capture_default_str ()->check (CLI::Range (1, 100000));
  app.add_option ("--threads", settings.threads, "connector threads of the rate test")
    ->capture_default_str ()->check (CLI::Range (1, 1024));
  app.add_option ("--seconds", settings.seconds, "duration of the rate test")
    ->capture_default_str ()->check (CLI::Range (0.1, 600.0));
  app.add_option ("--timeout", settings.timeout, "seconds a connection may take to be greeted")
    ->capture_default_str ()->check (CLI::Range (0.1, 600.0));
  CLI11_PARSE (app, argc, argv);

  // Raised before the server starts, so that it inherits the limit too.
  if (!raise_descriptor_limit (static_cast<rlim_t> (settings.connections) + 256))
    return 1;

  vurude::test::ChildProcess child;
  std::optional<Process_Status> server;
  if (settings.port == 0)
    {
      settings.port = free_port ();
      std::string error;
      if (settings.port < 0 || !child.start ({settings.server, "-d", "1", "-p", std::to_string (settings.port)}, error))
        {
          std::fprintf (stderr, "connection_bench: cannot start %s: %s\n", settings.server.c_str (), error.c_str ());
          return 1;
        }
      if (!child.wait_for_stderr ("vurude_service 4.2 Unicode 2009-03-19 starting", 30s))
        {
          std::fprintf (stderr, "connection_bench: the server did not start:\n%s", child.stderr_text ().c_str ());
          return 1;
        }
      server.emplace (child.pid ());
      std::printf ("connection_bench: started %s (pid %d) on port %d\n", settings.server.c_str (),
                   static_cast<int> (child.pid ()), settings.port);
    }
  else
    {
      if (settings.pid > 0)
        server.emplace (static_cast<pid_t> (settings.pid));
      std::printf ("connection_bench: server on %s:%d%s\n", settings.host.c_str (), settings.port,
                   settings.pid > 0 ? "" : " (no --pid: no memory figures)");
    }

  if (!wait_until_greeting (settings, child.pid () > 0 ? &child : nullptr, 30s))
    {
      if (child.running ())
        std::fprintf (stderr, "%s", child.stderr_text ().c_str ());
      return 1;
    }

  const bool idle_ok = measure_idle_connections (settings, server ? &*server : nullptr);
  const bool rate_ok = measure_accept_rate (settings);
  if (child.pid () > 0)
    child.stop ();
  return idle_ok && rate_ok ? 0 : 1;
}
