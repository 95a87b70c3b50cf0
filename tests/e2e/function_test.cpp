// Function documents through the server to sapsim's described modules: the
// D lines, values and rows of a call, the logon's shared RFC connection,
// data chunks to named connections, parameter tables, exceptions and system
// failures.
#include "sapsim_process.h"
#include "server_process.h"

#include "vok_base64.h"
#include "vok_connection.h"
#include "vok_logon.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{
// UTF-16LE of ASCII text, padded with blanks to `bytes`.
std::string chars (const std::string &text, std::size_t bytes)
{
  std::string out;
  for (char c : text)
    out += std::string {c, '\0'};
  while (out.size () < bytes)
    out += std::string {' ', '\0'};
  return out.substr (0, bytes);
}

std::string int4 (std::int32_t value)
{
  std::string out (4, '\0');
  std::memcpy (out.data (), &value, 4);
  return out;
}

std::string exporting (const std::string &name, const std::string &bytes, std::size_t intlen, char type = 'C')
{
  return "<parameter name=\"" + name + "\" intlen=\"" + std::to_string (intlen) + "\" type=\"" + type
         + "\" paramclass=\"E\"><i><d>" + vok_base64_encode (bytes) + "</d></i></parameter>";
}

std::string importing (const std::string &name, std::size_t intlen, char type = 'C')
{
  return "<parameter name=\"" + name + "\" intlen=\"" + std::to_string (intlen) + "\" type=\"" + type
         + "\" paramclass=\"I\"/>";
}

class Function_Call : public testing::Test
{
protected:
  static void SetUpTestSuite ()
  {
    sapsim_ = new sapsim_test::SapsimProcess ();
    server_ = new Server_Process ();
    std::string error;
    if (sapsim_->ok ())
      server_->start ({}, error);
  }
  static void TearDownTestSuite ()
  {
    delete server_;
    delete sapsim_;
  }

  void SetUp () override
  {
    ASSERT_TRUE (sapsim_->ok ()) << sapsim_->error ();
    control = connect ();
    const Vok_Logon_Reply logon = Vok_Logon ().log_on (
      control, "<connect gwhost=\"127.0.0.1\" gwserv=\"" + std::to_string (sapsim_->port ())
                 + "\" client=\"100\" user=\"DEMO\" passwd=\"demo\"/>");
    ASSERT_EQ (logon.outcome, Vok_Logon_Outcome::logged_on);
  }

  static Vok_Connection connect ()
  {
    Vok_Connection connection;
    EXPECT_TRUE (connection.connect ("127.0.0.1", static_cast<std::uint16_t> (server_->port ())).ok ());
    return connection;
  }

  std::string function (const std::string &name, const std::string &attributes, const std::string &children)
  {
    return "<function chandle=\"" + control.handle () + "\" name=\"" + name + "\" " + attributes + ">" + children
           + "</function>";
  }

  // Lines of the request connection up to "EOF" or the first error line
  // and the close.
  static std::vector<std::string> answer (Vok_Connection &request)
  {
    std::vector<std::string> lines;
    std::string line;
    while (request.read_line (line).ok ())
      {
        lines.push_back (line);
        if (line == "EOF")
          break;
      }
    return lines;
  }

  // The ECHO and CALLS values of one Z_VOK_ECHO call on `request`.
  std::pair<std::string, std::int32_t> echo (Vok_Connection &request, Vok_Connection &data, const std::string &text,
                                            std::size_t text_intlen = 160)
  {
    EXPECT_TRUE (request
                   .send_request (function ("Z_VOK_ECHO", "dhandle=\"" + data.handle () + "\" data=\"Y\"",
                                            exporting ("TEXT", chars (text, text_intlen), text_intlen)
                                              + importing ("ECHO", 160) + importing ("CALLS", 4, 'B')))
                   .ok ());
    EXPECT_EQ (answer (request), (std::vector<std::string> {"D,ECHO,1", "D,CALLS,1", "EOF"}));
    Vok_Record value, calls;
    EXPECT_TRUE (data.read_record (160, value).ok ());
    EXPECT_TRUE (data.read_record (4, calls).ok ());
    std::string text_back;
    for (std::size_t i = 0; i < 160; i += 2)
      text_back += value.row ()[i];
    std::int32_t count = 0;
    std::memcpy (&count, calls.row ().data (), 4);
    return {text_back.substr (0, text_back.find_last_not_of (' ') + 1), count};
  }

  static sapsim_test::SapsimProcess *sapsim_;
  static Server_Process *server_;
  Vok_Connection control;
};

sapsim_test::SapsimProcess *Function_Call::sapsim_ = nullptr;
Server_Process *Function_Call::server_ = nullptr;

TEST_F (Function_Call, TwoValuesAndATableOfThreeLinesComeBackWithTheirDLines)
{
  Vok_Connection data = connect ();
  Vok_Connection request = connect ();
  ASSERT_TRUE (request
                 .send_request (function (
                   "Z_VOK_FLIGHT_LIST", "dhandle=\"" + data.handle () + "\" data=\"Y\"",
                   exporting ("AIRLINE", chars ("LH", 6), 6) + exporting ("MAX_ROWS", int4 (3), 4, 'B')
                     + importing ("COUNT", 4, 'B') + importing ("CARRNAME", 40)
                     + "<table name=\"CARRIERS\" intlen=\"6\" inputonly=\"Y\"/>"
                       "<table name=\"FLIGHTS\" intlen=\"85\"/>"))
                 .ok ());
  EXPECT_EQ (answer (request), (std::vector<std::string> {"D,COUNT,1", "D,CARRNAME,1", "D,FLIGHTS,3", "EOF"}));
  Vok_Record count, name;
  ASSERT_TRUE (data.read_record (4, count).ok ());
  EXPECT_EQ (count.row (), int4 (3));
  ASSERT_TRUE (data.read_record (40, name).ok ());
  EXPECT_EQ (name.row (), chars ("Lufthansa", 40));
  for (int line = 0; line < 3; ++line)
    {
      Vok_Record flight;
      ASSERT_TRUE (data.read_record (85, flight).ok ()) << line;
      EXPECT_EQ (flight.row ().substr (0, 6), chars ("LH", 6));
    }
  // The connection stays open for the next document.
  EXPECT_EQ (echo (request, data, "again").first, "again");
}

TEST_F (Function_Call, EmptyReturnedTablesAndInputOnlyTablesSendNoDLine)
{
  Vok_Connection data = connect ();
  Vok_Connection request = connect ();
  ASSERT_TRUE (request
                 .send_request (function ("Z_VOK_FLIGHT_LIST", "dhandle=\"" + data.handle () + "\" data=\"Y\"",
                                          exporting ("AIRLINE", chars ("XX", 6), 6) + importing ("COUNT", 4, 'B')
                                            + "<table name=\"CARRIERS\" intlen=\"6\" inputonly=\"Y\"><i><d>"
                                            + vok_base64_encode (chars ("ZZ", 6)) + "</d></i></table>"
                                            + "<table name=\"FLIGHTS\" intlen=\"85\"/>"))
                 .ok ());
  EXPECT_EQ (answer (request), (std::vector<std::string> {"D,COUNT,1", "EOF"}));
}

TEST_F (Function_Call, ConsecutiveCallsShareTheLogonsConnectionAndCutLongValues)
{
  Vok_Connection data = connect ();
  Vok_Connection request = connect ();
  EXPECT_EQ (echo (request, data, "first"), (std::pair<std::string, std::int32_t> {"first", 1}));
  // Another connection of the same logon: the same RFC connection.
  Vok_Connection other_data = connect ();
  Vok_Connection other = connect ();
  EXPECT_EQ (echo (other, other_data, "second"), (std::pair<std::string, std::int32_t> {"second", 2}));
  // Data beyond intlen is cut: 4 bytes are two characters.
  EXPECT_EQ (echo (request, data, "truncated", 4).first, "tr");
}

TEST_F (Function_Call, ExceptionGivesOneLineAndNoDLines)
{
  Vok_Connection request = connect ();
  ASSERT_TRUE (request
                 .send_request (function ("Z_VOK_RAISE", "data=\"Y\"",
                                          exporting ("EXCEPTION", chars ("NOT_FOUND", 60), 60)))
                 .ok ());
  std::string rest;
  ASSERT_TRUE (request.read_until_closed (rest, 1 << 16).ok ());
  EXPECT_EQ (rest, "E,RFC Exception: NOT_FOUND\n");
}

TEST_F (Function_Call, SystemFailureWarnsAndTheNextCallRunsOnANewConnection)
{
  Vok_Connection data = connect ();
  Vok_Connection request = connect ();
  EXPECT_EQ (echo (request, data, "before").second, 1);
  Vok_Connection failing = connect ();
  ASSERT_TRUE (failing.send_request (function ("Z_VOK_ABORT", "data=\"Y\"", "")).ok ());
  std::string rest;
  ASSERT_TRUE (failing.read_until_closed (rest, 1 << 16).ok ());
  EXPECT_EQ (rest.rfind ("E,RFC Error:\n", 0), 0u) << rest;
  EXPECT_NE (rest.find ("\nWarning: RFC Session break caused by invalid RFC handle\n"), std::string::npos) << rest;
  // The logon's next call starts on a fresh connection.
  EXPECT_EQ (echo (request, data, "after").second, 1);
}

TEST_F (Function_Call, ChunksGoToTheNamedConnectionAndAnUnknownHandleIsRefused)
{
  Vok_Connection rows_to = connect ();
  Vok_Connection data = connect ();
  Vok_Connection request = connect ();
  ASSERT_TRUE (request
                 .send_request (function ("Z_VOK_STREAM_TABLE", "dhandle=\"" + data.handle () + "\" data=\"Y\"",
                                          exporting ("QUERY_TABLE", chars ("SCARR", 60), 60)
                                            + exporting ("DHANDLE", chars (rows_to.handle (), 262), 262)
                                            + importing ("ROWS", 4, 'B')))
                 .ok ());
  // The chunk's field lines and its D line come here, its rows go to the
  // connection the module named, the call's own value to its data connection.
  const std::vector<std::string> lines = answer (request);
  ASSERT_GE (lines.size (), 4u);
  EXPECT_EQ (lines[0].rfind ("FIELD,SCARR,CARRID,C,6,0,0,", 0), 0u) << lines[0];
  EXPECT_EQ (std::vector<std::string> (lines.end () - 3, lines.end ()),
             (std::vector<std::string> {"D,SCARR,10", "D,ROWS,1", "EOF"}));
  // CARRID, CARRNAME, CURRCODE and URL: 3 + 20 + 5 + 255 characters.
  for (int r = 0; r < 10; ++r)
    {
      Vok_Record row;
      ASSERT_TRUE (rows_to.read_record (566, row).ok ()) << r;
    }
  Vok_Record count;
  ASSERT_TRUE (data.read_record (4, count).ok ());
  EXPECT_EQ (count.row (), int4 (10));

  Vok_Connection refused = connect ();
  ASSERT_TRUE (refused
                 .send_request (function ("Z_VOK_STREAM_TABLE", "data=\"Y\"",
                                          exporting ("DHANDLE", chars ("0000FFFFFFFFFFFFFFFF", 262), 262)))
                 .ok ());
  std::string rest;
  ASSERT_TRUE (refused.read_until_closed (rest, 1 << 16).ok ());
  EXPECT_EQ (rest, "E,Invalid data handle '0000FFFFFFFFFFFFFFFF' in Z_VOK_DATA_CHUNK\n");
}

TEST_F (Function_Call, ModuleFetchesATableOfTheRequest)
{
  Vok_Connection data = connect ();
  Vok_Connection request = connect ();
  ASSERT_TRUE (request
                 .send_request (function ("Z_VOK_TABLE_FETCH", "dhandle=\"" + data.handle () + "\" data=\"Y\"",
                                          importing ("LINES", 4, 'B') + "<table name=\"INPUT\" intlen=\"144\" "
                                                                        "inputonly=\"Y\"><i><d>"
                                            + vok_base64_encode (chars ("one", 144)) + "</d></i><i><d>"
                                            + vok_base64_encode (chars ("two", 144)) + "</d></i></table>"))
                 .ok ());
  EXPECT_EQ (answer (request), (std::vector<std::string> {"D,LINES,1", "EOF"}));
  Vok_Record lines;
  ASSERT_TRUE (data.read_record (4, lines).ok ());
  EXPECT_EQ (lines.row (), int4 (2));
}

TEST_F (Function_Call, WithoutDataTheDialogModuleRunsItAndTheConnectionEnds)
{
  Vok_Connection request = connect ();
  ASSERT_TRUE (request.send_request (function ("Z_VOK_ECHO", "metadata=\"Y\"", "")).ok ());
  std::string rest;
  ASSERT_TRUE (request.read_until_closed (rest, 1 << 16).ok ());
  EXPECT_EQ (rest.rfind ("FUNCTION,Z_VOK_ECHO,", 0), 0u) << rest;
  EXPECT_NE (rest.find ("\nPARAMETER,CALLS,I,I,4,0,,"), std::string::npos) << rest;
}

TEST_F (Function_Call, VokcliDescribesAndCallsTheFlightList)
{
  vurude::test::ChildProcess client;
  std::string error;
  ASSERT_TRUE (client.start ({VOKCLI_EXE, "call", "--port", std::to_string (server_->port ()), "--gwhost",
                              "127.0.0.1", "--gwserv", std::to_string (sapsim_->port ()), "--client", "100",
                              "--user", "DEMO", "--password", "demo", "Z_VOK_FLIGHT_LIST", "--param", "AIRLINE=AA",
                              "--param", "MAX_ROWS=2"},
                             error))
    << error;
  const auto status = client.wait_exit (60s);
  client.stop ();
  ASSERT_TRUE (status && WIFEXITED (*status));
  EXPECT_EQ (WEXITSTATUS (*status), 0) << client.stderr_text ();
  const std::string out = client.stdout_text ();
  EXPECT_NE (out.find ("COUNT=2"), std::string::npos) << out;
  EXPECT_NE (out.find ("CARRNAME=American Airlines"), std::string::npos) << out;
  EXPECT_NE (out.find ("TABLE FLIGHTS (2 rows)"), std::string::npos) << out;
}
}
