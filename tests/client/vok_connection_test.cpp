// A connection against a scripted server: requests in continuation lines and
// the "OK" after each, text lines however the segments fall, data records,
// time-outs and end of file, and that a failed read loses nothing.
#include "script_server.h"
#include "vok_connection.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace
{
using namespace std::chrono_literals;
using namespace std::string_literals;

const std::string handle = "000100000000DEADBEEF";
const std::string greeting = padded_greeting (handle);

// A connection to a scripted server; the script's faults are checked when
// the test ends.
class Connection_Test : public testing::Test
{
protected:
  void start (std::vector<Script_Step> script, Vok_Connection_Options options = {})
  {
    script.insert (script.begin (), send (greeting));
    server_ = std::make_unique<Script_Server> (std::move (script));
    // The greeting may take its time on a loaded machine whatever the test
    // then waits for.
    Vok_Connection_Options greeting_options = options;
    greeting_options.reply_timeout = 10s;
    connection_ = Vok_Connection (greeting_options);
    const Vok_Status status = connection_.connect ("127.0.0.1", server_->port ());
    ASSERT_TRUE (status.ok ()) << status.message ();
    ASSERT_EQ (connection_.handle (), handle);
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

  std::string line ()
  {
    std::string text;
    const Vok_Status status = connection_.read_line (text);
    EXPECT_TRUE (status.ok ()) << status.message ();
    return text;
  }

  static Vok_Connection_Options short_replies ()
  {
    Vok_Connection_Options options;
    options.reply_timeout = 100ms;
    return options;
  }

  std::unique_ptr<Script_Server> server_;
  Vok_Connection connection_;
};

TEST_F (Connection_Test, ShortRequestIsOneLine)
{
  start ({expect ("<connect/>\n"), send ("OK\n"), expect_closed ()});
  ASSERT_TRUE (connection_.send_request ("<connect/>").ok ());
  EXPECT_EQ (line (), "OK");
}

TEST_F (Connection_Test, LongRequestWaitsForOkAfterEachContinuationLine)
{
  Vok_Connection_Options options;
  options.max_request_line = 8;
  // Each "OK" comes in two segments, the reply in one segment per byte.
  start ({expect ("abcdef\\\n"), send_bytewise ("OK\n"), expect ("ghijkl\\\n"), send_bytewise ("OK\n"),
          expect ("mn\n"), send_bytewise ("D,RESULT,1\nEOF\n"), expect_closed ()},
         options);
  const Vok_Status status = connection_.send_request ("abcdefghijklmn");
  ASSERT_TRUE (status.ok ()) << status.message ();
  EXPECT_EQ (line (), "D,RESULT,1");
  EXPECT_EQ (line (), "EOF");
}

struct Answer_Case
{
  const char *name;
  std::vector<Script_Step> answer;  // what the server does after the first continuation line
  Vok_Result result;
  std::string server_reply;
  // Failures name the case, not its bytes.
  friend void PrintTo (const Answer_Case &c, std::ostream *os) { *os << c.name; }
};

class Continuation_Answer : public Connection_Test, public testing::WithParamInterface<Answer_Case> {};

// Any answer but "OK" ends the request: the lines after it are never sent
// (the script's closing step would see them).
TEST_P (Continuation_Answer, OtherThanOkEndsTheRequest)
{
  const Answer_Case &c = GetParam ();
  Vok_Connection_Options options = c.result == Vok_Result::timed_out ? short_replies () : Vok_Connection_Options ();
  options.max_request_line = 8;
  std::vector<Script_Step> script {expect ("abcdef\\\n")};
  script.insert (script.end (), c.answer.begin (), c.answer.end ());
  start (script, options);

  const Vok_Status status = connection_.send_request ("abcdefghijklmn");
  EXPECT_EQ (status.result (), c.result) << status.message ();
  EXPECT_EQ (status.server_reply (), c.server_reply);
  EXPECT_NE (status.message ().find ("request line 1 of 3"), std::string::npos) << status.message ();
}

INSTANTIATE_TEST_SUITE_P (
  Cases, Continuation_Answer,
  testing::Values (
    Answer_Case {"ErrorLine", {send ("E,request not accepted\n"), expect_closed ()}, Vok_Result::rejected,
                 "E,request not accepted"},
    Answer_Case {"OtherWord", {send ("OKAY\n"), expect_closed ()}, Vok_Result::rejected, "OKAY"},
    Answer_Case {"EmptyLine", {send ("\n"), expect_closed ()}, Vok_Result::rejected, ""},
    Answer_Case {"Silence", {expect_closed ()}, Vok_Result::timed_out, ""},
    Answer_Case {"OkCutOff", {send ("OK"), expect_closed ()}, Vok_Result::timed_out, ""},
    Answer_Case {"Close", {close_connection ()}, Vok_Result::closed, ""}),
  [] (const auto &test) { return std::string (test.param.name); });

TEST_F (Connection_Test, UnframableRequestSendsNothing)
{
  start ({expect_closed ()});
  const Vok_Status status = connection_.send_request ("WHERETXT path C:\\");
  EXPECT_EQ (status.result (), Vok_Result::invalid_argument) << status.message ();
}

TEST_F (Connection_Test, RequestOnClosedConnectionIsNotConnected)
{
  start ({expect_closed ()});
  connection_.close ();
  EXPECT_EQ (connection_.send_request ("x").result (), Vok_Result::not_connected);
  std::string text;
  EXPECT_EQ (connection_.read_line (text).result (), Vok_Result::not_connected);
}

TEST_F (Connection_Test, LinesAreCutFromAnySegments)
{
  // The greeting and the first replies in one segment, then one per byte.
  server_ = std::make_unique<Script_Server> (std::vector<Script_Step> {
    send (greeting + "SIPROTO 011\nSIHOST app"), send_bytewise ("01   \nOK\n\nE,\xC3\xA4 done\n"),
    expect_closed ()});
  connection_ = Vok_Connection ();
  ASSERT_TRUE (connection_.connect ("127.0.0.1", server_->port ()).ok ());
  EXPECT_EQ (line (), "SIPROTO 011");
  EXPECT_EQ (line (), "SIHOST app01   ");
  EXPECT_EQ (line (), "OK");
  EXPECT_EQ (line (), "");
  EXPECT_EQ (line (), "E,\xC3\xA4 done");
}

TEST_F (Connection_Test, LinesUntilTerminator)
{
  start ({send ("D,A,1\nD,B,2\nEOF\nnext\n"), expect_closed ()});
  std::vector<std::string> lines;
  const Vok_Status status = connection_.read_lines_until ("EOF", lines, 10);
  ASSERT_TRUE (status.ok ()) << status.message ();
  EXPECT_EQ (lines, (std::vector<std::string> {"D,A,1", "D,B,2"}));
  EXPECT_EQ (line (), "next");
}

TEST_F (Connection_Test, LinesUntilTerminatorAreBoundedInNumber)
{
  start ({send ("a\nb\nc\nEOF\n"), expect_closed ()});
  std::vector<std::string> lines;
  EXPECT_EQ (connection_.read_lines_until ("EOF", lines, 2).result (), Vok_Result::too_long);
  EXPECT_EQ (lines, (std::vector<std::string> {"a", "b"}));
}

TEST_F (Connection_Test, LinesUntilTerminatorEndByClose)
{
  start ({send ("a\n"), close_connection ()});
  std::vector<std::string> lines;
  EXPECT_EQ (connection_.read_lines_until ("EOF", lines, 10).result (), Vok_Result::closed);
  EXPECT_EQ (lines, (std::vector<std::string> {"a"}));
}

TEST_F (Connection_Test, TooLongLineLosesNothing)
{
  Vok_Connection_Options options;
  options.max_line_bytes = 16;
  start ({send (std::string (20, 'x') + "\nshort\n"), close_connection ()}, options);
  std::string text;
  EXPECT_EQ (connection_.read_line (text).result (), Vok_Result::too_long);
  std::string rest;
  ASSERT_TRUE (connection_.read_until_closed (rest, 100).ok ());
  EXPECT_EQ (rest, std::string (20, 'x') + "\nshort\n");
}

// The server holds back the rest until the client has given up once and
// said "go": the time-out is certain, and the part read before it is kept.
TEST_F (Connection_Test, TimedOutLineLosesNothing)
{
  start ({send ("E,par"), expect ("go\n"), send ("tial\n"), expect_closed ()}, short_replies ());
  std::string text;
  EXPECT_EQ (connection_.read_line (text).result (), Vok_Result::timed_out);
  ASSERT_TRUE (connection_.send_request ("go").ok ());
  connection_.set_options ({});
  EXPECT_EQ (line (), "E,partial");
}

TEST_F (Connection_Test, EndOfFileIsItsOwnResult)
{
  start ({send ("last\n"), close_connection ()});
  EXPECT_EQ (line (), "last");
  std::string text;
  const Vok_Status status = connection_.read_line (text);
  EXPECT_EQ (status.result (), Vok_Result::closed) << status.message ();
  // And stays so.
  EXPECT_EQ (connection_.read_line (text).result (), Vok_Result::closed);
}

TEST_F (Connection_Test, EndOfFileWithinALineKeepsItsBytes)
{
  start ({send ("E,cut"), close_connection ()});
  std::string text;
  const Vok_Status status = connection_.read_line (text);
  EXPECT_EQ (status.result (), Vok_Result::closed);
  EXPECT_NE (status.message ().find ("after 5 bytes"), std::string::npos) << status.message ();
  std::string rest;
  ASSERT_TRUE (connection_.read_until_closed (rest, 100).ok ());
  EXPECT_EQ (rest, "E,cut");
}

TEST_F (Connection_Test, RecordsOfADataConnection)
{
  start ({send ("ROW1\x00" "ROW2\x01"s), send_bytewise ("R\0W3\x00" "\0\0\0\0X"s),
          send ("\0\0\0\0\xFF"s), close_connection ()});
  std::vector<std::pair<Vok_Record_Kind, std::string>> got;
  Vok_Record record;
  Vok_Status status;
  while ((status = connection_.read_record (4, record)).ok ())
    got.emplace_back (record.kind (), record.row ());
  EXPECT_EQ (status.result (), Vok_Result::closed) << status.message ();
  const std::string zeros (4, '\0');
  EXPECT_EQ (got, (std::vector<std::pair<Vok_Record_Kind, std::string>> {
                    {Vok_Record_Kind::row, "ROW1"},
                    {Vok_Record_Kind::row, "ROW2"},
                    {Vok_Record_Kind::row, "R\0W3"s},
                    {Vok_Record_Kind::error, zeros},
                    {Vok_Record_Kind::end, zeros}}));
}

TEST_F (Connection_Test, RecordCutOffByClose)
{
  start ({send ("ROW1\x00" "RO"s), close_connection ()});
  Vok_Record record;
  ASSERT_TRUE (connection_.read_record (4, record).ok ());
  const Vok_Status status = connection_.read_record (4, record);
  EXPECT_EQ (status.result (), Vok_Result::closed);
  EXPECT_NE (status.message ().find ("after 2 of its 5 bytes"), std::string::npos) << status.message ();
}

TEST_F (Connection_Test, BadRecordIsLeftUnread)
{
  start ({send ("AB\0\0\xFF"s), close_connection ()});
  Vok_Record record;
  EXPECT_EQ (connection_.read_record (4, record).result (), Vok_Result::bad_record);
  std::string rest;
  ASSERT_TRUE (connection_.read_until_closed (rest, 100).ok ());
  EXPECT_EQ (rest, "AB\0\0\xFF"s);
}

TEST_F (Connection_Test, TimedOutRecordLosesNothing)
{
  start ({send ("RO"), expect ("go\n"), send ("W1\x01"s), expect_closed ()}, short_replies ());
  Vok_Record record;
  EXPECT_EQ (connection_.read_record (4, record).result (), Vok_Result::timed_out);
  ASSERT_TRUE (connection_.send_request ("go").ok ());
  connection_.set_options ({});
  const Vok_Status status = connection_.read_record (4, record);
  ASSERT_TRUE (status.ok ()) << status.message ();
  EXPECT_EQ (record.row (), "ROW1");
}

TEST_F (Connection_Test, RecordWiderThanTheBoundIsRefused)
{
  Vok_Connection_Options options;
  options.max_record_bytes = 64;
  start ({expect_closed ()}, options);
  Vok_Record record;
  EXPECT_EQ (connection_.read_record (64, record).result (), Vok_Result::too_long);
}

TEST_F (Connection_Test, ReadUntilClosedIsBounded)
{
  start ({send (std::string (100, 'r')), close_connection ()});
  std::string bytes;
  EXPECT_EQ (connection_.read_until_closed (bytes, 99).result (), Vok_Result::too_long);
  EXPECT_TRUE (bytes.empty ());
  ASSERT_TRUE (connection_.read_until_closed (bytes, 100).ok ());
  EXPECT_EQ (bytes, std::string (100, 'r'));
}

TEST_F (Connection_Test, ReadUntilClosedTimesOutOnSilence)
{
  start ({send ("some"), expect_closed ()}, short_replies ());
  std::string bytes;
  EXPECT_EQ (connection_.read_until_closed (bytes, 100).result (), Vok_Result::timed_out);
}

TEST_F (Connection_Test, ShutdownSendLetsTheServerSeeEndOfFile)
{
  start ({expect ("bye\n"), expect_closed (), send ("E,closing\n")});
  ASSERT_TRUE (connection_.send_request ("bye").ok ());
  ASSERT_TRUE (connection_.shutdown_send ().ok ());
  EXPECT_EQ (line (), "E,closing");
}
}
