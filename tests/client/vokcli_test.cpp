// vokcli as a program against a scripted server. connect: the document it
// sends for its options, what it prints where, its exit codes, and that the
// password shows nowhere in its output. select: the select document its
// options make, the rows in each output format, and its exit codes.
#include "child_process.h"
#include "script_server.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace
{
using namespace std::chrono_literals;
using namespace std::string_literals;

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
                "the value of attribute \"passwd\" of <connect> holds a control character at byte 8"},
    Usage_Case {"SelectWithoutTable", {"select", "--port", "1"}, "vokcli select: name a table with --table"},
    Usage_Case {"SelectOnBeforeTable", {"select", "--port", "1", "--on", "A = B", "--table", "T"},
                "--on \"A = B\" comes before any --table of its statement"},
    Usage_Case {"SelectUnknownJoin", {"select", "--port", "1", "--table", "T:A:outer"}, "the join is inner or left"},
    Usage_Case {"SelectTableOfFourParts", {"select", "--port", "1", "--table", "T:A:left:x"},
                "is not NAME[:ALIAS[:JOIN]]"},
    Usage_Case {"SelectThenWithoutNested", {"select", "--port", "1", "--table", "A", "--then", "--table", "B"},
                "--then separates the statements of --nested"},
    Usage_Case {"SelectNestedTwoTablesInOneStatement",
                {"select", "--port", "1", "--nested", "--table", "A", "--table", "B"}, "names 2 tables"},
    Usage_Case {"SelectNestedEmptyLastStatement", {"select", "--port", "1", "--nested", "--table", "A", "--then"},
                "statement 2 of --nested names 0 tables"},
    Usage_Case {"SelectNestedJoinCondition",
                {"select", "--port", "1", "--nested", "--table", "A", "--then", "--table", "B", "--on", "A~X = B~X"},
                "--on does not go with --nested"},
    Usage_Case {"SelectNestedGrouped", {"select", "--port", "1", "--nested", "--table", "A", "--group-by", "X"},
                "do not go with --nested"},
    Usage_Case {"SelectSuppressWithoutNested", {"select", "--port", "1", "--table", "A", "--field", "X suppress"},
                "SUPPRESS goes only with --nested"},
    Usage_Case {"SelectUnclosedAggregate", {"select", "--port", "1", "--table", "A", "--field", "sum(PRICE"},
                "is not AGG(FIELD)"},
    Usage_Case {"SelectUnknownAggregate", {"select", "--port", "1", "--table", "A", "--field", "median(PRICE)"},
                "is not AGG(FIELD)"},
    Usage_Case {"SelectStarField", {"select", "--port", "1", "--table", "A", "--field", "*"}, "only in count(*)"},
    Usage_Case {"SelectFieldWithTrailingWord", {"select", "--port", "1", "--table", "A", "--field", "X Y"},
                "\"Y\" is neither AS ALIAS nor SUPPRESS"},
    Usage_Case {"SelectWhereTwice",
                {"select", "--port", "1", "--table", "A", "--where", "X = 1", "--where", "Y = 2"},
                "--where given twice for one statement"},
    Usage_Case {"SelectWhereEmpty", {"select", "--port", "1", "--table", "A", "--where", " "}, "--where is empty"},
    Usage_Case {"SelectWhereCannotBeCut",
                {"select", "--port", "1", "--table", "A", "--where", "X = '" + std::string (80, 'a') + "'"},
                "--where: the clause cannot be cut into pieces of at most 72 characters"},
    Usage_Case {"SelectUnknownFormat", {"select", "--port", "1", "--table", "A", "--format", "xml"}, "--format"},
    Usage_Case {"SelectOutputNotWritable",
                {"select", "--port", "1", "--table", "A", "--output", "/nonexistent-folder/rows.csv"},
                "cannot open --output /nonexistent-folder/rows.csv"},
    Usage_Case {"SelectProgressTwice", {"select", "--port", "1", "--table", "A", "--progress", "--no-progress"},
                "excludes"},
    Usage_Case {"SelectUnsetPasswordVariable",
                {"select", "--port", "1", "--table", "A", "--password-env", "VOKCLI_TEST_UNSET"},
                "vokcli select: the environment variable VOKCLI_TEST_UNSET (--password-env) is not set"}));

TEST (Vokcli, HelpDescribesTheOptions)
{
  const Vokcli_Run run = run_vokcli ({"connect", "--help"});
  EXPECT_EQ (run.exit_code, 0);
  for (const char *option : {"--host", "--port", "--ashost", "--sysnr", "--gwhost", "--gwserv", "--client",
                             "--user", "--lang", "--password", "--password-env", "--encrypt", "--xpasswd",
                             "--abapfm", "--abapprog", "--vokdebug", "--cstring", "--verbose", "Exit codes"})
    EXPECT_NE (run.out.find (option), std::string::npos) << option;
}

TEST (Vokcli, SelectHelpDescribesTheOptions)
{
  const Vokcli_Run run = run_vokcli ({"select", "--help"});
  EXPECT_EQ (run.exit_code, 0);
  for (const char *option : {"--port", "--password-env", "--table", "--on", "--field", "--where", "--group-by",
                             "--having", "--order-by", "--distinct", "--nested", "--then", "--metadata-only",
                             "--format", "--output", "--progress", "--batch", "Exit codes"})
    EXPECT_NE (run.out.find (option), std::string::npos) << option;
}

// --- vokcli select ---

const std::string data_handle = "000200000000DEADBEEF";
const std::string request_handle = "000300000000DEADBEEF";

std::string utf16 (std::string_view text, std::size_t characters)
{
  std::string bytes;
  for (std::size_t i = 0; i < characters; ++i)
    bytes += std::string {i < text.size () ? text[i] : ' ', '\0'};
  return bytes;
}

// The root's attributes as vokcli sends them for a select with rows.
std::string with_rows (const std::string &root)
{
  return "<" + root + " chandle=\"" + handle + "\" data=\"Y\" dhandle=\"" + data_handle + "\" metadata=\"Y\">";
}

struct Select_Case
{
  const char *name;
  std::vector<std::string> options;  // after the logon options
  std::string document;              // the select document the server expects
  std::vector<Script_Step> data;     // after the greeting; no data connection when empty
  std::vector<Script_Step> reply;    // after the document
  int exit_code;
  std::string out;
  std::string err;
  friend void PrintTo (const Select_Case &c, std::ostream *os) { *os << c.name; }
};

class Vokcli_Select : public testing::TestWithParam<Select_Case> {};

// The scripts of a select: the control connection that logs on, then the
// data connection (when the case has one), then the request connection.
Connection_Scripts select_scripts (const Select_Case &c)
{
  Connection_Scripts scripts;
  scripts.scripts.push_back ({send (padded_greeting (handle)), expect (logon_request + "\n"),
                              send (system_info + "\n"), expect_closed ()});
  if (!c.data.empty ())
    {
      std::vector<Script_Step> data {send (padded_greeting (data_handle))};
      data.insert (data.end (), c.data.begin (), c.data.end ());
      scripts.scripts.push_back (data);
    }
  std::vector<Script_Step> request {send (padded_greeting (request_handle)), expect (c.document + "\n")};
  request.insert (request.end (), c.reply.begin (), c.reply.end ());
  scripts.scripts.push_back (request);
  return scripts;
}

// Runs vokcli select with the logon options and the case's options against
// the case's scripts.
Vokcli_Run run_select (const Select_Case &c)
{
  ::setenv (password_variable, password.c_str (), 1);
  Script_Server server (select_scripts (c));
  std::vector<std::string> arguments {"select", "--port", std::to_string (server.port ()), "--timeout", "10"};
  arguments.insert (arguments.end (), logon_options.begin (), logon_options.end ());
  arguments.insert (arguments.end (), c.options.begin (), c.options.end ());
  const Vokcli_Run run = run_vokcli (arguments);
  EXPECT_EQ (server.finish (), "");
  return run;
}

TEST_P (Vokcli_Select, SendsTheDocumentAndWritesTheRows)
{
  const Select_Case &c = GetParam ();
  const Vokcli_Run run = run_select (c);
  EXPECT_EQ (run.exit_code, c.exit_code);
  EXPECT_EQ (run.out, c.out);
  EXPECT_EQ (run.err, c.err);
  EXPECT_EQ (run.err.find (password), std::string::npos);
}

// SCARR rows of CARRID (3 characters) and CARRNAME (20 characters).
const std::string scarr_metadata = "R,46,2\nF,CARRID,C,6,0,0,Airline Code\nF,CARRNAME,C,40,0,6,Airline name\n";
const std::string scarr_row = utf16 ("LH", 3) + utf16 ("Luft,hansa \"A\"", 20) + '\0';
const std::string scarr_end = std::string (46, '\0') + '\xFF';
const std::string scarr_select = with_rows ("sselect") + "<table name=\"SCARR\"/></sselect>";

// SFLIGHT joined with SCARR: CARRID, CARRNAME (4 characters), PRICE (packed, 2 decimals).
const std::string join_metadata = "R,18,3\nF,CARRID,C,6,0,0,\nF,CARRNAME,C,8,0,6,\nF,PRICE,P,4,2,14,Airfare\n";
const std::string join_row = utf16 ("LH", 3) + utf16 ("Luft", 4) + "\x00\x01\x23\x4C"s + '\0';

// SBOOK grouped by CARRID: CARRID, TOTAL (packed, 2 decimals, after 2 bytes
// of alignment) and COUNT(*) (8-byte integer).
const std::string sbook_metadata = "R,24,3\nF,CARRID,C,6,0,0,\nF,TOTAL,P,8,2,8,\nF,COUNT(*),8,8,0,16,\n";
const std::string sbook_rows = utf16 ("LH", 3) + "\0\0"s + "\x00\x00\x00\x00\x01\x23\x45\x0C"s
                               + "\x03\0\0\0\0\0\0\0"s + '\0' + utf16 ("AA", 3) + "\0\0"s
                               + "\x00\x00\x00\x00\x00\x00\x50\x0D"s + "\x02\0\0\0\0\0\0\0"s + '\0'
                               + std::string (24, '\0') + '\xFF';

std::string blanks (std::size_t count)
{
  return std::string (count, ' ');
}

const std::string long_where = "CARRID = 'LH' AND CONNID = '0400' AND FLDATE = '20240131' AND PRICE > 500";

INSTANTIATE_TEST_SUITE_P (
  Cases, Vokcli_Select,
  testing::Values (
    Select_Case {"SingleTableAsCsv",
                 {"--table", "SCARR", "--field", "CARRID", "--field", "CARRNAME as NAME"},
                 with_rows ("sselect") + "<table name=\"SCARR\"/><field name=\"CARRID\"/>"
                   "<field name=\"CARRNAME\" alias=\"NAME\"/></sselect>",
                 {send (scarr_row + scarr_end), close_connection ()},
                 {send (scarr_metadata + "OK\n"), close_connection ()},
                 0, "CARRID,CARRNAME\nLH,\"Luft,hansa \"\"A\"\"\"\n", ""},
    Select_Case {"JoinAsJsonLines",
                 {"--table", "SFLIGHT:F", "--table", "SCARR:C:inner", "--on", "F~CARRID = C~CARRID", "--field",
                  "F~CARRID", "--field", "C:CARRNAME", "--field", "F~PRICE", "--where", "F~PRICE > 500", "--format",
                  "jsonl"},
                 with_rows ("gselect") + "<table name=\"SFLIGHT\" alias=\"F\"/><table name=\"SCARR\" alias=\"C\" "
                   "join=\"inner\"><on>F~CARRID = C~CARRID</on></table><field table=\"F\" name=\"CARRID\"/>"
                   "<field table=\"C\" name=\"CARRNAME\"/><field table=\"F\" name=\"PRICE\"/>"
                   "<where>F~PRICE &gt; 500</where></gselect>",
                 {send (join_row + std::string (18, '\0') + '\xFF'), close_connection ()},
                 {send (join_metadata + "OK\n"), close_connection ()},
                 0, "{\"CARRID\":\"LH\",\"CARRNAME\":\"Luft\",\"PRICE\":12.34}\n", ""},
    Select_Case {"AggregateAsTable",
                 {"--table", "SBOOK", "--field", "CARRID", "--field", "sum(LOCCURAM) as TOTAL", "--field",
                  "COUNT( * )", "--group-by", "CARRID", "--having", "COUNT( * ) > 1", "--order-by", "CARRID",
                  "--format", "table"},
                 with_rows ("sselect") + "<table name=\"SBOOK\"/><field name=\"CARRID\"/>"
                   "<field name=\"LOCCURAM\" aggregate=\"SUM\" alias=\"TOTAL\"/><field name=\"*\" "
                   "aggregate=\"COUNT\"/><groupby>CARRID</groupby><having>COUNT( * ) &gt; 1</having>"
                   "<orderby>CARRID</orderby></sselect>",
                 {send (sbook_rows), close_connection ()},
                 {send (sbook_metadata + "OK\n"), close_connection ()},
                 0,
                 "CARRID | TOTAL" + blanks (12) + " | COUNT(*)\n" + std::string (6, '-') + "-+-" + std::string (17, '-')
                   + "-+-" + std::string (20, '-') + "\nLH     | " + blanks (10) + "1234.50 | " + blanks (19)
                   + "3\nAA     | " + blanks (12) + "-5.00 | " + blanks (19) + "2\n(2 rows)\n",
                 ""},
    Select_Case {"NestedStatements",
                 {"--nested", "--table", "SCARR", "--field", "CARRID", "--where", "CARRID = 'LH'", "--then",
                  "--table", "SFLIGHT:F:inner", "--field", "CONNID suppress", "--distinct"},
                 "<nselect chandle=\"" + handle + "\" data=\"Y\" dhandle=\"" + data_handle
                   + "\" distinct=\"Y\" metadata=\"Y\"><sselect><table name=\"SCARR\"/><field name=\"CARRID\"/>"
                     "<where>CARRID = &apos;LH&apos;</where></sselect><sselect><table name=\"SFLIGHT\" "
                     "alias=\"F\" join=\"inner\"/><field name=\"CONNID\" suppress=\"Y\"/></sselect></nselect>",
                 {send ("\xFF"), close_connection ()},
                 {send ("R,6,1\nF,CARRID,C,6,0,0,\nOK\n"), close_connection ()},
                 0, "CARRID\n", ""},
    Select_Case {"LongWhereIsCutAndTheServerRefuses",
                 {"--table", "SFLIGHT", "--where", long_where, "--batch"},
                 "<sselect batch=\"Y\" chandle=\"" + handle + "\" data=\"Y\" dhandle=\"" + data_handle
                   + "\" metadata=\"Y\"><table name=\"SFLIGHT\"/><where>CARRID = &apos;LH&apos; AND CONNID = "
                     "&apos;0400&apos; AND FLDATE = &apos;20240131&apos; AND PRICE &gt;</where><where> 500</where>"
                     "</sselect>",
                 {close_connection ()},
                 {send ("E,Batch requested but RFC server has no variant\n"), close_connection ()},
                 1, "",
                 "E,Batch requested but RFC server has no variant\n"
                 "vokcli select: the server reported a failure: 1 error line(s)\n"},
    Select_Case {"MetadataOnly",
                 {"--table", "SCARR", "--metadata-only"},
                 "<sselect chandle=\"" + handle + "\" data=\"N\" metadata=\"Y\"><table name=\"SCARR\"/></sselect>",
                 {},
                 {send (scarr_metadata), close_connection ()},
                 0,
                 "name,type,bytes,decimals,offset,description\nCARRID,C,6,0,0,Airline Code\n"
                 "CARRNAME,C,40,0,6,Airline name\n",
                 ""},
    Select_Case {"ErrorRecordAfterARow",
                 {"--table", "SCARR"},
                 scarr_select,
                 {send (scarr_row + std::string (46, '\0') + 'X'), close_connection ()},
                 {send (scarr_metadata + "OK\n" + "E,RFC Exception: DIALOG_ROWLIMIT_EXCEEDED\n"), close_connection ()},
                 1, "CARRID,CARRNAME\nLH,\"Luft,hansa \"\"A\"\"\"\n",
                 "E,RFC Exception: DIALOG_ROWLIMIT_EXCEEDED\nvokcli select: the server reported a failure: the rows "
                 "ended with an error record after 1 row and 1 error line(s)\n"},
    Select_Case {"InvalidPackedNumber",
                 {"--table", "SFLIGHT", "--format", "jsonl"},
                 with_rows ("sselect") + "<table name=\"SFLIGHT\"/></sselect>",
                 {send (utf16 ("LH", 3) + utf16 ("Luft", 4) + "\x00\x01\x2A\x4C"s + '\0'), close_connection ()},
                 {send (join_metadata + "OK\n"), close_connection ()},
                 2, "",
                 "vokcli select: row 1: column PRICE: the packed number holds the nibble 0x0a at digit 6 (byte 16 of "
                 "the row)\n"}),
  [] (const auto &test) { return std::string (test.param.name); });

// The message of a truncated record names the port, which changes: only its
// start is compared.
TEST (Vokcli, SelectTruncatedRecordNamesTheDataConnection)
{
  const Select_Case c {"", {"--table", "SCARR"}, scarr_select, {send (scarr_row.substr (0, 20)), close_connection ()},
                       {send (scarr_metadata + "OK\n"), close_connection ()}, 2, "", ""};
  const Vokcli_Run run = run_select (c);
  EXPECT_EQ (run.exit_code, 2);
  EXPECT_EQ (run.out, "CARRID,CARRNAME\n");
  EXPECT_EQ (run.err.find ("vokcli select: the data connection after 0 rows: the server at 127.0.0.1:"), 0u) << run.err;
  EXPECT_NE (run.err.find ("within a record, after 20 of its 47 bytes"), std::string::npos) << run.err;
}

TEST (Vokcli, SelectRefusedLogonRunsNoSelect)
{
  ::setenv (password_variable, password.c_str (), 1);
  Script_Server server ({send (padded_greeting (handle)), expect (logon_request + "\n"), send (rfc_error),
                         close_connection ()});
  std::vector<std::string> arguments {"select", "--port", std::to_string (server.port ()), "--timeout", "10",
                                      "--table", "SCARR"};
  arguments.insert (arguments.end (), logon_options.begin (), logon_options.end ());
  const Vokcli_Run run = run_vokcli (arguments);
  EXPECT_EQ (server.finish (), "");
  EXPECT_EQ (run.exit_code, 1);
  EXPECT_EQ (run.out, "");
  EXPECT_EQ (run.err, rfc_error + "vokcli select: the server refused the logon\n");
}

TEST (Vokcli, SelectWritesTheOutputFileAndProgress)
{
  vurude::test::TempDir folder;
  const std::string file = folder.path () + "/rows.csv";
  const Select_Case c {"", {"--table", "SCARR", "--output", file, "--progress"}, scarr_select,
                       {send (scarr_row + scarr_row + scarr_end), close_connection ()},
                       {send (scarr_metadata + "OK\n"), close_connection ()}, 0, "", ""};
  const Vokcli_Run run = run_select (c);
  EXPECT_EQ (run.exit_code, 0) << run.err;
  EXPECT_EQ (run.out, "");
  std::ifstream written (file, std::ios::binary);
  const std::string content ((std::istreambuf_iterator<char> (written)), std::istreambuf_iterator<char> ());
  const std::string row = "LH,\"Luft,hansa \"\"A\"\"\"\n";
  EXPECT_EQ (content, "CARRID,CARRNAME\n" + row + row);
  // The last progress line counts both rows and the end record.
  EXPECT_NE (run.err.find ("rows 2, bytes 141, "), std::string::npos) << run.err;
  EXPECT_NE (run.err.find (" rows/s, "), std::string::npos) << run.err;
  EXPECT_TRUE (run.err.ends_with (" MB/s\n")) << run.err;
}

TEST (Vokcli, SelectOutputThatCannotBeWrittenIsAFailure)
{
  const Select_Case c {"", {"--table", "SCARR", "--output", "/dev/full"}, scarr_select,
                       {send (scarr_row + scarr_end), close_connection ()},
                       {send (scarr_metadata + "OK\n"), close_connection ()}, 2, "", ""};
  const Vokcli_Run run = run_select (c);
  EXPECT_EQ (run.exit_code, 2);
  EXPECT_EQ (run.err, "vokcli select: cannot write the output to /dev/full\n");
}
}
