#include "nt_vurude_server.h"
#include "nt_vurude_service.h"

#include "argv_builder.h"
#include "fake_service_manager.h"
#include "log_capture.h"
#include "temp_folder.h"
#include "utf16_text.h"
#include "vurude_port_lock.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <thread>

namespace
{
// A port nothing listens on at the moment of the call.
int free_port ()
{
  const int fd = ::socket (AF_INET, SOCK_STREAM, 0);
  sockaddr_in address {};
  address.sin_family = AF_INET;
  socklen_t length = sizeof address;
  int port = -1;
  if (fd >= 0 && ::bind (fd, reinterpret_cast<sockaddr *> (&address), sizeof address) == 0
      && ::getsockname (fd, reinterpret_cast<sockaddr *> (&address), &length) == 0)
    port = ntohs (address.sin_port);
  if (fd >= 0)
    ::close (fd);
  return port;
}

class Dispatch : public testing::Test
{
protected:
  // Each command line runs in a fresh process: new options, new service object.
  int dispatch (std::vector<std::string> arguments)
  {
    service.reset ();
    options.reset (new Platform_Options);
    options->registry_root (registry.path ());
    service.reset (new nt_vurude_service (*options, manager));
    arguments.insert (arguments.begin (), "/opt/vok/vurude_server");
    Argv_Builder argv (arguments);
    return dispatch_command (argv.argc (), argv.argv (), *service);
  }

  // Stores a service's arguments as its install would.
  void store_arguments (const char16_t *name, std::vector<std::string> arguments)
  {
    Platform_Options installer;
    installer.registry_root (registry.path ());
    installer.service_name (name);
    arguments.insert (arguments.begin (), "vurude_server");
    Argv_Builder argv (arguments);
    installer.parse_args (argv.argc (), argv.argv (), 1);
    ASSERT_EQ (installer.set_registry (), 0);
  }

  static Service_Status state (int s, int check_point = 0)
  {
    Service_Status status;
    status.current_state = s;
    status.check_point = check_point;
    return status;
  }

  Temp_Folder registry;
  Fake_Service_Manager manager;
  std::unique_ptr<Platform_Options> options;
  std::unique_ptr<nt_vurude_service> service;
};

TEST_F (Dispatch, InstallCreatesTheServiceAndStoresItsArguments)
{
  ASSERT_EQ (dispatch ({"-i", "2", "-n", "vok1,VOK one", "-p", "7000"}), 0);
  ASSERT_EQ (manager.services.count ("vok1"), 1u);
  const Service_Definition &installed = manager.services["vok1"];
  EXPECT_EQ (installed.display_name, "VOK one");
  EXPECT_EQ (installed.start_type, 2);
  EXPECT_EQ (installed.executable_path.front (), '/');

  Platform_Options stored;
  stored.registry_root (registry.path ());
  stored.service_name (u"vok1");
  stored.get_registry ();
  EXPECT_EQ (stored.port (), 7000);
}

struct Command_Failure
{
  std::vector<std::string> arguments;
  const char *logged;
};

class Dispatch_Failure : public Dispatch, public testing::WithParamInterface<Command_Failure> {};

TEST_P (Dispatch_Failure, LogsOneMessageAndReturnsMinusOne)
{
  manager.fail_commands = true;
  Log_Capture log;
  EXPECT_EQ (dispatch (GetParam ().arguments), -1);
  EXPECT_EQ (log.text (), GetParam ().logged);
}

INSTANTIATE_TEST_SUITE_P (
  Commands, Dispatch_Failure,
  testing::Values (Command_Failure {{"-i"}, "ERROR installing service.\n"},
                   Command_Failure {{"-r"}, "ERROR removing service.\n"},
                   Command_Failure {{"-s"}, "ERROR starting service.\n"},
                   Command_Failure {{"-k"}, "ERROR starting service.\n"},
                   Command_Failure {{"-t", "4"}, "ERROR starting service.\n"}));

TEST_F (Dispatch, RemoveStartStopAndStartTypeReachTheManager)
{
  manager.services["vurudev9"] = Service_Definition {"vurudev9", "", "/x", 3};
  manager.start_script = {state (SERVICE_START_PENDING, 1), state (SERVICE_START_PENDING, 2), state (SERVICE_RUNNING)};
  EXPECT_EQ (dispatch ({"-s"}), 0);
  EXPECT_EQ (manager.queries, 3);

  manager.stop_script = {state (SERVICE_STOPPED)};
  EXPECT_EQ (dispatch ({"-k"}), 0);

  EXPECT_EQ (dispatch ({"-t", "4"}), 0);
  EXPECT_EQ (manager.services["vurudev9"].start_type, 4);

  EXPECT_EQ (dispatch ({"-r"}), 0);
  EXPECT_EQ (manager.services.count ("vurudev9"), 0u);
}

TEST_F (Dispatch, StartGivesUpWhenTheServiceMakesNoProgress)
{
  manager.services["vurudev9"] = Service_Definition {"vurudev9", "", "/x", 3};
  manager.start_script = {state (SERVICE_START_PENDING, 1), state (SERVICE_START_PENDING, 1)};
  Log_Capture log;
  EXPECT_EQ (dispatch ({"-s"}), -1);
  EXPECT_EQ (log.text (), "ERROR starting service.\n");
  EXPECT_EQ (manager.queries, 2);
}

TEST_F (Dispatch, StartPerformedEvenWithADebugLevel)
{
  manager.services["vurudev9"] = Service_Definition {"vurudev9", "", "/x", 3};
  manager.start_script = {state (SERVICE_RUNNING)};
  EXPECT_EQ (dispatch ({"-d", "1", "-s"}), 0);
  EXPECT_EQ (manager.queries, 1);
}

TEST_F (Dispatch, StartAndKillTogetherGiveTheUsage)
{
  GTEST_FLAG_SET (death_test_style, "threadsafe");
  EXPECT_EXIT (dispatch ({"-s", "-k"}), testing::ExitedWithCode (1), "^Usage: /opt/vok/vurude_server ");
}

TEST_F (Dispatch, InstallWithRemoveFallsThroughToTheOtherCommands)
{
  manager.services["vurudev9"] = Service_Definition {"vurudev9", "", "/x", 3};
  manager.stop_script = {state (SERVICE_STOPPED)};
  EXPECT_EQ (dispatch ({"-i", "-r", "-k"}), 0);
  EXPECT_EQ (manager.services.count ("vurudev9"), 1u);
}

TEST_F (Dispatch, ProcessNotStartedByTheManagerCannotRunAsAService)
{
  Log_Capture log;
  EXPECT_EQ (dispatch ({"-i", "-r"}), 0);
  EXPECT_EQ (log.text (), "Couldn't start service: " + std::string (std::strerror (ENOTCONN)) + "\n");
}

TEST_F (Dispatch, ServiceModeReadsItsStoredParametersAndStopsOnControl)
{
  const int port = free_port ();
  store_arguments (u"vok2", {"-p", std::to_string (port), "-V", "myvar"});

  manager.started_by_manager = true;
  manager.start_argument = "vok2";
  int result = -2;
  std::thread process_entry ([&] { result = dispatch ({}); });
  manager.wait_for_report (SERVICE_RUNNING);
  manager.send_control (SERVICE_CONTROL_STOP);
  process_entry.join ();

  EXPECT_EQ (result, 0);
  EXPECT_EQ (manager.control_handler_name, "NT VOK RFC Service");
  EXPECT_EQ (utf8_from_utf16 (options->service_name ()), "vok2");
  EXPECT_EQ (options->port (), port);
  EXPECT_EQ (utf8_from_utf16 (options->variant ()), "MYVAR");

  std::vector<int> states;
  for (const auto &report : manager.reports ())
    states.push_back (report.current_state);
  EXPECT_EQ (states, (std::vector<int> {SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING,
                                        SERVICE_STOPPED, SERVICE_STOPPED}));
  EXPECT_EQ (manager.reports ().back ().win32_exit_code, NO_ERROR_EXIT);
  EXPECT_EQ (manager.reports ().front ().controls_accepted, 0);
}

// A start that fails, here on a port another server holds, fails the
// process too: in the console through the exit status, as a service also
// through the last report, which carries the error number 40.
TEST_F (Dispatch, ConsoleRunWhosePortIsInUseFails)
{
  const int port = free_port ();
  Vurude_Port_Lock other_server (port);
  ASSERT_EQ (other_server.tryacquire (), 0);
  Log_Capture log;
  EXPECT_EQ (dispatch ({"-d", "1", "-p", std::to_string (port)}), -1);
  EXPECT_NE (log.text ().find ("Port " + std::to_string (port) + " already in use\n"), std::string::npos)
    << log.text ();
}

TEST_F (Dispatch, ServiceWhosePortIsInUseStopsWithError40AndFails)
{
  const int port = free_port ();
  store_arguments (u"vok3", {"-p", std::to_string (port)});
  Vurude_Port_Lock other_server (port);
  ASSERT_EQ (other_server.tryacquire (), 0);
  manager.started_by_manager = true;
  manager.start_argument = "vok3";
  EXPECT_EQ (dispatch ({}), -1);
  ASSERT_FALSE (manager.reports ().empty ());
  const Service_Status last = manager.reports ().back ();
  EXPECT_EQ (last.current_state, SERVICE_STOPPED);
  EXPECT_EQ (last.win32_exit_code, ERROR_SERVICE_SPECIFIC_ERROR);
  EXPECT_EQ (last.service_specific_exit_code, 40);
}
}
