// The greeting: its two forms, what the client accepts as a handle, and what
// connect makes of a server that greets wrongly or not at all.
#include "script_server.h"
#include "vok_connection.h"
#include "vok_greeting.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ostream>

namespace
{
using namespace std::chrono_literals;

const std::string handle = "004200007F3A12B4C5D6";

struct Parse_Case
{
  const char *name;
  Vok_Greeting_Form form;
  std::string line;
  Vok_Result result;
  std::string handle;
  // Failures name the case, not its bytes.
  friend void PrintTo (const Parse_Case &c, std::ostream *os) { *os << c.name; }
};

class Greeting_Parse : public testing::TestWithParam<Parse_Case> {};

TEST_P (Greeting_Parse, YieldsTheHandleOrNamesTheFault)
{
  const Parse_Case &c = GetParam ();
  std::string parsed = "stale";
  const Vok_Status status = Vok_Greeting::parse (c.line, c.form, parsed);
  EXPECT_EQ (status.result (), c.result) << status.message ();
  EXPECT_EQ (parsed, c.handle);
}

const Vok_Greeting_Form padded = Vok_Greeting_Form::padded;
const Vok_Greeting_Form handle_line = Vok_Greeting_Form::handle_line;

INSTANTIATE_TEST_SUITE_P (
  Cases, Greeting_Parse,
  testing::Values (
    Parse_Case {"Padded", padded, padded_greeting (handle), Vok_Result::ok, handle},
    Parse_Case {"PaddedFullWidth", padded, std::string (129, 'H') + "\n", Vok_Result::ok, std::string (129, 'H')},
    Parse_Case {"PaddedOnlyBlanks", padded, padded_greeting (""), Vok_Result::bad_greeting, ""},
    Parse_Case {"PaddedInnerBlank", padded, padded_greeting ("0042 0000"), Vok_Result::bad_greeting, ""},
    Parse_Case {"PaddedLeadingBlank", padded, padded_greeting (" " + handle), Vok_Result::bad_greeting, ""},
    Parse_Case {"PaddedControlCharacter", padded, padded_greeting ("0042\t0000"), Vok_Result::bad_greeting, ""},
    Parse_Case {"PaddedShort", padded, handle + "\n", Vok_Result::bad_greeting, ""},
    Parse_Case {"PaddedWithoutLineFeed", padded, padded_greeting (handle).substr (0, 129) + " ",
                Vok_Result::bad_greeting, ""},
    Parse_Case {"HandleLine", handle_line, "HANDLE " + handle + "\n", Vok_Result::ok, handle},
    Parse_Case {"HandleLineTrailingBlanks", handle_line, "HANDLE " + handle + "  \n", Vok_Result::ok, handle},
    Parse_Case {"HandleLineEmpty", handle_line, "HANDLE \n", Vok_Result::bad_greeting, ""},
    Parse_Case {"HandleLineWrongWord", handle_line, "HANDEL " + handle + "\n", Vok_Result::bad_greeting, ""},
    Parse_Case {"HandleLineTooLong", handle_line, "HANDLE " + std::string (130, 'H') + "\n",
                Vok_Result::bad_greeting, ""},
    Parse_Case {"PaddedFormOnDialogPort", handle_line, padded_greeting (handle), Vok_Result::bad_greeting, ""},
    Parse_Case {"DialogFormOnMainPort", padded, "HANDLE " + handle + "\n", Vok_Result::bad_greeting, ""}),
  [] (const auto &test) { return std::string (test.param.name); });

struct Connect_Case
{
  const char *name;
  Vok_Greeting_Form form;
  std::vector<Script_Step> script;
  Vok_Result result;
  std::string handle;
  // Failures name the case, not its bytes.
  friend void PrintTo (const Connect_Case &c, std::ostream *os) { *os << c.name; }
};

class Greeting_Connect : public testing::TestWithParam<Connect_Case> {};

TEST_P (Greeting_Connect, ConnectReadsTheGreeting)
{
  const Connect_Case &c = GetParam ();
  Script_Server server (c.script);
  Vok_Connection_Options options;
  options.greeting = c.form;
  options.reply_timeout = c.result == Vok_Result::timed_out ? 100ms : 10s;
  Vok_Connection connection (options);

  const Vok_Status status = connection.connect ("127.0.0.1", server.port ());

  EXPECT_EQ (status.result (), c.result) << status.message ();
  EXPECT_EQ (connection.handle (), c.handle);
  EXPECT_EQ (connection.is_open (), status.ok ());
  connection.close ();
  EXPECT_EQ (server.finish (), "");
}

const std::string greeting = padded_greeting (handle);

INSTANTIATE_TEST_SUITE_P (
  Cases, Greeting_Connect,
  testing::Values (
    Connect_Case {"Padded", padded, {send (greeting), expect_closed ()}, Vok_Result::ok, handle},
    Connect_Case {"PaddedInSegmentsOfOneByte", padded, {send_bytewise (greeting), expect_closed ()},
                  Vok_Result::ok, handle},
    Connect_Case {"HandleLine", handle_line, {send ("HANDLE " + handle + "\n"), expect_closed ()},
                  Vok_Result::ok, handle},
    Connect_Case {"ShortLine", padded, {send (handle + "\n"), expect_closed ()}, Vok_Result::bad_greeting, ""},
    Connect_Case {"LineFeedMissingAtByte130", padded, {send (std::string (130, 'H') + "\n"), expect_closed ()},
                  Vok_Result::bad_greeting, ""},
    Connect_Case {"CutOffByClose", padded, {send (greeting.substr (0, 60)), close_connection ()},
                  Vok_Result::closed, ""},
    Connect_Case {"ClosedAtOnce", padded, {close_connection ()}, Vok_Result::closed, ""},
    Connect_Case {"NoGreeting", padded, {expect_closed ()}, Vok_Result::timed_out, ""},
    Connect_Case {"HandleLineCutOff", handle_line, {send ("HANDLE 0042"), expect_closed ()},
                  Vok_Result::timed_out, ""}),
  [] (const auto &test) { return std::string (test.param.name); });

TEST (Greeting_Connect_Failure, RefusedPortIsConnectFailed)
{
  // A bound socket that does not listen: the port stays ours and refuses.
  const int fd = ::socket (AF_INET, SOCK_STREAM, 0);
  sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ (::bind (fd, reinterpret_cast<sockaddr *> (&address), sizeof address), 0);
  ASSERT_EQ (::getsockname (fd, reinterpret_cast<sockaddr *> (&address), &length), 0);

  Vok_Connection connection;
  const Vok_Status status = connection.connect ("127.0.0.1", ntohs (address.sin_port));
  ::close (fd);

  EXPECT_EQ (status.result (), Vok_Result::connect_failed) << status.message ();
  EXPECT_NE (status.message ().find ("refused"), std::string::npos) << status.message ();
  EXPECT_FALSE (connection.is_open ());
}
}
