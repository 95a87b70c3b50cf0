// The server under many connections at once and under clients that give up
// at any point: every connection served, and nothing left behind once they
// are gone. Sized for the test suite; connection_bench runs the same at
// full size.
#include "connection_churn.h"
#include "loopback.h"
#include "sapsim_process.h"
#include "server_process.h"

#include "vok_connection.h"
#include "vok_extraction.h"
#include "vok_logon.h"
#include "vok_select_document.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <set>
#include <thread>

using namespace std::chrono_literals;

namespace
{
// How long a server may take to let go of everything once its clients are
// gone. Generous, as the suite shares the machine: this checks that all is
// released, not how fast; connection_bench measures that.
constexpr auto release_limit = 30s;

void raise_descriptor_limit (rlim_t needed)
{
  rlimit limit {};
  ::getrlimit (RLIMIT_NOFILE, &limit);
  limit.rlim_cur = std::max (limit.rlim_cur, std::min (limit.rlim_max, needed));
  ::setrlimit (RLIMIT_NOFILE, &limit);
}

struct Figures
{
  int threads;
  int descriptors;
};

// The end of a log: what a server wrote last before it ended.
std::string last_lines (const std::string &text, int count)
{
  std::size_t start = text.size ();
  for (int i = 0; i <= count; ++i)
    {
      if (start == 0)
        return text;
      start = text.rfind ('\n', start - 1);
      if (start == std::string::npos)
        return text;
    }
  return text.substr (start + 1);
}

class Scale : public testing::Test
{
protected:
  void SetUp () override
  {
    raise_descriptor_limit (8192);
    ASSERT_TRUE (sapsim.ok ()) << sapsim.error ();
    std::string error;
    ASSERT_TRUE (server.start ({}, error)) << error;
    baseline = figures ();
  }

  Figures figures () const { return {server.thread_count (), server.descriptor_count ()}; }

  // Waits up to `limit` for the server to be back at its baseline.
  bool released (std::chrono::milliseconds limit) const
  {
    const auto deadline = std::chrono::steady_clock::now () + limit;
    for (;;)
      {
        const Figures now = figures ();
        if (now.threads <= baseline.threads && now.descriptors <= baseline.descriptors)
          return true;
        if (std::chrono::steady_clock::now () >= deadline)
          return false;
        std::this_thread::sleep_for (20ms);
      }
  }

  Vok_Connection connect ()
  {
    Vok_Connection connection;
    const Vok_Status status = connection.connect ("127.0.0.1", static_cast<std::uint16_t> (server.port ()));
    EXPECT_TRUE (status.ok ()) << status.message ();
    return connection;
  }

  bool log_on (Vok_Connection &control)
  {
    const Vok_Logon_Reply reply = Vok_Logon ().log_on (
      control, "<connect gwhost=\"127.0.0.1\" gwserv=\"" + std::to_string (sapsim.port ())
                 + "\" client=\"100\" user=\"DEMO\" passwd=\"demo\"/>");
    return reply.outcome == Vok_Logon_Outcome::logged_on;
  }

  // The airlines through the logon of `control`: how many rows came.
  std::size_t airlines (const Vok_Connection &control)
  {
    Vok_Select_Document select (Vok_Select_Type::sselect);
    select.data = true;
    select.metadata = true;
    select.content.push_back (Vok_Select_Document::table ("SCARR"));
    select.content.push_back (Vok_Select_Document::field ("CARRID"));
    std::size_t rows = 0;
    Vok_Extraction_Handlers handlers;
    handlers.on_row = [&rows] (std::string_view, const Vok_Layout &) {
      ++rows;
      return Vok_Status ();
    };
    const Vok_Extraction_Result result = Vok_Extraction ().run (
      "127.0.0.1", static_cast<std::uint16_t> (server.port ()), control.handle (), select, handlers);
    EXPECT_EQ (result.outcome, Vok_Extraction_Outcome::completed) << result.status.message ();
    return rows;
  }

  sapsim_test::SapsimProcess sapsim;
  Server_Process server;
  Figures baseline {};
};

TEST_F (Scale, ConnectionsBeyondTheFirstThousandAreServedAndReleased)
{
  constexpr int held = 1500;
  std::vector<Vok_Connection> clients;
  clients.reserve (held);
  std::set<std::string> handles;
  for (int i = 0; i < held; ++i)
    {
      clients.push_back (connect ());
      handles.insert (clients.back ().handle ());
    }
  EXPECT_EQ (handles.size (), static_cast<std::size_t> (held));
  EXPECT_EQ (server.thread_count (), baseline.threads + held);

  // Served on descriptors far beyond 1024 in the server.
  Vok_Connection control = connect ();
  ASSERT_TRUE (log_on (control));
  EXPECT_GT (airlines (control), 0u);

  clients.clear ();
  control.close ();
  EXPECT_TRUE (released (release_limit)) << "threads " << server.thread_count () << " (baseline " << baseline.threads
                                         << "), descriptors " << server.descriptor_count () << " (baseline "
                                         << baseline.descriptors << ")";
}

TEST_F (Scale, ClientsGivingUpAtAnyPointLeaveNothingBehind)
{
  Vok_Connection control = connect ();
  ASSERT_TRUE (log_on (control));
  const long resident_before = server.resident_kib ();

  Churn_Settings settings;
  settings.port = server.port ();
  settings.sapsim_port = sapsim.port ();
  settings.chandle = control.handle ();
  settings.cycles = 2000;
  settings.threads = 8;
  settings.seed = static_cast<std::uint32_t> (testing::UnitTest::GetInstance ()->random_seed ());
  const Churn_Report report = run_churn (settings);
  EXPECT_EQ (report.connect_failures, 0);
  for (std::size_t point = 0; point < report.ended.size (); ++point)
    EXPECT_GT (report.ended[point], 0) << churn_point_name (static_cast<Churn_Point> (point));

  ASSERT_TRUE (server.process ().running ()) << last_lines (server.process ().stderr_text (), 40);
  // The logon survives every client around it, and serves again.
  EXPECT_GT (airlines (control), 0u);
  control.close ();
  EXPECT_TRUE (released (release_limit)) << "threads " << server.thread_count () << " (baseline " << baseline.threads
                               << "), descriptors " << server.descriptor_count () << " (baseline "
                               << baseline.descriptors << ")";
#if defined(__SANITIZE_ADDRESS__)
  // The address sanitizer keeps freed memory in quarantine for a while.
  constexpr long growth_limit_kib = 512 * 1024;
#else
  constexpr long growth_limit_kib = 64 * 1024;
#endif
  EXPECT_LT (server.resident_kib () - resident_before, growth_limit_kib) << "resident memory grew";
}

// What the server answers a select naming `chandle` before it closes the
// connection (only the first line).
std::string first_answer (int port, const std::string &chandle)
{
  const int fd = vurude::test::connect_loopback (port);
  char greeting[130];
  for (std::size_t got = 0; got < sizeof greeting;)
    {
      const ssize_t n = ::recv (fd, greeting + got, sizeof greeting - got, 0);
      if (n <= 0)
        break;
      got += static_cast<std::size_t> (n);
    }
  std::string received;
  vurude::test::send_all (fd, "<sselect chandle=\"" + chandle + "\"><table name=\"SCARR\"/></sselect>\n");
  vurude::test::wait_for_close (fd, 10s, &received);
  ::close (fd);
  return received.substr (0, received.find ('\n'));
}

// A client that knows its own handle guesses the logon of the client that
// connected just before it, the way handles made of a serial and a heap
// address could be guessed: the previous serial and nearby addresses.
TEST_F (Scale, HandlesGuessedFromOnesOwnNameNoLogon)
{
  Vok_Connection victim = connect ();
  Vok_Connection attacker = connect ();
  ASSERT_TRUE (log_on (victim));
  const std::string own = attacker.handle ();
  ASSERT_EQ (own.size (), 20u);
  const unsigned serial = static_cast<unsigned> (std::stoul (own.substr (0, 4)));
  const std::uint64_t value = std::stoull (own.substr (4), nullptr, 16);

  // The probe itself works: the true handle is not refused.
  EXPECT_NE (first_answer (server.port (), victim.handle ()), "E,chandle is invalid");
  int guesses = 0;
  for (int step = -512; step <= 512; ++step)
    {
      if (step == 0)
        continue;
      char guess[32];
      std::snprintf (guess, sizeof guess, "%04u%016" PRIX64, (serial + 9999) % 10000,
                     value + static_cast<std::uint64_t> (static_cast<std::int64_t> (step) * 16));
      ASSERT_EQ (first_answer (server.port (), guess), "E,chandle is invalid") << "guessed " << guess;
      ++guesses;
    }
  EXPECT_EQ (guesses, 1024);
}

// A server out of descriptors closes the clients it has none for at once,
// and greets new ones again when descriptors are free.
TEST (Descriptor_Limit, ClientsBeyondItAreClosedAtOnceAndLaterOnesGreeted)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // A server of this build runs the sanitizers' checks, which need
  // descriptors of their own: out of them, they report faults that are not
  // there.
  GTEST_SKIP () << "exhausts the descriptors the sanitizer runtime needs";
#endif
  const int port = free_tcp_port ();
  vurude::test::ChildProcess server;
  std::string error;
  ASSERT_TRUE (server.start ({"/usr/bin/prlimit", "--nofile=64", VURUDE_SERVER_EXE, "-d", "3", "-p",
                              std::to_string (port)}, error)) << error;
  ASSERT_TRUE (server.wait_for_stderr ("Listening on port " + std::to_string (port), 30s)) << server.stderr_text ();

  std::vector<Vok_Connection> held;
  bool refused = false;
  for (int i = 0; i < 100 && !refused; ++i)
    {
      Vok_Connection_Options options;
      options.reply_timeout = 10s;
      Vok_Connection client (options);
      if (client.connect ("127.0.0.1", static_cast<std::uint16_t> (port)).ok ())
        held.push_back (std::move (client));
      else
        refused = true;
    }
  ASSERT_TRUE (refused) << "every one of 100 clients was greeted under a limit of 64";
  EXPECT_TRUE (server.wait_for_stderr ("No file descriptor left for a new connection - connection closed", 10s));

  held.clear ();
  const auto deadline = std::chrono::steady_clock::now () + 30s;
  Vok_Connection later;
  while (!later.connect ("127.0.0.1", static_cast<std::uint16_t> (port)).ok ()
         && std::chrono::steady_clock::now () < deadline)
    std::this_thread::sleep_for (100ms);
  EXPECT_EQ (later.handle ().size (), 20u) << "greeted again once descriptors are free";
  EXPECT_TRUE (server.running ());
}
}
