// An SAP system that misbehaves: the server's RFC connections run through a
// proxy that adds latency, resets them or swallows everything. The client
// gets error lines, a worker whose partner falls silent gives up within the
// partner time-out, and a client whose logon goes straight to sapsim is
// served all the while.
#include "sapsim_process.h"
#include "server_process.h"

#include "fault_proxy.h"
#include "loopback.h"

#include "vok_connection.h"
#include "vok_extraction.h"
#include "vok_logon.h"
#include "vok_select_document.h"
#include "vok_value_decoder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <algorithm>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace
{
using Rows = std::vector<std::vector<std::string>>;
using Clock = std::chrono::steady_clock;

// The server's partner time-out for this suite, through the library's environment.
constexpr int partner_timeout_seconds = 5;

bool has_line (const std::vector<std::string> &lines, const std::string &line)
{
  return std::find (lines.begin (), lines.end (), line) != lines.end ();
}

std::string joined (const std::vector<std::string> &lines)
{
  std::string text;
  for (const std::string &line : lines)
    text += line + "\n";
  return text;
}

Vok_Select_Document airlines ()
{
  Vok_Select_Document select (Vok_Select_Type::sselect);
  select.content.push_back (Vok_Select_Document::table ("SCARR"));
  for (const char *field : {"CARRID", "CARRNAME", "CURRCODE"})
    select.content.push_back (Vok_Select_Document::field (field));
  select.content.push_back (Vok_Select_Document::orderby ("CARRID"));
  return select;
}

// Every booking with every booking: far more rows than the sockets on the way hold.
Vok_Select_Document endless ()
{
  Vok_Select_Document outer (Vok_Select_Type::sselect);
  Vok_Xml_Element aliased = Vok_Select_Document::table ("SBOOK");
  aliased.set_attribute ("alias", "a");
  outer.content.push_back (aliased);
  outer.content.push_back (Vok_Select_Document::field ("BOOKID"));
  Vok_Select_Document inner (Vok_Select_Type::sselect);
  inner.content.push_back (Vok_Select_Document::table ("SBOOK"));
  inner.content.push_back (Vok_Select_Document::field ("BOOKID"));
  Vok_Select_Document select (Vok_Select_Type::nselect);
  select.content.push_back (outer.element ());
  select.content.push_back (inner.element ());
  return select;
}

class Sap_Fault : public testing::Test
{
protected:
  // sapsim inherits the short partner time-out from the environment of this
  // process, which opens no RFC connection itself.
  static void SetUpTestSuite ()
  {
    ::setenv ("RFCLIB_PARTNER_TIMEOUT", std::to_string (partner_timeout_seconds).c_str (), 1);
    sapsim_ = new sapsim_test::SapsimProcess ();
    ::unsetenv ("RFCLIB_PARTNER_TIMEOUT");
  }

  static void TearDownTestSuite ()
  {
    delete sapsim_;
    sapsim_ = nullptr;
  }

  // A server of its own for each case: no worker of an earlier case is
  // still winding down when one counts threads.
  void SetUp () override
  {
    ASSERT_TRUE (sapsim_->ok ()) << sapsim_->error ();
    std::string error;
    server_.process ().set_environment ({"RFCLIB_PARTNER_TIMEOUT=" + std::to_string (partner_timeout_seconds)});
    ASSERT_TRUE (server_.start ({"-U", "Y"}, error)) << error;
    ASSERT_TRUE (proxy_.start ("127.0.0.1", sapsim_->port (), error)) << error;
    direct_ = connect ();
    ASSERT_EQ (log_on (direct_, sapsim_->port ()).outcome, Vok_Logon_Outcome::logged_on);
    expected_airlines_ = query_store ("SELECT CARRID, CARRNAME, CURRCODE FROM SCARR WHERE MANDT = '100' ORDER BY CARRID");
    ASSERT_FALSE (expected_airlines_.empty ());
  }

  Vok_Connection connect (std::chrono::milliseconds reply_timeout = 30s)
  {
    Vok_Connection_Options options;
    options.reply_timeout = reply_timeout;
    Vok_Connection connection (options);
    EXPECT_TRUE (connection.connect ("127.0.0.1", static_cast<std::uint16_t> (server_.port ())).ok ());
    return connection;
  }

  static Vok_Logon_Reply log_on (Vok_Connection &control, int sap_port)
  {
    return Vok_Logon ().log_on (control, "<connect gwhost=\"127.0.0.1\" gwserv=\"" + std::to_string (sap_port)
                                           + "\" client=\"100\" user=\"DEMO\" passwd=\"demo\"/>");
  }

  // A control connection whose RFC connections go through the proxy.
  Vok_Connection proxied_logon ()
  {
    Vok_Connection control = connect ();
    const Vok_Logon_Reply reply = log_on (control, proxy_.port ());
    EXPECT_EQ (reply.outcome, Vok_Logon_Outcome::logged_on) << joined (reply.error_lines);
    return control;
  }

  // Runs a select with data and metadata; the rows decoded to text when
  // `rows` is given; `on_row` sees each row's number from 1.
  Vok_Extraction_Result run (const std::string &chandle, Vok_Select_Document select, Rows *rows = nullptr,
                             std::function<void (std::uint64_t)> on_row = {})
  {
    select.data = true;
    select.metadata = true;
    std::uint64_t seen = 0;
    Vok_Extraction_Handlers handlers;
    handlers.on_row = [rows, on_row, &seen] (std::string_view row, const Vok_Layout &layout) {
      if (rows)
        {
          std::vector<std::string> values;
          for (const Vok_Column &column : layout.columns)
            {
              std::string text;
              const Vok_Status decoded = vok_decode_value (column, row, text);
              if (!decoded.ok ())
                return decoded;
              values.push_back (text);
            }
          rows->push_back (values);
        }
      if (on_row)
        on_row (++seen);
      return Vok_Status ();
    };
    return Vok_Extraction ().run ("127.0.0.1", static_cast<std::uint16_t> (server_.port ()), chandle, select,
                                  handlers);
  }

  // The client with the direct logon gets its small select, rows exact.
  bool bystander_served ()
  {
    Rows rows;
    const Vok_Extraction_Result result = run (direct_.handle (), airlines (), &rows);
    return result.outcome == Vok_Extraction_Outcome::completed && rows == expected_airlines_;
  }

  // Waits until the server runs no more threads than `count`; its thread count then.
  int threads_down_to (int count)
  {
    const auto deadline = Clock::now () + 30s;
    while (server_.thread_count () > count && Clock::now () < deadline)
      std::this_thread::sleep_for (50ms);
    return server_.thread_count ();
  }

  static Rows query_store (const std::string &sql)
  {
    Rows rows;
    sqlite3 *db = nullptr;
    const std::string path = sapsim_->data_path () + "/sapsim.db";
    if (sqlite3_open_v2 (path.c_str (), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
      {
        ADD_FAILURE () << "cannot open " << path;
        sqlite3_close (db);
        return rows;
      }
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2 (db, sql.c_str (), -1, &statement, nullptr) != SQLITE_OK)
      ADD_FAILURE () << sqlite3_errmsg (db);
    while (statement && sqlite3_step (statement) == SQLITE_ROW)
      {
        std::vector<std::string> values;
        for (int i = 0; i < sqlite3_column_count (statement); ++i)
          {
            const unsigned char *text = sqlite3_column_text (statement, i);
            values.emplace_back (text ? reinterpret_cast<const char *> (text) : "");
          }
        rows.push_back (values);
      }
    sqlite3_finalize (statement);
    sqlite3_close (db);
    return rows;
  }

  static sapsim_test::SapsimProcess *sapsim_;
  Server_Process server_;
  vurude::test::FaultProxy proxy_;
  Vok_Connection direct_;
  Rows expected_airlines_;
};

sapsim_test::SapsimProcess *Sap_Fault::sapsim_ = nullptr;

TEST_F (Sap_Fault, AddedLatencyStillGivesExactRows)
{
  proxy_.set_latency (20ms);
  Vok_Connection control = proxied_logon ();
  Rows rows;
  const Vok_Extraction_Result result = run (control.handle (), airlines (), &rows);
  EXPECT_EQ (result.outcome, Vok_Extraction_Outcome::completed) << joined (result.error_lines);
  EXPECT_EQ (rows, expected_airlines_);
  EXPECT_TRUE (bystander_served ());
}

TEST_F (Sap_Fault, ResetDuringTheLogonGivesErrorLines)
{
  proxy_.reset_after (40);  // inside the logon's first frame
  Vok_Connection control = connect ();
  const Vok_Logon_Reply reply = log_on (control, proxy_.port ());
  ASSERT_EQ (reply.outcome, Vok_Logon_Outcome::refused) << reply.status.message ();
  EXPECT_TRUE (reply.status.ok ()) << "the connection did not end after the error lines: " << reply.status.message ();
  EXPECT_TRUE (has_line (reply.error_lines, "RFC Error:")) << joined (reply.error_lines);
  EXPECT_TRUE (has_line (reply.error_lines, "Key        : RFC_ERROR_COMMUNICATION")) << joined (reply.error_lines);
  EXPECT_GE (proxy_.resets (), 1u);
  EXPECT_TRUE (bystander_served ());
}

TEST_F (Sap_Fault, ResetDuringTheDataTransferEndsTheRequestWithErrorLines)
{
  Vok_Connection control = proxied_logon ();
  const Vok_Extraction_Result result = run (control.handle (), endless (), nullptr, [this] (std::uint64_t row) {
    if (row == 1)
      proxy_.reset_all ();
  });
  EXPECT_EQ (result.outcome, Vok_Extraction_Outcome::server_error) << result.status.message ();
  EXPECT_TRUE (has_line (result.error_lines, "RFC Error:")) << joined (result.error_lines);
  EXPECT_TRUE (has_line (result.error_lines, "Key        : RFC_ERROR_COMMUNICATION")) << joined (result.error_lines);
  EXPECT_FALSE (result.end_record);
  EXPECT_TRUE (bystander_served ());
}

TEST_F (Sap_Fault, BlackHoleOnLogonGivesErrorLinesWithinTheHandshakeBound)
{
  proxy_.set_black_hole (true);
  // Longer than the server's 30 s bound on the logon's answer.
  Vok_Connection control = connect (60s);
  const Clock::time_point start = Clock::now ();
  auto logon = std::async (std::launch::async, [&control, this] { return log_on (control, proxy_.port ()); });
  EXPECT_TRUE (bystander_served ());
  const Vok_Logon_Reply reply = logon.get ();
  EXPECT_LT (Clock::now () - start, 45s);
  ASSERT_EQ (reply.outcome, Vok_Logon_Outcome::refused) << reply.status.message ();
  EXPECT_TRUE (has_line (reply.error_lines, "Error Group: 2")) << joined (reply.error_lines);
  const bool explained = std::any_of (reply.error_lines.begin (), reply.error_lines.end (), [] (const std::string &line) {
    return line.rfind ("Message    : no answer to the logon from 127.0.0.1:", 0) == 0;
  });
  EXPECT_TRUE (explained) << joined (reply.error_lines);
}

TEST_F (Sap_Fault, BlackHoleDuringASelectEndsTheWorkerWithinThePartnerTimeout)
{
  Vok_Connection control = proxied_logon ();
  const int idle_threads = server_.thread_count ();
  Clock::time_point held;
  std::future<bool> bystander;
  const Vok_Extraction_Result result = run (control.handle (), endless (), nullptr, [&] (std::uint64_t row) {
    if (row != 1)
      return;
    proxy_.hold_established ();
    held = Clock::now ();
    bystander = std::async (std::launch::async, [this] { return bystander_served (); });
  });
  const Clock::duration gave_up_after = Clock::now () - held;
  EXPECT_EQ (result.outcome, Vok_Extraction_Outcome::server_error) << result.status.message ();
  EXPECT_TRUE (has_line (result.error_lines, "Message    : partner sent nothing for "
                                               + std::to_string (partner_timeout_seconds) + " s"))
    << joined (result.error_lines);
  EXPECT_GE (gave_up_after, std::chrono::seconds (partner_timeout_seconds) - 1s);
  EXPECT_LT (gave_up_after, std::chrono::seconds (partner_timeout_seconds) + 15s);
  ASSERT_TRUE (bystander.valid ());
  EXPECT_TRUE (bystander.get ());
  EXPECT_EQ (threads_down_to (idle_threads), idle_threads);
}

// A client that stops reading its data connection for three partner
// time-outs: the server's worker is stuck writing rows while it serves the
// read report's callback, sapsim waits for the callback's answer, and the
// server's heartbeats keep sapsim from giving up.
TEST_F (Sap_Fault, SlowCallbackIsNotCutOff)
{
  const std::uint64_t bookings
    = std::stoull (query_store ("SELECT COUNT(*) FROM SBOOK WHERE MANDT = '100'").at (0).at (0));
  const Vok_Extraction_Result result = run (direct_.handle (), endless (), nullptr, [] (std::uint64_t row) {
    if (row == 1)
      std::this_thread::sleep_for (std::chrono::seconds (3 * partner_timeout_seconds));
  });
  EXPECT_EQ (result.outcome, Vok_Extraction_Outcome::completed) << joined (result.error_lines);
  EXPECT_TRUE (result.end_record);
  EXPECT_EQ (result.rows, bookings * bookings);
}

// The proxy itself, against an echo on a loopback socket that serves one
// connection after the other: what the cases above rely on.
class Echo
{
public:
  Echo ()
  {
    listen_fd_ = ::socket (AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind (listen_fd_, reinterpret_cast<sockaddr *> (&address), sizeof address);
    ::listen (listen_fd_, 8);
    ::getsockname (listen_fd_, reinterpret_cast<sockaddr *> (&address), &length);
    port_ = ntohs (address.sin_port);
    thread_ = std::thread ([this] {
      int fd;
      while ((fd = ::accept (listen_fd_, nullptr, nullptr)) >= 0)
        {
          char buffer[4096];
          ssize_t n;
          while ((n = ::recv (fd, buffer, sizeof buffer, 0)) > 0)
            vurude::test::send_all (fd, std::string (buffer, static_cast<std::size_t> (n)));
          ::close (fd);
        }
    });
  }
  ~Echo ()
  {
    ::shutdown (listen_fd_, SHUT_RDWR);
    thread_.join ();
    ::close (listen_fd_);
  }
  int port () const { return port_; }

private:
  int listen_fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// Reads until the proxy closes; what arrived and whether it ended with a reset.
std::pair<std::string, bool> read_to_end (int fd)
{
  std::string received;
  char buffer[4096];
  for (;;)
    {
      const ssize_t n = ::recv (fd, buffer, sizeof buffer, 0);
      if (n > 0)
        received.append (buffer, static_cast<std::size_t> (n));
      else
        return {received, n < 0 && errno == ECONNRESET};
    }
}

TEST (Fault_Proxy, PassesBytesOnResetsAfterItsLimitAndHoldsWhatItSwallows)
{
  Echo echo;
  vurude::test::FaultProxy proxy;
  std::string error;
  ASSERT_TRUE (proxy.start ("127.0.0.1", echo.port (), error)) << error;
  proxy.reset_after (15);
  const int fd = vurude::test::connect_loopback (proxy.port ());
  ASSERT_GE (fd, 0);
  timeval bound {10, 0};
  ::setsockopt (fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
  ASSERT_TRUE (vurude::test::send_all (fd, "0123456789"));
  // 10 bytes there and 5 of their echo back, then a reset on both sides.
  const auto [received, reset] = read_to_end (fd);
  EXPECT_EQ (received, "01234");
  EXPECT_TRUE (reset);
  ::close (fd);
  EXPECT_EQ (proxy.resets (), 1u);

  proxy.pass_through ();
  proxy.set_black_hole (true);
  const int held = vurude::test::connect_loopback (proxy.port ());
  ASSERT_GE (held, 0);
  ASSERT_TRUE (vurude::test::send_all (held, "lost"));
  ::setsockopt (held, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
  ASSERT_TRUE (proxy.wait_accepted (2, 10s));
  proxy.stop ();  // closes what it held
  EXPECT_EQ (read_to_end (held).first, "");
  ::close (held);
}
}
