// vokcli as a program against a scripted server. connect: the document it
// sends for its options, what it prints where, its exit codes, and that the
// password shows nowhere in its output. select: the select document its
// options make, the rows in each output format, and its exit codes. call:
// the description it prints, the values and rows it sends, what it prints
// of the results, and its exit codes.
#include "child_process.h"
#include "script_server.h"
#include "temp_dir.h"
#include "vok_function_call.h"

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

// --- vokcli call ---

const std::string call_handle = "000400000000DEADBEEF";

const std::vector<std::string> flight_list {
  "FUNCTION,Z_FLIGHT_LIST,Flights of an airline",
  "PARAMETER,AIRLINE,E,C,6,0,,Airline code",
  "PARAMETER,MAXROWS,E,I,4,0,X,Most rows",
  "PARAMETER,COUNT,I,I,4,0,,Flights found",
  "PARAMETER,TOTAL,I,P,8,2,,Sum of the prices",
  "TABLE,FLIGHTS,28,ZFLIGHT,N,Flights found",
  "FIELD,FLIGHTS,CONNID,N,8,0,0,Flight number",
  "FIELD,FLIGHTS,FLDATE,D,16,0,8,Flight date",
  "FIELD,FLIGHTS,PRICE,P,4,2,24,Airfare",
  "TABLE,CARRIERS,6,,Y,Airlines",
  "TABLE,MESSAGES,4,,N,",
  "EXCEPTION,NOT_FOUND,No flights"};

std::string joined (const std::vector<std::string> &lines)
{
  std::string text;
  for (const std::string &line : lines)
    text += line + "\n";
  return text;
}

// The document of a call with these arguments, as the library writes it
// (its exact text is the library's test).
std::string call_document (const Vok_Function_Arguments &arguments)
{
  Vok_Function_Interface interface;
  EXPECT_TRUE (Vok_Function_Interface_Parser::parse (flight_list, interface).ok ());
  Vok_Function_Document document;
  EXPECT_TRUE (Vok_Function_Call::make_document (interface, arguments, document).ok ());
  document.chandle = handle;
  document.dhandle = data_handle;
  std::string text;
  EXPECT_TRUE (document.write (text).ok ());
  return text;
}

struct Call_Case
{
  const char *name;
  std::vector<std::string> options;  // after the logon options
  std::string csv;                   // the file of "--table FLIGHTS=<file>" when not empty
  std::vector<Script_Step> describe;  // the description's reply after the document
  Vok_Function_Arguments arguments;  // of the call; no call when `data` is empty
  std::vector<Script_Step> data;     // after the greeting
  std::vector<Script_Step> reply;    // after the call's document
  int exit_code;
  std::string out;
  std::string err;
  friend void PrintTo (const Call_Case &c, std::ostream *os) { *os << c.name; }
};

class Vokcli_Call : public testing::TestWithParam<Call_Case> {};

// Runs vokcli call for the case against the control connection that logs
// on, the request connection of the description, then the data and the
// request connection of the call.
Vokcli_Run run_call (const Call_Case &c)
{
  ::setenv (password_variable, password.c_str (), 1);
  Connection_Scripts scripts;
  scripts.scripts.push_back ({send (padded_greeting (handle)), expect (logon_request + "\n"),
                              send (system_info + "\n"), expect_closed ()});
  std::vector<Script_Step> describe {
    send (padded_greeting (request_handle)),
    expect ("<function chandle=\"" + handle + "\" metadata=\"Y\" name=\"Z_FLIGHT_LIST\"/>\n")};
  describe.insert (describe.end (), c.describe.begin (), c.describe.end ());
  scripts.scripts.push_back (describe);
  if (!c.data.empty ())
    {
      std::vector<Script_Step> data {send (padded_greeting (data_handle))};
      data.insert (data.end (), c.data.begin (), c.data.end ());
      scripts.scripts.push_back (data);
      std::vector<Script_Step> request {send (padded_greeting (call_handle)),
                                        expect (call_document (c.arguments) + "\n")};
      request.insert (request.end (), c.reply.begin (), c.reply.end ());
      scripts.scripts.push_back (request);
    }
  Script_Server server (scripts);
  vurude::test::TempDir folder;
  std::vector<std::string> arguments {"call", "--port", std::to_string (server.port ()), "--timeout", "10"};
  arguments.insert (arguments.end (), logon_options.begin (), logon_options.end ());
  arguments.push_back ("Z_FLIGHT_LIST");
  arguments.insert (arguments.end (), c.options.begin (), c.options.end ());
  if (!c.csv.empty ())
    {
      const std::string file = folder.path () + "/flights.csv";
      std::ofstream (file, std::ios::binary) << c.csv;
      arguments.insert (arguments.end (), {"--table", "FLIGHTS=" + file});
    }
  const Vokcli_Run run = run_vokcli (arguments);
  EXPECT_EQ (server.finish (), "");
  return run;
}

TEST_P (Vokcli_Call, DescribesCallsAndPrints)
{
  const Call_Case &c = GetParam ();
  const Vokcli_Run run = run_call (c);
  EXPECT_EQ (run.exit_code, c.exit_code);
  EXPECT_EQ (run.out, c.out);
  EXPECT_EQ (run.err, c.err);
  EXPECT_EQ (run.err.find (password), std::string::npos);
}

const std::vector<Script_Step> described {send (joined (flight_list)), close_connection ()};

Vok_Function_Arguments airline_lh (std::vector<std::pair<std::string, Vok_Table_Rows>> tables = {})
{
  Vok_Function_Arguments arguments;
  arguments.values = {{"AIRLINE", "LH"}};
  arguments.tables = std::move (tables);
  return arguments;
}

const std::string count_and_total = "\x03\0\0\0\0"s + "\x00\x00\x00\x00\x01\x23\x45\x0C\x00"s;
const std::string two_flights = utf16 ("0400", 4) + utf16 ("20240131", 8) + "\x00\x01\x23\x4C\x00"s
                                + utf16 ("0401", 4) + utf16 ("20240201", 8) + "\x00\x09\x99\x9D\x00"s;
const std::string flight_results = "D,COUNT,1\nD,TOTAL,1\nD,FLIGHTS,2\nEOF\n";

INSTANTIATE_TEST_SUITE_P (
  Cases, Vokcli_Call,
  testing::Values (
    Call_Case {"Describe", {"--describe"}, "", described, {}, {}, {}, 0,
               "Z_FLIGHT_LIST: Flights of an airline\n"
               "Parameters:\n"
               "  AIRLINE  in   C(3)    required  Airline code\n"
               "  MAXROWS  in   I       optional  Most rows\n"
               "  COUNT    out  I                 Flights found\n"
               "  TOTAL    out  P(8,2)            Sum of the prices\n"
               "Tables:\n"
               "  FLIGHTS   in/out  line of 28 bytes  structure ZFLIGHT  Flights found\n"
               "    CONNID  N(4)    at 0   Flight number\n"
               "    FLDATE  D       at 8   Flight date\n"
               "    PRICE   P(4,2)  at 24  Airfare\n"
               "  CARRIERS  in      line of 6 bytes                      Airlines\n"
               "  MESSAGES  in/out  line of 4 bytes\n"
               "Exceptions:\n"
               "  NOT_FOUND  No flights\n",
               ""},
    Call_Case {"CallWithRowsAsCsv", {"--param", "AIRLINE=LH"}, "CONNID,FLDATE\r\n\"0400\",2024-01-31\r\n", described,
               airline_lh ({{"FLIGHTS", {{"CONNID", "FLDATE"}, {{"0400", "2024-01-31"}}}}}),
               {send (count_and_total + two_flights), expect_closed ()},
               {send (flight_results), expect_closed ()}, 0,
               "COUNT=3\nTOTAL=1234.50\nTABLE FLIGHTS (2 rows)\nCONNID,FLDATE,PRICE\n0400,20240131,12.34\n"
               "0401,20240201,-99.99\nTABLE MESSAGES (0 rows)\nLINE\n",
               ""},
    Call_Case {"CallAsJsonLines", {"--param", "AIRLINE=LH", "--format", "jsonl"}, "", described, airline_lh (),
               {send (count_and_total + two_flights + "\x01\x02\x03\x04\x00"s), expect_closed ()},
               {send ("D,COUNT,1\nD,TOTAL,1\nD,FLIGHTS,2\nD,MESSAGES,1\nEOF\n"), expect_closed ()}, 0,
               "COUNT=3\nTOTAL=1234.50\nTABLE FLIGHTS (2 rows)\n"
               "{\"CONNID\":\"0400\",\"FLDATE\":\"20240131\",\"PRICE\":12.34}\n"
               "{\"CONNID\":\"0401\",\"FLDATE\":\"20240201\",\"PRICE\":-99.99}\n"
               "TABLE MESSAGES (1 row)\n{\"LINE\":\"01020304\"}\n",
               ""},
    Call_Case {"Exception", {"--param", "AIRLINE=XX"}, "", described,
               [] {
                 Vok_Function_Arguments arguments;
                 arguments.values = {{"AIRLINE", "XX"}};
                 return arguments;
               }(),
               {expect_closed ()}, {send ("E,RFC Exception: NOT_FOUND\n"), close_connection ()}, 1, "",
               "E,RFC Exception: NOT_FOUND\nvokcli call: Z_FLIGHT_LIST raised the exception NOT_FOUND: No flights\n"},
    Call_Case {"UnknownFunction", {"--describe"}, "",
               {send ("E,RFC Exception: FUNCTION_NOT_FOUND\n"), close_connection ()}, {}, {}, {}, 1, "",
               "E,RFC Exception: FUNCTION_NOT_FOUND\nvokcli call: cannot describe Z_FLIGHT_LIST: the function raised "
               "the exception FUNCTION_NOT_FOUND\n"},
    Call_Case {"ParameterTheModuleDoesNotTake", {"--param", "AIRLINE=LH", "--param", "CITY=Berlin"}, "", described, {},
               {}, {}, 3, "", "vokcli call: Z_FLIGHT_LIST has no parameter CITY\n"},
    Call_Case {"RequiredParameterLeftOut", {}, "", described, {}, {}, {}, 3, "",
               "vokcli call: parameter AIRLINE of Z_FLIGHT_LIST is required\n"},
    Call_Case {"CsvFieldTheTableDoesNotHave", {"--param", "AIRLINE=LH"}, "SEATS\n1\n", described, {}, {}, {}, 3, "",
               "vokcli call: table FLIGHTS has no field SEATS\n"}),
  [] (const auto &test) { return std::string (test.param.name); });

// The message of a truncated value names the port, which changes: only its
// start is compared.
TEST (Vokcli, CallTruncatedValueNamesTheDataConnection)
{
  const Call_Case c {"", {"--param", "AIRLINE=LH"}, "", described, airline_lh (),
                     {send ("\x03\0\0"s), close_connection ()}, {send (flight_results), expect_closed ()}, 2, "", ""};
  const Vokcli_Run run = run_call (c);
  EXPECT_EQ (run.exit_code, 2);
  EXPECT_EQ (run.out, "");
  EXPECT_EQ (run.err.find ("vokcli call: the data connection, parameter COUNT: the server at 127.0.0.1:"), 0u)
    << run.err;
  EXPECT_NE (run.err.find ("within a record, after 3 of its 5 bytes"), std::string::npos) << run.err;
}

// Command lines of `vokcli call` that cannot be carried out send nothing.
TEST (Vokcli, CallRefusesBadOptionsBeforeConnecting)
{
  vurude::test::TempDir folder;
  const std::string unclosed = folder.path () + "/unclosed.csv";
  std::ofstream (unclosed) << "CONNID\n\"0400\n";
  const std::string empty = folder.path () + "/empty.csv";
  {
    std::ofstream file (empty);
  }
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases {
    {{"call", "--port", "1"}, "module is required"},
    {{"call", "--port", "1", "Z_F", "--param", "AIRLINE"}, "vokcli call: --param \"AIRLINE\" is not NAME=VALUE"},
    {{"call", "--port", "1", "Z_F", "--param", "=LH"}, "is not NAME=VALUE"},
    {{"call", "--port", "1", "Z_F", "--describe", "--param", "A=1"}, "excludes"},
    {{"call", "--port", "1", "Z_F", "--table", "FLIGHTS"}, "vokcli call: --table \"FLIGHTS\" is not NAME=FILE.csv"},
    {{"call", "--port", "1", "Z_F", "--table", "FLIGHTS=/nonexistent-folder/f.csv"},
     "vokcli call: --table FLIGHTS: cannot open /nonexistent-folder/f.csv: No such file or directory"},
    {{"call", "--port", "1", "Z_F", "--table", "FLIGHTS=" + unclosed},
     "vokcli call: --table FLIGHTS: the quote opened on line 2 is not closed"},
    {{"call", "--port", "1", "Z_F", "--table", "FLIGHTS=" + empty}, "has no header line naming the fields"},
    {{"call", "--port", "1", "Z_F", "--format", "table"}, "--format"}};
  for (const auto &[arguments, message] : cases)
    {
      const Vokcli_Run run = run_vokcli (arguments);
      EXPECT_EQ (run.exit_code, 3) << arguments.back ();
      EXPECT_EQ (run.out, "");
      EXPECT_NE (run.err.find (message), std::string::npos) << run.err;
    }
}

TEST (Vokcli, CallHelpDescribesTheOptions)
{
  const Vokcli_Run run = run_vokcli ({"call", "--help"});
  EXPECT_EQ (run.exit_code, 0);
  for (const char *option : {"module", "--port", "--password-env", "--describe", "--param", "--table", "--format",
                             "Exit codes"})
    EXPECT_NE (run.out.find (option), std::string::npos) << option;
}
}
