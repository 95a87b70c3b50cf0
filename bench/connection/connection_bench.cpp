// connection_bench: what client connections cost vurude_server, how fast it
// accepts and greets new ones, and whether clients that give up anywhere
// leave anything behind. Starts sapsim and the server itself on free ports
// (or measures a server already running, --port), then
//   idle:  opens many connections at once, reads every greeting, checks that
//          the handles are distinct, reports the server's resident memory per
//          idle connection, logs on and selects over a connection opened while
//          all of them are held, and times the release once they are closed;
//   rate:  lets connector threads connect, read the greeting and close for a
//          few seconds and reports connections greeted per second;
//   churn: runs clients that give up at random points of a conversation
//          beside a logged-on control connection, and checks that the server
//          gets back to its threads and descriptors and still serves.
#include "child_process.h"
#include "connection_churn.h"
#include "process_status.h"
#include "temp_dir.h"
#include "vok_connection.h"
#include "vok_extraction.h"
#include "vok_logon.h"
#include "vok_select_document.h"

#include <CLI/CLI.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
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

// The time a server gets to be back at its threads and descriptors once its
// clients are gone, before the run counts as failed.
constexpr auto release_limit = 30s;
// What a release should take: a worker notices its closed socket within a second.
constexpr auto release_goal = 2s;

struct Settings
{
  std::string server = VURUDE_SERVER_EXE;
  std::string sapsim = SAPSIM_EXE;
  std::string host = "127.0.0.1";
  int port = 0;  // 0: start the server
  int pid = 0;   // of a running server, for its figures
  int connections = 10000;
  int threads = 32;
  double seconds = 3.0;
  double timeout = 10.0;  // seconds for a connect and for its greeting
  int churn_cycles = 20000;
  int churn_threads = 8;
  std::uint32_t seed = 1;
  std::vector<std::string> phases {"idle", "rate", "churn"};

  bool runs (const std::string &phase) const
  {
    return std::find (phases.begin (), phases.end (), phase) != phases.end ();
  }
};

// The server under measurement: the child this program started, or one
// that was running already (figures only with its process id).
struct Server
{
  vurude::test::ChildProcess child;
  std::optional<Process_Status> status;

  std::optional<Process_Figures> figures () const { return status ? status->read () : std::nullopt; }

  // False once the process is known to be gone.
  bool alive ()
  {
    if (child.pid () > 0)
      return !child.wait_exit (0ms);
    return !status || status->read ().has_value ();
  }

  // How the child ended; called once it is known to be gone, it waits a
  // moment for the kernel to finish writing a core.
  std::string ending ()
  {
    const std::optional<int> wait_status = child.pid () > 0 ? child.wait_exit (10s) : std::nullopt;
    if (!wait_status)
      return "its ending is not known";
    if (WIFSIGNALED (*wait_status))
      return std::string ("killed by signal ") + std::to_string (WTERMSIG (*wait_status)) + " ("
             + strsignal (WTERMSIG (*wait_status)) + ")";
    return "exit status " + std::to_string (WEXITSTATUS (*wait_status));
  }
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

// A number from a file of /proc/sys; -1 when unknown.
long kernel_setting (const char *path)
{
  std::ifstream file (path);
  long value = -1;
  if (!(file >> value))
    return -1;
  return value;
}

double seconds_since (Clock::time_point start)
{
  return std::chrono::duration<double> (Clock::now () - start).count ();
}

long long milliseconds_since (Clock::time_point start)
{
  return std::chrono::duration_cast<std::chrono::milliseconds> (Clock::now () - start).count ();
}

// Every held connection has a descriptor here and one in the server, which
// inherits this limit; the churn's connections are short-lived but the server
// may hold many of them for a moment after their clients are gone.
rlim_t descriptors_needed (const Settings &settings)
{
  rlim_t needed = settings.runs ("idle") ? static_cast<rlim_t> (settings.connections) : 0;
  if (settings.runs ("churn"))
    needed = std::max<rlim_t> (needed, 4096 + 2 * static_cast<rlim_t> (settings.churn_threads));
  return needed + 256;
}

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

// Each held connection is a server thread (a task of the kernel, with a
// stack mapping and its guard): says so when the kernel would run out.
void print_system_limits (const Settings &settings)
{
  const long threads_max = kernel_setting ("/proc/sys/kernel/threads-max");
  const long pid_max = kernel_setting ("/proc/sys/kernel/pid_max");
  const long map_count = kernel_setting ("/proc/sys/vm/max_map_count");
  rlimit files {};
  ::getrlimit (RLIMIT_NOFILE, &files);
  std::printf ("connection_bench: threads-max %ld, pid_max %ld, max_map_count %ld, open files %llu\n", threads_max,
               pid_max, map_count, static_cast<unsigned long long> (files.rlim_cur));
  if (!settings.runs ("idle"))
    return;
  const long tasks = settings.connections + 1000;
  if ((threads_max >= 0 && tasks > threads_max) || (pid_max >= 0 && tasks > pid_max))
    std::printf ("  warning: %d server threads may not fit into threads-max or pid_max\n", settings.connections);
  if (map_count >= 0 && 2L * tasks > map_count)
    std::printf ("  warning: the stacks of %d server threads may not fit into max_map_count\n",
                 settings.connections);
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
    std::printf ("  server %s: VmRSS %ld KiB, %ld threads, %ld descriptors\n", label, figures->rss_kib,
                 figures->threads, figures->descriptors);
  else
    std::printf ("  server %s: figures not available\n", label);
}

// Waits for the server to be back at `baseline` and says how long it took;
// false when it was not back within release_limit. Without figures there is
// nothing to wait for.
bool report_release (Server &server, const std::optional<Process_Figures> &baseline, const char *after)
{
  if (!server.status || !baseline)
    return true;
  const auto released = server.status->wait_for_baseline (*baseline, release_limit);
  if (!released && !server.figures ())
    std::printf ("  %s: the server is GONE (%s)\n", after, server.ending ().c_str ());
  else if (released)
    std::printf ("  %s: server back at %ld threads and %ld descriptors after %lld ms (goal %lld ms: %s)\n", after,
                 baseline->threads, baseline->descriptors, static_cast<long long> (released->count ()),
                 static_cast<long long> (std::chrono::milliseconds (release_goal).count ()),
                 *released <= release_goal ? "met" : "missed");
  else
    std::printf ("  %s: server NOT back at %ld threads and %ld descriptors within %lld s\n", after,
                 baseline->threads, baseline->descriptors, static_cast<long long> (release_limit.count ()));
  return released.has_value ();
}

// What the server spends while nothing happens but its connections being
// open, as a share of one core over a couple of seconds.
void print_idle_cpu (const Process_Status &server)
{
  constexpr auto interval = 2s;
  const std::optional<double> before = server.cpu_seconds ();
  std::this_thread::sleep_for (interval);
  const std::optional<double> after = server.cpu_seconds ();
  if (before && after)
    std::printf ("  server CPU while they are idle: %.0f%% of a core\n",
                 100.0 * (*after - *before) / std::chrono::duration<double> (interval).count ());
}

// The logon of the DEMO user of client 100 at the sapsim this program started.
bool log_on (const Settings &settings, int sapsim_port, Vok_Connection &control)
{
  const auto start = Clock::now ();
  Vok_Status status = control.connect (settings.host, static_cast<std::uint16_t> (settings.port));
  if (!status.ok ())
    {
      std::printf ("  logon: no connection: %s\n", status.message ().c_str ());
      return false;
    }
  const Vok_Logon_Reply reply = Vok_Logon ().log_on (
    control, "<connect gwhost=\"127.0.0.1\" gwserv=\"" + std::to_string (sapsim_port)
               + "\" client=\"100\" user=\"DEMO\" passwd=\"demo\"/>");
  if (reply.outcome != Vok_Logon_Outcome::logged_on)
    {
      std::printf ("  logon FAILED: %s%s%s\n", reply.status.message ().c_str (),
                   reply.error_lines.empty () ? "" : "; ",
                   reply.error_lines.empty () ? "" : reply.error_lines.front ().c_str ());
      return false;
    }
  std::printf ("  logon: %lld ms\n", milliseconds_since (start));
  return true;
}

// The airlines through the logon of `control`; false unless rows came and
// the select completed.
bool select_airlines (const Settings &settings, const Vok_Connection &control, const char *label)
{
  Vok_Select_Document select (Vok_Select_Type::sselect);
  select.data = true;
  select.metadata = true;
  select.content.push_back (Vok_Select_Document::table ("SCARR"));
  select.content.push_back (Vok_Select_Document::field ("CARRID"));
  Vok_Extraction_Settings extraction;
  extraction.connection = connection_options (settings);
  const auto start = Clock::now ();
  const Vok_Extraction_Result result = Vok_Extraction (extraction).run (
    settings.host, static_cast<std::uint16_t> (settings.port), control.handle (), select, {});
  const bool ok = result.outcome == Vok_Extraction_Outcome::completed && result.rows > 0;
  if (ok)
    std::printf ("  %s: %llu rows of SCARR in %lld ms\n", label, static_cast<unsigned long long> (result.rows),
                 milliseconds_since (start));
  else
    std::printf ("  %s FAILED: %llu rows; %s\n", label, static_cast<unsigned long long> (result.rows),
                 result.status.message ().c_str ());
  return ok;
}

// A new control connection: logs on, selects and closes again.
bool log_on_and_select (const Settings &settings, int sapsim_port, const char *label)
{
  Vok_Connection control (connection_options (settings));
  return log_on (settings, sapsim_port, control) && select_airlines (settings, control, label);
}

// Phase idle. False when a connection could not be opened, two handles
// agree, the logon or select among them failed, or the server did not let
// go of them.
bool measure_idle_connections (const Settings &settings, Server &server, const std::optional<Process_Figures> &start,
                               int sapsim_port)
{
  std::printf ("idle connections: %d\n", settings.connections);
  print_figures ("before", start);

  std::vector<Vok_Connection> connections;
  connections.reserve (static_cast<std::size_t> (settings.connections));
  for (int i = 0; i < settings.connections; ++i)
    connections.emplace_back (connection_options (settings));
  std::unordered_set<std::string> handles;
  const auto opening = Clock::now ();
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
  const double opened = seconds_since (opening);
  const bool distinct = handles.size () == connections.size ();
  std::printf ("  opened and greeted in %.3f s (%.0f per second); %zu distinct handles%s\n", opened,
               static_cast<double> (settings.connections) / opened, handles.size (),
               distinct ? "" : " (HANDLES REPEAT)");

  const std::optional<Process_Figures> held = server.status ? server.status->settled (100ms, 10s) : std::nullopt;
  print_figures ("with them open", held);
  if (start && held)
    std::printf ("  resident memory per idle connection: %.1f KiB\n",
                 static_cast<double> (held->rss_kib - start->rss_kib) / settings.connections);
  if (server.status)
    print_idle_cpu (*server.status);

  // Its socket and those of the select come after every held one.
  const bool served = log_on_and_select (settings, sapsim_port, "select while all are held");

  const auto closing = Clock::now ();
  for (Vok_Connection &connection : connections)
    connection.close ();
  std::printf ("  all closed in %lld ms\n", milliseconds_since (closing));
  const bool released = report_release (server, start, "after closing");
  print_figures ("after closing", server.figures ());
  return distinct && served && released;
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

// Phase rate.
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

// The highest figures of a process while something else runs, sampled on
// a thread of its own.
class Peak_Sampler
{
public:
  Peak_Sampler (const Process_Status &process, std::chrono::milliseconds interval)
    : thread_ ([this, &process, interval] { sample (process, interval); })
  {
  }
  ~Peak_Sampler () { stop (); }
  Peak_Sampler (const Peak_Sampler &) = delete;
  Peak_Sampler &operator= (const Peak_Sampler &) = delete;

  // Ends the sampling; the peak of each figure, or nothing when none was read.
  std::optional<Process_Figures> stop ()
  {
    {
      std::lock_guard<std::mutex> lock (mutex_);
      stopping_ = true;
    }
    wake_.notify_all ();
    if (thread_.joinable ())
      thread_.join ();
    return peak_;
  }

private:
  void sample (const Process_Status &process, std::chrono::milliseconds interval)
  {
    std::unique_lock<std::mutex> lock (mutex_);
    do
      {
        lock.unlock ();
        const std::optional<Process_Figures> now = process.read ();
        lock.lock ();
        if (now && peak_)
          {
            peak_->rss_kib = std::max (peak_->rss_kib, now->rss_kib);
            peak_->threads = std::max (peak_->threads, now->threads);
            peak_->descriptors = std::max (peak_->descriptors, now->descriptors);
          }
        else if (now)
          peak_ = now;
      }
    while (!wake_.wait_for (lock, interval, [this] { return stopping_; }));
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::optional<Process_Figures> peak_;
  std::thread thread_;
};

void print_growth (const Process_Figures &before, const Process_Figures &after)
{
  const long threads = after.threads - before.threads;
  const long descriptors = after.descriptors - before.descriptors;
  const long rss = after.rss_kib - before.rss_kib;
  if (threads <= 0 && descriptors <= 0 && rss <= 0)
    std::printf ("  no growth\n");
  else
    std::printf ("  growth: %+ld threads, %+ld descriptors, VmRSS %+ld KiB\n", threads, descriptors, rss);
}

// Phase churn. False when the server died, did not get back to its figures
// of before, or no longer serves a select.
bool measure_churn (const Settings &settings, Server &server, const std::optional<Process_Figures> &start,
                    int sapsim_port)
{
  std::printf ("churn: %d cycles over %d threads, seed %u\n", settings.churn_cycles, settings.churn_threads,
               static_cast<unsigned> (settings.seed));
  // Connections of an earlier phase must not count as this one's leftovers.
  if (!report_release (server, start, "earlier phases"))
    return false;

  Vok_Connection control (connection_options (settings));
  if (!log_on (settings, sapsim_port, control))
    return false;
  const std::optional<Process_Figures> before = server.status ? server.status->settled (100ms, 5s) : std::nullopt;
  print_figures ("before, with the control connection", before);

  Churn_Settings churn;
  churn.port = settings.port;
  churn.sapsim_port = sapsim_port;
  churn.chandle = control.handle ();
  churn.cycles = settings.churn_cycles;
  churn.threads = settings.churn_threads;
  churn.seed = settings.seed;
  std::optional<Peak_Sampler> sampler;
  if (server.status)
    sampler.emplace (*server.status, 50ms);
  const auto running = Clock::now ();
  const Churn_Report report = run_churn (churn);
  const double elapsed = seconds_since (running);
  const std::optional<Process_Figures> peak = sampler ? sampler->stop () : std::nullopt;

  long cycles = report.connect_failures;
  for (long ended : report.ended)
    cycles += ended;
  std::printf ("  %ld cycles in %.3f s: %.0f per second\n", cycles, elapsed, static_cast<double> (cycles) / elapsed);
  for (std::size_t point = 0; point < report.ended.size (); ++point)
    std::printf ("    ended %s: %ld\n", churn_point_name (static_cast<Churn_Point> (point)), report.ended[point]);
  std::printf ("  connect failures: %ld\n", report.connect_failures);
  print_figures ("peak while churning", peak);

  if (!server.alive ())
    {
      std::printf ("  the server DIED: %s\n", server.ending ().c_str ());
      return false;
    }
  const bool released = report_release (server, before, "after the churn");
  const std::optional<Process_Figures> after = server.status ? server.status->settled (100ms, 5s) : std::nullopt;
  print_figures ("after", after);
  if (before && after)
    print_growth (*before, *after);

  const bool control_serves = select_airlines (settings, control, "select through the control connection");
  const bool new_logon_serves = log_on_and_select (settings, sapsim_port, "select after a new logon");
  return released && control_serves && new_logon_serves;
}

// sapsim on a free port with a fresh data folder; its gateway port, or -1.
int start_sapsim (const Settings &settings, const vurude::test::TempDir &data, vurude::test::ChildProcess &sapsim)
{
  std::string error;
  if (!sapsim.start ({settings.sapsim, "--data", data.path (), "--port", "0", "--bookings", "1000", "--log-level",
                      "warning"},
                     error))
    {
      std::fprintf (stderr, "connection_bench: cannot start %s: %s\n", settings.sapsim.c_str (), error.c_str ());
      return -1;
    }
  const int port = sapsim.wait_for_port (60s);
  if (port <= 0)
    std::fprintf (stderr, "connection_bench: sapsim did not report its port:\n%s", sapsim.stderr_text ().c_str ());
  return port;
}

bool start_server (Settings &settings, Server &server)
{
  if (settings.port != 0)
    {
      if (settings.pid > 0)
        server.status.emplace (static_cast<pid_t> (settings.pid));
      std::printf ("connection_bench: server on %s:%d%s\n", settings.host.c_str (), settings.port,
                   settings.pid > 0 ? "" : " (no --pid: no figures)");
      return true;
    }
  settings.port = free_port ();
  std::string error;
  if (settings.port < 0
      || !server.child.start ({settings.server, "-d", "1", "-p", std::to_string (settings.port)}, error))
    {
      std::fprintf (stderr, "connection_bench: cannot start %s: %s\n", settings.server.c_str (), error.c_str ());
      return false;
    }
  if (!server.child.wait_for_stderr ("vurude_service 4.2 Unicode 2009-03-19 starting", 30s))
    {
      std::fprintf (stderr, "connection_bench: the server did not start:\n%s", server.child.stderr_text ().c_str ());
      return false;
    }
  server.status.emplace (server.child.pid ());
  std::printf ("connection_bench: started %s (pid %d) on port %d\n", settings.server.c_str (),
               static_cast<int> (server.child.pid ()), settings.port);
  return true;
}
}

int main (int argc, char **argv)
{
  // Each line as it comes, also into a file: the churn alone takes minutes.
  std::setvbuf (stdout, nullptr, _IOLBF, 0);
  Settings settings;
  CLI::App app {"Connection costs, accept rate and churn of vurude_server"};
  app.add_option ("--server", settings.server, "the server executable to start")->capture_default_str ();
  app.add_option ("--sapsim", settings.sapsim, "the sapsim executable to start for the logons")->capture_default_str ();
  app.add_option ("--host", settings.host, "host of the server")->capture_default_str ();
  app.add_option ("--port", settings.port, "measure the server already listening on this port")
    ->check (CLI::Range (1, 65535));
  app.add_option ("--pid", settings.pid, "process id of that server, for its figures");
  app.add_option ("--phases", settings.phases, "phases to run, of idle, rate and churn")
    ->delimiter (',')->capture_default_str ()->check (CLI::IsMember ({"idle", "rate", "churn"}));
  app.add_option ("--connections", settings.connections, "idle connections held at once")
    ->capture_default_str ()->check (CLI::Range (1, 100000));
  app.add_option ("--threads", settings.threads, "connector threads of the rate test")
    ->capture_default_str ()->check (CLI::Range (1, 1024));
  app.add_option ("--seconds", settings.seconds, "duration of the rate test")
    ->capture_default_str ()->check (CLI::Range (0.1, 600.0));
  app.add_option ("--timeout", settings.timeout, "seconds a connection may take to be greeted or answered")
    ->capture_default_str ()->check (CLI::Range (0.1, 600.0));
  app.add_option ("--churn-cycles", settings.churn_cycles, "clients of the churn, over all its threads")
    ->capture_default_str ()->check (CLI::Range (1, 10000000));
  app.add_option ("--churn-threads", settings.churn_threads, "threads of the churn")
    ->capture_default_str ()->check (CLI::Range (1, 256));
  app.add_option ("--seed", settings.seed, "seed of the churn's random points")->capture_default_str ();
  CLI11_PARSE (app, argc, argv);

  // Raised before the server starts, so that it inherits the limit too.
  if (!raise_descriptor_limit (descriptors_needed (settings)))
    return 1;
  print_system_limits (settings);

  const bool logons = settings.runs ("idle") || settings.runs ("churn");
  vurude::test::TempDir sapsim_data;
  vurude::test::ChildProcess sapsim;
  const int sapsim_port = logons ? start_sapsim (settings, sapsim_data, sapsim) : 0;
  if (sapsim_port < 0)
    return 1;
  if (logons)
    std::printf ("connection_bench: started %s (pid %d) on port %d\n", settings.sapsim.c_str (),
                 static_cast<int> (sapsim.pid ()), sapsim_port);

  Server server;
  if (!start_server (settings, server)
      || !wait_until_greeting (settings, server.child.pid () > 0 ? &server.child : nullptr, 30s))
    {
      if (server.child.running ())
        std::fprintf (stderr, "%s", server.child.stderr_text ().c_str ());
      return 1;
    }
  const std::optional<Process_Figures> start = server.status ? server.status->settled (100ms, 5s) : std::nullopt;

  bool ok = true;
  if (settings.runs ("idle"))
    ok = measure_idle_connections (settings, server, start, sapsim_port) && ok;
  if (settings.runs ("rate"))
    ok = measure_accept_rate (settings) && ok;
  if (settings.runs ("churn"))
    ok = measure_churn (settings, server, start, sapsim_port) && ok;
  if (!server.alive ())
    {
      const std::string log = server.child.stderr_text ();
      std::printf ("connection_bench: the server died, %s; the end of its log:\n%s", server.ending ().c_str (),
                   log.substr (log.size () - std::min<std::size_t> (log.size (), 4000)).c_str ());
      ok = false;
    }
  if (server.child.pid () > 0)
    server.child.stop ();
  return ok ? 0 : 1;
}
