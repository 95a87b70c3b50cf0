// vokcli connect as a program against a scripted server: the document it
// sends for its options, what it prints where, its exit codes, and that the
// password shows nowhere in its output.
#include "child_process.h"
#include "script_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace
{
using namespace std::chrono_literals;

const std::string handle = "000100000000DEADBEEF";
const std::string system_info = "0114103LITIE3sim_SIM_00 sim SIM4103,LIT,IE3,W,/VOK/,2,4103,";
const char *const password_variable = "VOKCLI_TEST_PASSWORD";
const std::string password = "Geheim&1";

struct Vokcli_Run
{
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs vokcli with `arguments`; every run ends within the timeouts given.
Vokcli_Run run_vokcli (std::vector<std::string> arguments)
{
  arguments.insert (arguments.begin (), VOKCLI_EXE);
  vurude::test::ChildProcess child;
  std::string error;
  Vokcli_Run run;
  if (!child.start (arguments, error))
    {
      ADD_FAILURE () << error;
      return run;
    }
  if (!child.wait_exit (30s))
    ADD_FAILURE () << "vokcli did not end";
  const int status = child.stop ();
  run.exit_code = WIFEXITED (status) ? WEXITSTATUS (status) : -1;
  run.out = child.stdout_text ();
  run.err = child.stderr_text ();
  return run;
}

// A loopback port nothing listens on at the moment.
int closed_port ()
{
  const int fd = ::socket (AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind (fd, reinterpret_cast<sockaddr *> (&address), sizeof address);
  ::getsockname (fd, reinterpret_cast<sockaddr *> (&address), &length);
  ::close (fd);
  return ntohs (address.sin_port);
}

struct Logon_Case
{
  const char *name;
  std::vector<std::string> options;
  std::string request;             // the document the server expects
  std::vector<Script_Step> reply;  // after the request
  int exit_code;
  std::string out;
  std::string err;
  friend void PrintTo (const Logon_Case &c, std::ostream *os) { *os << c.name; }
};

class Vokcli_Connect : public testing::TestWithParam<Logon_Case>
{
protected:
  void SetUp () override { ::setenv (password_variable, password.c_str (), 1); }
};

TEST_P (Vokcli_Connect, AnswersWithItsExitCodeAndOutput)
{
  const Logon_Case &c = GetParam ();
  std::vector<Script_Step> script {send (padded_greeting (handle)), expect (c.request + "\n")};
  script.insert (script.end (), c.reply.begin (), c.reply.end ());
  Script_Server server (script);
  std::vector<std::string> arguments {"connect", "--port", std::to_string (server.port ()), "--timeout", "10"};
  arguments.insert (arguments.end (), c.options.begin (), c.options.end ());
  const Vokcli_Run run = run_vokcli (arguments);
  EXPECT_EQ (server.finish (), "");
  EXPECT_EQ (run.exit_code, c.exit_code);
  EXPECT_EQ (run.out, c.out);
  EXPECT_EQ (run.err, c.err);
  EXPECT_EQ (run.out.find (password), std::string::npos);
  EXPECT_EQ (run.err.find (password), std::string::npos);
}

const std::vector<std::string> logon_options {"--ashost", "127.0.0.1", "--sysnr", "00", "--client", "100",
                                              "--user",   "DEMO",      "--lang",  "EN", "--password-env",
                                              password_variable};
const std::string logon_request = "<connect ashost=\"127.0.0.1\" client=\"100\" lang=\"EN\" passwd=\"Geheim&amp;1\" "
                                  "sysnr=\"00\" user=\"DEMO\"/>";
const std::string rfc_error = "E,RFC Error:\nE,Error Group: 3\nE,Key        : RFC_ERROR_LOGON_FAILURE\n"
                              "E,Message    : Name or password is incorrect (repeat logon)\n";

std::vector<std::string> with (std::vector<std::string> options, const std::vector<std::string> &more)
{
  options.insert (options.end (), more.begin (), more.end ());
  return options;
}

INSTANTIATE_TEST_SUITE_P (
  Cases, Vokcli_Connect,
  testing::Values (
    Logon_Case {"LoggedOn", logon_options, logon_request, {send ("GEN 1\n" + system_info + "\n"), expect_closed ()},
                0, system_info + "\n", ""},
    Logon_Case {"VerboseShowsHandleAndProgramLines", with (logon_options, {"--verbose"}), logon_request,
                {send ("GEN 1\n" + system_info + "\n"), expect_closed ()}, 0,
                "handle: " + handle + "\nprogram: GEN 1\n" + system_info + "\n", ""},
    Logon_Case {"ProgramAndDebugOptions",
                {"--cstring", "gwhost=\"gw\" gwserv=\"3300\"", "--abapfm", "Z_DIALOG", "--abapprog", "Z_READ",
                 "--vokdebug", "Y", "--trace", "--xpasswd", "3C3C925E1092F4"},
                "<connect abapfm=\"Z_DIALOG\" abapprog=\"Z_READ\" cstring=\"gwhost=&quot;gw&quot; "
                "gwserv=&quot;3300&quot;\" vokdebug=\"Y\" trace=\"1\" xpasswd=\"3C3C925E1092F4\"/>",
                {send (system_info + "\n"), expect_closed ()}, 0, system_info + "\n", ""},
    Logon_Case {"RefusedShowsTheErrorLines", logon_options, logon_request, {send (rfc_error), close_connection ()}, 1,
                "", rfc_error + "vokcli connect: the server refused the logon\n"}));

TEST (Vokcli, ClosedWithoutAnswerIsAConnectionProblem)
{
  Script_Server server ({send (padded_greeting (handle)), expect ("<connect/>\n"), close_connection ()});
  const std::string port = std::to_string (server.port ());
  const Vokcli_Run run = run_vokcli ({"connect", "--port", port});
  EXPECT_EQ (server.finish (), "");
  EXPECT_EQ (run.exit_code, 2);
  EXPECT_EQ (run.err.find ("vokcli connect: no logon on 127.0.0.1:" + port + ": the server closed the connection"), 0u)
    << run.err;
}

TEST (Vokcli, NothingListeningIsAConnectionProblem)
{
  const std::string port = std::to_string (closed_port ());
  const Vokcli_Run run = run_vokcli ({"connect", "--port", port, "--timeout", "10"});
  EXPECT_EQ (run.exit_code, 2);
  EXPECT_EQ (run.out, "");
  EXPECT_NE (run.err.find ("127.0.0.1:" + port), std::string::npos) << run.err;
}

// Command lines that cannot be carried out send nothing: no server listens.
struct Usage_Case
{
  const char *name;
  std::vector<std::string> arguments;
  std::string message;  // part of standard error
  friend void PrintTo (const Usage_Case &c, std::ostream *os) { *os << c.name; }
};

class Vokcli_Usage : public testing::TestWithParam<Usage_Case> {};

TEST_P (Vokcli_Usage, ExitsWithThree)
{
  const Usage_Case &c = GetParam ();
  ::unsetenv ("VOKCLI_TEST_UNSET");
  const Vokcli_Run run = run_vokcli (c.arguments);
  EXPECT_EQ (run.exit_code, 3);
  EXPECT_EQ (run.out, "");
  EXPECT_NE (run.err.find (c.message), std::string::npos) << run.err;
  EXPECT_EQ (run.err.find (password), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P (
  Cases, Vokcli_Usage,
  testing::Values (
    Usage_Case {"NoCommand", {}, "A subcommand is required"},
    Usage_Case {"NoPort", {"connect"}, "--port is required"},
    Usage_Case {"PortOutOfRange", {"connect", "--port", "70000"}, "--port"},
    Usage_Case {"UnsetPasswordVariable", {"connect", "--port", "1", "--password-env", "VOKCLI_TEST_UNSET"},
                "VOKCLI_TEST_UNSET (--password-env) is not set"},
    Usage_Case {"TwoPasswords", {"connect", "--port", "1", "--password", password, "--password-env", "X"},
                "excludes"},
    Usage_Case {"EncryptWithoutPassword", {"connect", "--port", "1", "--encrypt"}, "--encrypt needs a password"},
    Usage_Case {"EncryptAndXpasswd", {"connect", "--port", "1", "--encrypt", "--xpasswd", "AB"}, "excludes"},
    Usage_Case {"PasswordBeyondLatin1", {"connect", "--port", "1", "--encrypt", "--password", "\xE2\x82\xAC"},
                "beyond U+00FF"},
    Usage_Case {"ControlCharacter", {"connect", "--port", "1", "--password", password + "\x01"},
                "the value of attribute \"passwd\" of <connect> holds a control character at byte 8"}));

TEST (Vokcli, HelpDescribesTheOptions)
{
  const Vokcli_Run run = run_vokcli ({"connect", "--help"});
  EXPECT_EQ (run.exit_code, 0);
  for (const char *option : {"--host", "--port", "--ashost", "--sysnr", "--gwhost", "--gwserv", "--client",
                             "--user", "--lang", "--password", "--password-env", "--encrypt", "--xpasswd",
                             "--abapfm", "--abapprog", "--vokdebug", "--cstring", "--verbose", "Exit codes"})
    EXPECT_NE (run.out.find (option), std::string::npos) << option;
}
}
