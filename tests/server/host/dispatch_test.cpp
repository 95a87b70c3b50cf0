#include "nt_vurude_server.h"
#include "nt_vurude_service.h"

#include "argv_builder.h"
#include "fake_service_manager.h"
#include "log_capture.h"
#include "temp_folder.h"
#include "utf16_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>

namespace
{
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
  Platform_Options installer;
  installer.registry_root (registry.path ());
  installer.service_name (u"vok2");
  Argv_Builder install_argv ({"vurude_server", "-p", "7123", "-V", "myvar"});
  installer.parse_args (install_argv.argc (), install_argv.argv (), 1);
  ASSERT_EQ (installer.set_registry (), 0);

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
  EXPECT_EQ (options->port (), 7123);
  EXPECT_EQ (utf8_from_utf16 (options->variant ()), "MYVAR");

  std::vector<int> states;
  for (const auto &report : manager.reports ())
    states.push_back (report.current_state);
  EXPECT_EQ (states, (std::vector<int> {SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING,
                                        SERVICE_STOPPED, SERVICE_STOPPED}));
  EXPECT_EQ (manager.reports ().back ().win32_exit_code, NO_ERROR_EXIT);
  EXPECT_EQ (manager.reports ().front ().controls_accepted, 0);
}
}
