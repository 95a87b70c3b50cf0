// The logon against a scripted server: the system information line ends a
// logon, error lines and the close refuse it, other lines are program lines,
// and silence, an early close or too much is a failure of its own.
#include "script_server.h"
#include "vok_connect_document.h"
#include "vok_connection.h"
#include "vok_logon.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace
{
using namespace std::chrono_literals;

const std::string handle = "000100000000DEADBEEF";
const std::string system_info =
  "0114103LITIE3sim_SIM_00                         sim     SIM4103,LIT,IE3,W,/VOK/,2,4103,";
const std::string request = "<connect client=\"100\" passwd=\"secret\" user=\"ANALYST\"/>\n";

Vok_Connect_Document logon_document ()
{
  Vok_Connect_Document document;
  document.client = "100";
  document.user = "ANALYST";
  document.passwd = "secret";
  return document;
}

using Lines = std::vector<std::string>;

class Logon_Test : public testing::Test
{
protected:
  // Connects to a server that greets, then plays `script`.
  void start (std::vector<Script_Step> script, Vok_Connection_Options options = long_replies ())
  {
    script.insert (script.begin (), send (padded_greeting (handle)));
    server_ = std::make_unique<Script_Server> (std::move (script));
    Vok_Connection_Options greeting_options = options;
    greeting_options.reply_timeout = 10s;
    connection_ = Vok_Connection (greeting_options);
    const Vok_Status status = connection_.connect ("127.0.0.1", server_->port ());
    ASSERT_TRUE (status.ok ()) << status.message ();
    connection_.set_options (options);
  }

  void TearDown () override
  {
    connection_.close ();
    if (server_)
      {
        EXPECT_EQ (server_->finish (), "");
      }
  }

  static Vok_Connection_Options long_replies ()
  {
    Vok_Connection_Options options;
    options.reply_timeout = 10s;
    return options;
  }

  static Vok_Connection_Options short_replies ()
  {
    Vok_Connection_Options options;
    options.reply_timeout = 500ms;
    return options;
  }

  std::unique_ptr<Script_Server> server_;
  Vok_Connection connection_;
};

// --- What the reply says, case by case ---

struct Reply_Case
{
  const char *name;
  std::vector<Script_Step> reply;  // after the request has arrived
  bool times_out;                  // the server falls silent: short reply timeout
  Vok_Logon_Outcome outcome;
  Vok_Result status;
  std::string system_info;
  Lines program_lines;
  Lines error_lines;
  friend void PrintTo (const Reply_Case &c, std::ostream *os) { *os << c.name; }
};

class Logon_Reply : public Logon_Test, public testing::WithParamInterface<Reply_Case> {};

TEST_P (Logon_Reply, IsReadToItsEnd)
{
  const Reply_Case &c = GetParam ();
  std::vector<Script_Step> script {expect (request)};
  script.insert (script.end (), c.reply.begin (), c.reply.end ());
  start (script, c.times_out ? short_replies () : long_replies ());
  const Vok_Logon_Reply reply = Vok_Logon ().log_on (connection_, logon_document ());
  EXPECT_EQ (reply.outcome, c.outcome);
  EXPECT_EQ (reply.status.result (), c.status) << reply.status.message ();
  EXPECT_EQ (reply.system_info, c.system_info);
  EXPECT_EQ (reply.program_lines, c.program_lines);
  EXPECT_EQ (reply.error_lines, c.error_lines);
}

const Vok_Logon_Outcome logged_on = Vok_Logon_Outcome::logged_on;
const Vok_Logon_Outcome refused = Vok_Logon_Outcome::refused;
const Vok_Logon_Outcome failed = Vok_Logon_Outcome::failed;
const std::vector<std::string> rfc_error = {"RFC Error:", "Error Group: 3", "Key        : RFC_ERROR_LOGON_FAILURE",
                                            "Message    : Name or password is incorrect (repeat logon)"};

std::string error_reply (const Lines &lines)
{
  std::string text;
  for (const std::string &line : lines)
    text += "E," + line + "\n";
  return text;
}

INSTANTIATE_TEST_SUITE_P (
  Cases, Logon_Reply,
  testing::Values (
    Reply_Case {"SystemInfoEndsTheLogon", {send (system_info + "\n"), expect_closed ()}, false, logged_on,
                Vok_Result::ok, system_info, {}, {}},
    Reply_Case {"ProgramLinesComeFirst",
                {send ("REPORT ZVOK.\n  WRITE 'X'.\n" + system_info + "\n"), expect_closed ()}, false, logged_on,
                Vok_Result::ok, system_info, {"REPORT ZVOK.", "  WRITE 'X'."}, {}},
    Reply_Case {"SystemInfoInOneByteSegments", {send_bytewise (system_info + "\n"), expect_closed ()}, false,
                logged_on, Vok_Result::ok, system_info, {}, {}},
    Reply_Case {"RfcErrorThenClose", {send (error_reply (rfc_error)), close_connection ()}, false, refused,
                Vok_Result::ok, "", {}, rfc_error},
    Reply_Case {"ParseErrorWithItsEmptyLine",
                {send ("E,Fatal Error at line 21, column 9. Message: expected =\n\n"), close_connection ()}, false,
                refused, Vok_Result::ok, "", {}, {"Fatal Error at line 21, column 9. Message: expected ="}},
    Reply_Case {"ProgramLinesThenException", {send ("GEN 1\nE,RFC Exception: NO_AUTHORITY\n"), close_connection ()},
                false, refused, Vok_Result::ok, "", {"GEN 1"}, {"RFC Exception: NO_AUTHORITY"}},
    Reply_Case {"SystemInfoAfterAnErrorIsNoLogon",
                {send ("E,RfcGetData failed\n" + system_info + "\n"), close_connection ()}, false, refused,
                Vok_Result::ok, system_info, {}, {"RfcGetData failed"}},
    Reply_Case {"ErrorLineHoldingTheMarker", {send ("E," + system_info + "\n"), close_connection ()}, false, refused,
                Vok_Result::ok, "", {}, {system_info}},
    Reply_Case {"LastLineCutByTheClose", {send ("E,RFC Error:\nE,Message    : cut"), close_connection ()}, false,
                refused, Vok_Result::ok, "", {}, {"RFC Error:", "Message    : cut"}},
    Reply_Case {"ErrorsWithoutClose", {send ("E,RFC Error:\n"), expect_closed ()}, true, refused,
                Vok_Result::timed_out, "", {}, {"RFC Error:"}},
    Reply_Case {"CloseWithoutAnswer", {close_connection ()}, false, failed, Vok_Result::closed, "", {}, {}},
    Reply_Case {"CloseAfterProgramLines", {send ("GEN 1\n"), close_connection ()}, false, failed,
                Vok_Result::closed, "", {"GEN 1"}, {}},
    Reply_Case {"Silence", {expect_closed ()}, true, failed, Vok_Result::timed_out, "", {}, {}},
    Reply_Case {"SilenceAfterProgramLines", {send ("GEN 1\n"), expect_closed ()}, true, failed,
                Vok_Result::timed_out, "", {"GEN 1"}, {}}));

// --- The connection around the logon ---

TEST_F (Logon_Test, LinesAfterTheSystemInfoAreLeftForTheCaller)
{
  start ({expect (request), send (system_info + "\nNEXT\n"), expect_closed ()});
  const Vok_Logon_Reply reply = Vok_Logon ().log_on (connection_, logon_document ());
  ASSERT_EQ (reply.outcome, Vok_Logon_Outcome::logged_on) << reply.status.message ();
  std::string line;
  ASSERT_TRUE (connection_.read_line (line).ok ());
  EXPECT_EQ (line, "NEXT");
}

TEST_F (Logon_Test, NumberOfLinesIsBounded)
{
  start ({expect (request), send ("1\n2\n3\n4\n" + system_info + "\n"), expect_closed ()});
  const Vok_Logon_Reply reply = Vok_Logon (3).log_on (connection_, logon_document ());
  EXPECT_EQ (reply.outcome, Vok_Logon_Outcome::failed);
  EXPECT_EQ (reply.status.result (), Vok_Result::too_long) << reply.status.message ();
  EXPECT_EQ (reply.program_lines, (Lines {"1", "2", "3"}));
}

TEST_F (Logon_Test, LineLongerThanTheBoundFails)
{
  Vok_Connection_Options options = long_replies ();
  options.max_line_bytes = 64;
  start ({expect (request), send (std::string (100, 'G') + "\n"), expect_closed ()}, options);
  const Vok_Logon_Reply reply = Vok_Logon ().log_on (connection_, logon_document ());
  EXPECT_EQ (reply.outcome, Vok_Logon_Outcome::failed);
  EXPECT_EQ (reply.status.result (), Vok_Result::too_long) << reply.status.message ();
}

TEST_F (Logon_Test, ErrorInPlaceOfAContinuationOkRefusesTheLogon)
{
  Vok_Connection_Options options = long_replies ();
  options.max_request_line = 16;
  start ({expect (request.substr (0, 14) + "\\\n"), send ("E,Request too large\n"), close_connection ()}, options);
  const Vok_Logon_Reply reply = Vok_Logon ().log_on (connection_, logon_document ());
  EXPECT_EQ (reply.outcome, Vok_Logon_Outcome::refused);
  EXPECT_TRUE (reply.status.ok ()) << reply.status.message ();
  EXPECT_EQ (reply.error_lines, (Lines {"Request too large"}));
}

TEST_F (Logon_Test, DocumentThatCannotBeWrittenSendsNothing)
{
  start ({expect_closed ()});
  Vok_Connect_Document document = logon_document ();
  document.user = "AN\x01";
  const Vok_Logon_Reply reply = Vok_Logon ().log_on (connection_, document);
  EXPECT_EQ (reply.outcome, Vok_Logon_Outcome::failed);
  EXPECT_EQ (reply.status.result (), Vok_Result::invalid_argument) << reply.status.message ();
}

TEST (Logon, SystemInfoLineIsRecognisedByItsMarker)
{
  EXPECT_TRUE (Vok_Logon::is_system_info (system_info));
  EXPECT_TRUE (Vok_Logon::is_system_info (",LIT,IE3,W,"));
  EXPECT_FALSE (Vok_Logon::is_system_info ("E," + system_info));
  EXPECT_FALSE (Vok_Logon::is_system_info ("4103,LIT,IE3,X,/VOK/,2,4103,"));
  EXPECT_FALSE (Vok_Logon::is_system_info ("LIT,IE3,W"));
}
}
