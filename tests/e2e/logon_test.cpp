// Logging on through the server to a running sapsim, and request documents
// that the server must refuse while it keeps serving everyone else.
#include "sapsim_process.h"
#include "server_process.h"

#include "vok_connection.h"
#include "vok_password.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

namespace
{
// One sapsim and one server for the whole suite; the server logs at its
// highest debug level, so the log shows everything it would ever write.
class Logon : public testing::Test
{
protected:
  static void SetUpTestSuite ()
  {
    sapsim_ = new sapsim_test::SapsimProcess ();
    ASSERT_TRUE (sapsim_->ok ()) << sapsim_->error ();
    server_ = new Server_Process ();
    std::string error;
    ASSERT_TRUE (server_->start ({"-d", "10"}, error)) << error;
  }

  static void TearDownTestSuite ()
  {
    delete server_;
    delete sapsim_;
    server_ = nullptr;
    sapsim_ = nullptr;
  }

  static std::vector<std::string> logon_arguments (std::vector<std::string> extra)
  {
    std::vector<std::string> argv {VOKCLI_EXE, "connect", "--port", std::to_string (server_->port ()),
                                   "--gwhost", "127.0.0.1", "--gwserv", std::to_string (sapsim_->port ()),
                                   "--client", "100", "--user", "DEMO"};
    argv.insert (argv.end (), extra.begin (), extra.end ());
    return argv;
  }

  // Runs vokcli to its end; its exit code, or -1.
  static int run_vokcli (const std::vector<std::string> &argv, std::string &out, std::string &err)
  {
    vurude::test::ChildProcess client;
    std::string error;
    if (!client.start (argv, error))
      {
        err = error;
        return -1;
      }
    const auto status = client.wait_exit (60s);
    client.stop ();
    out = client.stdout_text ();
    err = client.stderr_text ();
    return status && WIFEXITED (*status) ? WEXITSTATUS (*status) : -1;
  }

  static Vok_Connection open_connection ()
  {
    Vok_Connection connection;
    EXPECT_TRUE (connection.connect ("127.0.0.1", static_cast<std::uint16_t> (server_->port ())).ok ());
    return connection;
  }

  // Sends a request and reads everything until the server closes.
  static std::string answer_until_closed (std::string_view request)
  {
    Vok_Connection connection = open_connection ();
    EXPECT_TRUE (connection.send_request (request).ok ());
    std::string answer;
    EXPECT_TRUE (connection.read_until_closed (answer, 1 << 20).ok ());
    return answer;
  }

  // A logon on its own connection, which stays open as long as the object.
  static Vok_Connection logged_on ()
  {
    Vok_Connection control = open_connection ();
    const std::string document = "<connect gwhost=\"127.0.0.1\" gwserv=\"" + std::to_string (sapsim_->port ())
                                 + "\" client=\"100\" user=\"DEMO\" passwd=\"demo\"/>";
    EXPECT_TRUE (control.send_request (document).ok ());
    std::string line;
    EXPECT_TRUE (control.read_line (line).ok ());
    EXPECT_NE (line.find (",LIT,IE3,W,"), std::string::npos) << line;
    return control;
  }

  static sapsim_test::SapsimProcess *sapsim_;
  static Server_Process *server_;
};

sapsim_test::SapsimProcess *Logon::sapsim_ = nullptr;
Server_Process *Logon::server_ = nullptr;

const std::vector<std::string> wrong_password_lines {
  "E,RFC Error:", "E,Error Group: 3", "E,Key        : RFC_ERROR_LOGON_FAILURE",
  "E,Message    : Name or password is incorrect (repeat logon)"};

struct Vokcli_Case
{
  const char *name;
  std::vector<std::string> options;
  int exit_code;
  std::vector<std::string> error_lines;
};

void PrintTo (const Vokcli_Case &c, std::ostream *os) { *os << c.name; }

class Vokcli_Connect : public Logon, public testing::WithParamInterface<Vokcli_Case> {};

TEST_P (Vokcli_Connect, AnswersWithTheSystemInformationOrTheServersErrorLines)
{
  std::string out, err;
  const int code = run_vokcli (logon_arguments (GetParam ().options), out, err);
  EXPECT_EQ (code, GetParam ().exit_code) << out << err;
  if (GetParam ().exit_code == 0)
    {
      // System information of the simulated system, then the server's part.
      EXPECT_EQ (out.rfind ("SIM,", 0), 0u) << out;
      EXPECT_NE (out.find (",100,DEMO,"), std::string::npos) << out;
      EXPECT_NE (out.find ("4103,LIT,IE3,W,/VOK/,2,4103,\n"), std::string::npos) << out;
    }
  std::size_t at = 0;
  for (const std::string &line : GetParam ().error_lines)
    {
      const std::size_t found = err.find (line + "\n", at);
      ASSERT_NE (found, std::string::npos) << "missing in order: " << line << "\n" << err;
      at = found + line.size ();
    }
}

INSTANTIATE_TEST_SUITE_P (
  Logons, Vokcli_Connect,
  testing::Values (
    Vokcli_Case {"plain_password", {"--password", "demo"}, 0, {}},
    Vokcli_Case {"encrypted_password", {"--password", "demo", "--encrypt"}, 0, {}},
    Vokcli_Case {"wrong_password", {"--password", "wrong"}, 1, wrong_password_lines},
    Vokcli_Case {"wrong_encrypted_password", {"--password", "wrong", "--encrypt"}, 1, wrong_password_lines},
    Vokcli_Case {"undecodable_xpasswd", {"--xpasswd", "0G"}, 1,
                 {"E,RFC Error:", "E,Error Group: 101", "E,Key        : RFC_ERROR_PROGRAM",
                  "E,Message    : Invalid encrypted password from VOK"}},
    Vokcli_Case {"empty_xpasswd", {"--xpasswd", ""}, 1, {"E,invalid encrypted password"}}),
  [] (const auto &instance) { return std::string (instance.param.name); });

TEST_F (Logon, ConnectionStaysOpenAsTheControlConnectionOfItsLogon)
{
  Vok_Connection control = logged_on ();
  // A select naming it runs with this logon's data.
  const std::string answer = answer_until_closed ("<sselect chandle=\"" + control.handle ()
                                                  + "\" metadata=\"Y\"><table name=\"SCARR\"/>"
                                                    "<field name=\"CARRID\"/></sselect>");
  EXPECT_EQ (answer.rfind ("R,6,1\nF,CARRID,C,6,0,0,", 0), 0u) << answer;
}

struct Refused_Case
{
  const char *name;
  std::string document;
  std::string answer;
};

void PrintTo (const Refused_Case &c, std::ostream *os) { *os << c.name; }

class Refused_Document : public Logon, public testing::WithParamInterface<Refused_Case> {};

TEST_P (Refused_Document, GetsItsErrorLinesAndEndsItsConnection)
{
  EXPECT_EQ (answer_until_closed (GetParam ().document), GetParam ().answer);
}

INSTANTIATE_TEST_SUITE_P (
  Documents, Refused_Document,
  testing::Values (
    Refused_Case {"parameter_without_paramclass", "<function name=\"F\"><parameter name=\"P\" intlen=\"4\"/></function>",
                  "E,Error at line 35, column 52. Message: missing required attribute 'paramclass'\n\n"},
    Refused_Case {"three_invalid_elements",
                  "<function name=\"F\"><callback/><exception/><parameter name=\"P\" intlen=\"1\"/></function>",
                  "E,Error at line 35, column 31. Message: missing required attribute 'name'\n\n"
                  "E,Error at line 35, column 43. Message: missing required attribute 'name'\n\n"
                  "E,Error at line 35, column 75. Message: missing required attribute 'paramclass'\n\n"},
    Refused_Case {"capital_connect", "<Connect/>",
                  "E,Fatal Error at line 2, column 1. Message: comment or processing instruction expected\n\n"},
    Refused_Case {"unknown_root", "<logon/>",
                  "E,Fatal Error at line 2, column 1. Message: comment or processing instruction expected\n\n"},
    Refused_Case {"client_xml_declaration", "<?xml version=\"1.0\"?><connect/>",
                  "E,Fatal Error at line 21, column 7. Message: XML or TEXT declaration must start at line 1, "
                  "column 1\n\n"},
    Refused_Case {"select_without_chandle", "<sselect><table name=\"T\"/></sselect>", "E,chandle is invalid\n"},
    Refused_Case {"select_with_unknown_chandle", "<gselect chandle=\"0000FFFFFFFFFFFFFFFF\"><table name=\"T\"/></gselect>",
                  "E,chandle is invalid\n"},
    Refused_Case {"empty_xpasswd", "<connect xpasswd=\"\"/>", "E,invalid encrypted password\n"},
    Refused_Case {"nesting_100000",
                  "<nselect>" + [] {
                    std::string nested;
                    for (int i = 0; i < 100000; ++i)
                      nested += "<sselect>";
                    return nested;
                  }() + "</nselect>",
                  "E,Fatal Error at line 32, column 586. Message: elements nested deeper than 64 levels\n\n"},
    Refused_Case {"attribute_50mb", "<connect user=\"" + std::string (50 * 1024 * 1024, 'u') + "\"/>",
                  "E,Fatal Error at line 21, column 52428819. Message: attribute value longer than 4194304 "
                  "characters\n\n"}),
  [] (const auto &instance) { return std::string (instance.param.name); });

TEST_F (Logon, ChandleOfAConnectionWithoutLogonIsInvalid)
{
  Vok_Connection idle = open_connection ();
  EXPECT_EQ (answer_until_closed ("<nselect chandle=\"" + idle.handle ()
                                  + "\"><sselect><table name=\"T\"/></sselect></nselect>"),
             "E,chandle is invalid\n");
}

TEST_F (Logon, RefusedDocumentsLeaveOtherConnectionsServed)
{
  Vok_Connection waiting = open_connection ();
  answer_until_closed ("<connect user=\"" + std::string (50 * 1024 * 1024, 'u') + "\"/>");
  // The connection opened before is still served: a logon on it works.
  const std::string document = "<connect gwhost=\"127.0.0.1\" gwserv=\"" + std::to_string (sapsim_->port ())
                               + "\" client=\"100\" user=\"DEMO\" passwd=\"demo\"/>";
  ASSERT_TRUE (waiting.send_request (document).ok ());
  std::string line;
  ASSERT_TRUE (waiting.read_line (line).ok ());
  EXPECT_NE (line.find (",LIT,IE3,W,"), std::string::npos) << line;
}

TEST_F (Logon, TheLogNeverShowsAPassword)
{
  std::string out, err;
  ASSERT_EQ (run_vokcli (logon_arguments ({"--password", "Secret42"}), out, err), 1) << err;
  ASSERT_EQ (run_vokcli (logon_arguments ({"--password", "Secret43", "--encrypt"}), out, err), 1) << err;
  // Passwords inside a raw connect-string fragment, in the spellings the RFC
  // library reads, and in a fragment it cannot read at all.
  const std::vector<std::pair<std::string, std::string>> fragments {
    {"PASSWD=Secret44", "PASSWD=????????"},
    {"Passwd=&quot;Secret 45&quot;", "Passwd=\"????????\""},
    {"lang=E passwd=Secret46 passwd=&quot;Sec&quot;&quot;ret46&quot;", "lang=E passwd=???????? passwd=\"????????\""},
    {"passwd=&quot;Secret47 lang=E", "client=\"100\" ???????? gwhost="}};
  for (std::size_t k = 0; k < fragments.size (); ++k)
    answer_until_closed ("<connect gwhost=\"127.0.0.1\" gwserv=\"" + std::to_string (sapsim_->port ())
                         + "\" client=\"100\" user=\"MASK" + std::to_string (k) + "\" cstring=\""
                         + fragments[k].first + "\"/>");
  ASSERT_TRUE (server_->process ().wait_for_stderr ("user=\"MASK" + std::to_string (fragments.size () - 1), 10s));
  const std::string log = server_->process ().stderr_text ();
  for (const char *secret : {"Secret", "ret46", "passwd=\"demo\"", "\"demo\""})
    EXPECT_EQ (log.find (secret), std::string::npos) << secret;
  EXPECT_NE (log.find ("About to RfcOpenEx with '"), std::string::npos);
  EXPECT_NE (log.find ("passwd=\"????????\""), std::string::npos);
  for (const auto &fragment : fragments)
    EXPECT_NE (log.find (fragment.second), std::string::npos) << fragment.second;
}

// Entry and exit lines and the other lines that name a class, like every
// other line, begin with the time stamp and the process and thread ids, so
// they can be told apart and ordered.
TEST_F (Logon, TraceLinesCarryTheTimeStampAndIds)
{
  Vok_Connection control = logged_on ();
  answer_until_closed ("<sselect chandle=\"" + control.handle ()
                       + "\"><table name=\"SCARR\"/><field name=\"CARRID\"/></sselect>");
  ASSERT_TRUE (server_->process ().wait_for_stderr ("Leaving Vurude_Parm::set", 10s));
  const std::regex prefixed (R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6}\(\d+\|\d+\) )");
  std::istringstream log (server_->process ().stderr_text ());
  int checked = 0;
  for (std::string line; std::getline (log, line);)
    if (line.find ("Vurude_") != std::string::npos)
      {
        EXPECT_TRUE (std::regex_search (line, prefixed)) << line;
        ++checked;
      }
  EXPECT_GT (checked, 0);
}
}
