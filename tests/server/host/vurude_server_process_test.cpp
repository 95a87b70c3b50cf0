// The server executable as an operator runs it: exit statuses, the exact
// usage text, console mode until a stop signal.
#include "child_process.h"
#include "server_process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>

using vurude::test::ChildProcess;

namespace
{
using namespace std::chrono_literals;

const char usage_text[] =
  "Usage: " VURUDE_SERVER_EXE " -in -r -s -k -tn -n name[,desc] -dn -p port -V variant -N ns -b \"bparms\" -c port -B min_bufsize -U unlimited_dialog -S \"smparms\"\n"
  "  -i: Install this program as an NT service, with\n"
  "      specified startup n.  (See -t for description.)\n"
  "  -r: Remove this program from the Service Manager\n"
  "  -s: Start the service\n"
  "  -k: Kill the service\n"
  "  -t: Set startup for an existing service\n"
  "      n=2 service starts automatically\n"
  "      n=3 service starts on demand\n"
  "      n=4 service disabled\n"
  "  -n: name and (optional) description of the service.\n"
  "  -d: Debug; run as a regular application with\n"
  "      debug level n.\n"
  "  -p: Port number on which the server listens.\n"
  "  -V: R/3 report variant, assigned to this server.\n"
  "      (Required for batch operation.)\n"
  "  -N: R/3 name prefix for ABAP objects.\n"
  "  -b: Parameters for batch compatibility (optional).\n"
  "      (Example: -b \"-p 6995 -R ZVOKRDBT -V MYVAR1\")\n"
  "  -c: Port number for dialog compatibility (optional).\n"
  "  -B: Minimum buffer size for RFC data transfers.\n"
  "      (Should be a number greater than 10000\n"
  "       and less than 99999999.)\n"
  "  -U: Extract unlimited records in dialog mode\n"
  "      unlimited_dialog = 0 or n or N\n"
  "                            enforce the limit (default)\n"
  "      unlimited_dialog = 1 or y or Y\n"
  "                            do not enforce limit (old style)\n"
  "  -S: Parameters for Status Monitoring (optional).\n"
  "      (Example: -S \"-a progid -g gwhost -x sapgw12\")\n";

struct Run_Result
{
  int exit_status;
  std::string errors;
};

Run_Result run (std::vector<std::string> arguments)
{
  arguments.insert (arguments.begin (), VURUDE_SERVER_EXE);
  ChildProcess server;
  std::string error;
  EXPECT_TRUE (server.start (arguments, error)) << error;
  const auto status = server.wait_exit (30s);
  EXPECT_TRUE (status && WIFEXITED (*status)) << server.stderr_text ();
  return {status && WIFEXITED (*status) ? WEXITSTATUS (*status) : -1, server.stderr_text ()};
}

TEST (Vurude_Server, BadOptionsPrintTheUsageExactly)
{
  const Run_Result result = run ({"-x"});
  EXPECT_EQ (result.exit_status, 1);
  EXPECT_EQ (result.errors, usage_text);
}

TEST (Vurude_Server, StartAndKillTogetherPrintTheUsage)
{
  const Run_Result result = run ({"-s", "-k"});
  EXPECT_EQ (result.exit_status, 1);
  EXPECT_EQ (result.errors, usage_text);
}

TEST (Vurude_Server, BatchParametersWithoutVariantNameTheFault)
{
  const Run_Result result = run ({"-b", "-p 6995"});
  EXPECT_EQ (result.exit_status, 1);
  EXPECT_EQ (result.errors, std::string ("batch compatibility variant must be specified\n") + usage_text);
}

// A number that is not one ends the process before anything runs: the
// message naming the argument, then the usage.
struct Bad_Number_Case
{
  std::vector<std::string> arguments;
  const char *message;
};

class Bad_Number : public testing::TestWithParam<Bad_Number_Case> {};

TEST_P (Bad_Number, IsNamedBeforeTheUsageAndExitsWithStatus1)
{
  const Run_Result result = run (GetParam ().arguments);
  EXPECT_EQ (result.exit_status, 1);
  EXPECT_EQ (result.errors, GetParam ().message + std::string (usage_text));
}

INSTANTIATE_TEST_SUITE_P (
  Values, Bad_Number,
  testing::Values (Bad_Number_Case {{"-p", "12ab"}, "-p: '12ab' is not a port number from 1 to 65535\n"},
                   // "-p 0" is refused too, so no run ever listens on the default port.
                   Bad_Number_Case {{"-d", "99999999999999999999", "-p", "0"},
                                    "-d: '99999999999999999999' is not a debug level from 1 to 2147483647\n"}));

TEST (Vurude_Server, WithoutDebugLevelOutsideSystemdCannotRunAsAService)
{
  const Run_Result result = run ({});
  EXPECT_EQ (result.exit_status, 0);
  EXPECT_EQ (result.errors, "Couldn't start service: Transport endpoint is not connected\n");
}

class Console_Mode : public testing::TestWithParam<int> {};

TEST_P (Console_Mode, RunsUntilAStopSignal)
{
  ChildProcess server;
  std::string error;
  ASSERT_TRUE (server.start ({VURUDE_SERVER_EXE, "-d", "1", "-B", "9999",
                              "-p", std::to_string (free_tcp_port ())}, error)) << error;
  ASSERT_TRUE (server.wait_for_stderr ("vurude_service 4.2 Unicode 2009-03-19 starting", 30s))
    << server.stderr_text ();
  server.signal (GetParam ());
  const auto status = server.wait_exit (30s);
  ASSERT_TRUE (status);
  EXPECT_TRUE (WIFEXITED (*status));
  EXPECT_EQ (WEXITSTATUS (*status), 0);
  const std::string errors = server.stderr_text ();
  EXPECT_EQ (errors.rfind ("minimum bufsize ignored - 10000 used\n", 0), 0u) << errors;
  EXPECT_NE (errors.find ("vurude_service 4.2 Unicode 2009-03-19 stopping\n"), std::string::npos) << errors;
}

INSTANTIATE_TEST_SUITE_P (Signals, Console_Mode, testing::Values (SIGINT, SIGTERM, SIGHUP, SIGQUIT));
}
