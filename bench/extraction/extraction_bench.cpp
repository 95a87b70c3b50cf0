// Extraction of a large table from sapsim, two ways in the same run:
//   - through vurude_server to a client that reads and discards its data
//     connection (the server's resident memory and CPU time are sampled),
//   - directly from sapsim by an rfclib client that calls the dialog module
//     and serves its callbacks itself, as the server does, with no server in
//     between.
// Starts sapsim (with a store of --bookings rows, kept in --data between
// runs) and the server on free ports unless told otherwise.
#include "child_process.h"
#include "process_status.h"
#include "server_process.h"

#include "vok_connection.h"
#include "vok_logon.h"

#include "rfclib/rfclib.h"

#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

struct Run
{
  std::uint64_t rows = 0;
  std::uint64_t bytes = 0;  // row bytes, without flag bytes and records
  double seconds = 0;
};

std::u16string utf16 (const std::string &ascii)
{
  return std::u16string (ascii.begin (), ascii.end ());
}

std::string last_error ()
{
  RFC_ERROR_INFO_EX info {};
  RfcLastErrorEx (&info);
  std::string text;
  for (const SAP_UC *p = info.message; *p != 0; ++p)
    text += static_cast<char> (*p < 128 ? *p : '?');
  return text;
}

// CPU seconds (user + system) the process has used, from /proc/<pid>/stat.
double cpu_seconds (pid_t pid)
{
  std::ifstream stat ("/proc/" + std::to_string (pid) + "/stat");
  std::string text ((std::istreambuf_iterator<char> (stat)), std::istreambuf_iterator<char> ());
  const std::size_t end = text.rfind (')');
  if (end == std::string::npos)
    return -1;
  std::istringstream fields (text.substr (end + 2));
  std::string field;
  long values[15] = {};
  for (int i = 0; i < 13 && fields >> field; ++i)
    if (i >= 11)
      values[i] = std::stol (field);
  return static_cast<double> (values[11] + values[12]) / static_cast<double> (sysconf (_SC_CLK_TCK));
}

// The 72-character lines of a statement table.
void append_line (ITAB_H table, const std::u16string &text)
{
  char16_t *line = static_cast<char16_t *> (ItAppLine (table));
  std::fill (line, line + 72, u' ');
  std::copy (text.begin (), text.begin () + static_cast<long> (std::min<std::size_t> (text.size (), 72)), line);
}

// The direct path: the dialog module called and served by this process.
bool direct_extraction (int sapsim_port, const std::string &table, unsigned blocksize, Run &run)
{
  const std::u16string connect = utf16 ("gwhost=\"127.0.0.1\" gwserv=\"" + std::to_string (sapsim_port)
                                        + "\" client=\"100\" user=\"DEMO\" passwd=\"demo\" lang=\"E\"");
  RFC_ERROR_INFO_EX error {};
  const RFC_HANDLE h = RfcOpenEx (connect.c_str (), &error);
  if (h == RFC_HANDLE_NULL)
    {
      std::fprintf (stderr, "direct logon failed: %s\n", last_error ().c_str ());
      return false;
    }
  char16_t pdest[4] = {u'B', u'A', u'C', u'K'};
  RFC_PARAMETER exporting[] = {{u"PDEST", 0, RFCTYPE_CHAR, 8, pdest}, {}};
  RFC_TABLE no_tables[] = {{}};
  const auto start = Clock::now ();
  RFC_RC rc = RfcCall (h, u"/VOK/Z_VOK_DIALOG", exporting, no_tables);
  // The rows' table is made by the library with the first chunk and
  // reused for the others, as the server does.
  ITAB_H rows = nullptr;
  bool ok = rc == RFC_OK;
  while (ok)
    {
      SAP_UC *exception = nullptr;
      RFC_PARAMETER none[] = {{}};
      rc = RfcReceive (h, none, no_tables, &exception);
      if (rc == RFC_OK)
        break;
      if (rc != RFC_CALL)
        {
          std::fprintf (stderr, "dialog call failed (rc %d): %s\n", rc,
                        exception ? "exception" : last_error ().c_str ());
          ok = false;
          break;
        }
      SAP_UC name[RFC_FUNCNAME_LN + 1] = {};
      RfcGetName (h, name);
      const std::u16string called (name);
      if (called == u"Z_VOK_GET_REQUEST_PARAMETERS")
        {
          RFC_TABLE tables[] = {{u"MDATA", 0, RFCTYPE_CHAR, 144, nullptr, 0, 0},
                                {u"JDATA", 0, RFCTYPE_CHAR, 144, nullptr, 0, 0},
                                {}};
          RfcGetData (h, nullptr, tables);
          append_line (tables[1].ithandle, u"sselect");
          append_line (tables[1].ithandle, u"T," + utf16 (table) + u",,");
          append_line (tables[0].ithandle, utf16 (table) + u",*");
          char digits[16];
          std::snprintf (digits, sizeof digits, "%.8u", blocksize);
          const std::u16string size = utf16 (digits);
          char16_t flag[1] = {u'D'}, dialog[1] = {u'X'}, blank[1] = {u' '};
          const std::u16string report = u"/VOK/Z_VOK_READ", handle = u"DIRECT";
          RFC_PARAMETER answer[] = {
            {u"FUNC_FLAG", 0, RFCTYPE_CHAR, 2, flag},
            {u"ABAPPROG", 0, RFCTYPE_CHAR, static_cast<unsigned> (2 * report.size ()), const_cast<char16_t *> (report.data ())},
            {u"BLOCKSIZE", 0, RFCTYPE_CHAR, static_cast<unsigned> (2 * size.size ()), const_cast<char16_t *> (size.data ())},
            {u"DEBUG", 0, RFCTYPE_CHAR, 2, blank},
            {u"DHANDLE", 0, RFCTYPE_CHAR, static_cast<unsigned> (2 * handle.size ()), const_cast<char16_t *> (handle.data ())},
            {u"DIALOG_FLAG", 0, RFCTYPE_CHAR, 2, dialog},
            {}};
          ok = RfcSendData (h, answer, tables) == RFC_OK;
          ItDelete (tables[0].ithandle);
          ItDelete (tables[1].ithandle);
        }
      else if (called == u"Z_VOK_DATA_CHUNK")
        {
          char16_t end[1] = {u' '}, emsg[200] = {};
          RFC_PARAMETER importing[] = {{u"END_OF_DATA", 0, RFCTYPE_CHAR, 2, end}, {u"EMSG", 0, RFCTYPE_CHAR, 400, emsg}, {}};
          RFC_TABLE tables[] = {{u"DTAB", 0, RFCTYPE_BYTE, 0, rows, 0, 0}, {}};
          ok = RfcGetData (h, importing, tables) == RFC_OK;
          rows = tables[0].ithandle;
          if (emsg[0] != 0 && emsg[0] != u' ')
            {
              std::fprintf (stderr, "the read report reported an error\n");
              ok = false;
            }
          run.rows += ItFill (rows);
          run.bytes += static_cast<std::uint64_t> (ItFill (rows)) * ItLeng (rows);
          ItFree (rows);
          RFC_PARAMETER no_answer[] = {{}};
          ok = ok && RfcSendData (h, no_answer, tables) == RFC_OK;
        }
      else
        {
          RfcAbort (h, u"Function not supported");
          ok = false;
        }
    }
  run.seconds = std::chrono::duration<double> (Clock::now () - start).count ();
  if (rows)
    ItDelete (rows);
  RfcClose (h);
  return ok;
}

// The server path: a logged-on control connection, a data connection read
// to its end and discarded, a request connection carrying the select.
bool server_extraction (int server_port, int sapsim_port, const std::string &table, std::size_t row_width,
                        pid_t server_pid, Run &run, long &peak_rss_kib, double &cpu)
{
  Vok_Connection_Options options;
  options.reply_timeout = std::chrono::minutes (10);
  Vok_Connection control (options), data (options), request (options);
  const auto port = static_cast<std::uint16_t> (server_port);
  if (!control.connect ("127.0.0.1", port).ok () || !data.connect ("127.0.0.1", port).ok ()
      || !request.connect ("127.0.0.1", port).ok ())
    return false;
  const Vok_Logon_Reply logon = Vok_Logon ().log_on (
    control, "<connect gwhost=\"127.0.0.1\" gwserv=\"" + std::to_string (sapsim_port)
               + "\" client=\"100\" user=\"DEMO\" passwd=\"demo\"/>");
  if (logon.outcome != Vok_Logon_Outcome::logged_on)
    {
      std::fprintf (stderr, "logon through the server failed\n");
      return false;
    }

  std::atomic<bool> running {true};
  long peak = 0;
  std::thread sampler ([&] {
    Process_Status status (server_pid);
    while (running)
      {
        if (const auto figures = status.read ())
          peak = std::max (peak, figures->rss_kib);
        std::this_thread::sleep_for (std::chrono::milliseconds (20));
      }
  });

  const double cpu_before = cpu_seconds (server_pid);
  const auto start = Clock::now ();
  const bool sent = request.send_request ("<sselect chandle=\"" + control.handle () + "\" dhandle=\""
                                          + data.handle () + "\" data=\"Y\"><table name=\"" + table
                                          + "\"/></sselect>")
                      .ok ();
  std::vector<char> buffer (1 << 20);
  std::uint64_t received = 0;
  // The client library's sockets do not block; this reader does.
  const int fd = data.native_handle ();
  ::fcntl (fd, F_SETFL, ::fcntl (fd, F_GETFL) & ~O_NONBLOCK);
  while (sent)
    {
      const ssize_t n = ::recv (fd, buffer.data (), buffer.size (), 0);
      if (n <= 0)
        break;
      received += static_cast<std::uint64_t> (n);
    }
  run.seconds = std::chrono::duration<double> (Clock::now () - start).count ();
  std::string rest;
  request.read_until_closed (rest, 1 << 20);
  cpu = cpu_seconds (server_pid) - cpu_before;
  running = false;
  sampler.join ();
  peak_rss_kib = peak;
  if (rest.find ("E,") != std::string::npos || received < row_width + 1)
    {
      std::fprintf (stderr, "the extraction failed: %s\n", rest.c_str ());
      return false;
    }
  // Every row and the end record carry one flag byte after the row width.
  run.rows = received / (row_width + 1) - 1;
  run.bytes = run.rows * row_width;
  return true;
}

void report (const char *path, const Run &run)
{
  std::printf ("%s: %llu rows, %.0f MB in %.2f s = %.0f rows/s, %.1f MB/s\n", path,
               static_cast<unsigned long long> (run.rows), run.bytes / 1e6, run.seconds, run.rows / run.seconds,
               run.bytes / 1e6 / run.seconds);
}
}

int main (int argc, char **argv)
{
  CLI::App app {"extraction_bench: a large table through vurude_server and directly from sapsim"};
  std::string data_dir = "bench-data";
  std::string table = "SBOOK";
  std::size_t row_width = 220;
  long bookings = 1000000;
  unsigned blocksize = 1000000;
  int repeat = 3;
  app.add_option ("--data", data_dir, "sapsim data folder (kept: the store is made once)")->capture_default_str ();
  app.add_option ("--bookings", bookings, "SBOOK rows when the store is made")->capture_default_str ();
  app.add_option ("--table", table, "Table to extract")->capture_default_str ();
  app.add_option ("--row-width", row_width, "Its row width in bytes")->capture_default_str ();
  app.add_option ("--blocksize", blocksize, "Chunk size asked of the read report (-B of the server)")
    ->capture_default_str ();
  app.add_option ("--repeat", repeat, "Extractions each way")->capture_default_str ()->check (CLI::Range (1, 100));
  CLI11_PARSE (app, argc, argv);

  vurude::test::ChildProcess sapsim;
  std::string error;
  if (!sapsim.start ({SAPSIM_EXE, "--data", data_dir, "--port", "0", "--bookings", std::to_string (bookings),
                      "--log-level", "warning"},
                     error))
    {
      std::fprintf (stderr, "%s\n", error.c_str ());
      return 1;
    }
  const int sapsim_port = sapsim.wait_for_port (std::chrono::minutes (30));
  if (sapsim_port <= 0)
    {
      std::fprintf (stderr, "sapsim did not start:\n%s\n", sapsim.stderr_text ().c_str ());
      return 1;
    }

  // No dialog row limit; chunks as large as asked.
  Server_Process server;
  if (!server.start ({"-U", "Y", "-B", std::to_string (blocksize)}, error))
    {
      std::fprintf (stderr, "%s\n", error.c_str ());
      return 1;
    }
  const int server_port = server.port ();

  RfcInit ();
  std::vector<Run> direct, through;
  long peak_rss = 0;
  double cpu = 0;
  std::uint64_t cpu_bytes = 0;
  for (int i = 0; i < repeat; ++i)
    {
      Run d, s;
      long peak = 0;
      double used = 0;
      if (!direct_extraction (sapsim_port, table, blocksize, d)
          || !server_extraction (server_port, sapsim_port, table, row_width, server.process ().pid (), s, peak, used))
        return 1;
      report ("direct from sapsim", d);
      report ("through the server", s);
      direct.push_back (d);
      through.push_back (s);
      peak_rss = std::max (peak_rss, peak);
      cpu += used;
      cpu_bytes += s.bytes;
    }
  auto median_rate = [] (std::vector<Run> runs) {
    std::sort (runs.begin (), runs.end (), [] (const Run &a, const Run &b) { return a.seconds < b.seconds; });
    const Run &m = runs[runs.size () / 2];
    return m.bytes / 1e6 / m.seconds;
  };
  const double direct_rate = median_rate (direct), server_rate = median_rate (through);
  std::printf ("median: direct %.1f MB/s, through the server %.1f MB/s = %.0f%% of the direct path\n", direct_rate,
               server_rate, 100 * server_rate / direct_rate);
  std::printf ("server: peak resident memory during the extractions %.1f MB; CPU %.2f s per GB delivered\n",
               peak_rss / 1024.0, cpu / (cpu_bytes / 1e9));
  return 0;
}
