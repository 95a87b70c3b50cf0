#include "systemd_service_manager.h"

#include "temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace
{
// Stands in for systemctl: records its arguments, one call a line, and
// answers as the test wants.
class Systemd_Manager : public testing::Test
{
protected:
  void SetUp () override
  {
    fs::create_directories (folder / "units");
    write_systemctl (0, "");
  }

  void write_systemctl (int status, const std::string &output)
  {
    const std::string path = folder / "systemctl";
    std::ofstream (path) << "#!/bin/sh\necho \"$@\" >> '" << (folder / "calls") << "'\n"
                         << "printf '" << output << "'\nexit " << status << "\n";
    ::chmod (path.c_str (), 0755);
  }

  std::string calls ()
  {
    std::ifstream in (folder / "calls");
    return std::string ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char> ());
  }

  std::string read (const std::string &path)
  {
    std::ifstream in (path);
    return std::string ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char> ());
  }

  Systemd_Service_Manager manager () { return Systemd_Service_Manager (folder / "units", folder / "systemctl"); }

  Temp_Folder folder;
};

TEST_F (Systemd_Manager, InstallWritesANotifyUnitAndEnablesAnAutomaticStart)
{
  auto m = manager ();
  ASSERT_EQ (m.install ({"vurudev9", "VOK RFC Service V9", "/opt/vok/bin/vurude_server", SERVICE_AUTO_START}), 0);
  EXPECT_EQ (read (folder / "units/vurudev9.service"),
             "# Written by \"vurude_server -i\"; \"vurude_server -r\" removes it.\n"
             "[Unit]\n"
             "Description=VOK RFC Service V9\n"
             "After=network-online.target\n"
             "Wants=network-online.target\n"
             "\n"
             "[Service]\n"
             "Type=notify\n"
             "NotifyAccess=main\n"
             "ExecStart=\"/opt/vok/bin/vurude_server\"\n"
             "\n"
             "[Install]\n"
             "WantedBy=multi-user.target\n");
  EXPECT_EQ (calls (), "daemon-reload\nenable --quiet vurudev9.service\n");
  EXPECT_FALSE (fs::exists (folder / "units/vurudev9.service.d"));
}

TEST_F (Systemd_Manager, DisabledServiceRefusesManualStartsUntilReconfigured)
{
  auto m = manager ();
  ASSERT_EQ (m.install ({"svc", "d", "/x", SERVICE_DISABLED}), 0);
  EXPECT_EQ (read (folder / "units/svc.service.d/start-type.conf"),
             "# Start type \"disabled\": no manual starts either.\n[Unit]\nRefuseManualStart=yes\n");
  EXPECT_EQ (calls (), "daemon-reload\ndisable --quiet svc.service\n");

  ASSERT_EQ (m.set_start_type ("svc", SERVICE_DEMAND_START), 0);
  EXPECT_FALSE (fs::exists (folder / "units/svc.service.d"));
}

TEST_F (Systemd_Manager, DescriptionCannotBreakOutOfItsLine)
{
  const std::string text = Systemd_Service_Manager::unit_text ({"s", "A\nExecStartPre=/bin/evil 100%", "/x", 3});
  EXPECT_NE (text.find ("Description=A ExecStartPre=/bin/evil 100%%\n"), std::string::npos);
}

TEST_F (Systemd_Manager, FailedInstallLeavesNothingBehind)
{
  write_systemctl (1, "");
  auto m = manager ();
  EXPECT_EQ (m.install ({"svc", "d", "/x", SERVICE_DEMAND_START}), -1);
  EXPECT_FALSE (fs::exists (folder / "units/svc.service"));
}

TEST_F (Systemd_Manager, RejectsWhatIsNotAUnitOrAStartType)
{
  auto m = manager ();
  EXPECT_EQ (m.install ({"../etc/x", "d", "/x", SERVICE_DEMAND_START}), -1);
  EXPECT_EQ (m.install ({"two words", "d", "/x", SERVICE_DEMAND_START}), -1);
  EXPECT_EQ (m.install ({"svc", "d", "/x", 5}), -1);
  EXPECT_EQ (m.install ({"svc", "d", "/x", 1}), -1);
  EXPECT_EQ (calls (), "");
  ASSERT_EQ (m.install ({"svc", "d", "/x", SERVICE_DEMAND_START}), 0);
  EXPECT_EQ (m.install ({"svc", "d", "/x", SERVICE_DEMAND_START}), -1) << "installed twice";
}

TEST_F (Systemd_Manager, RemoveDeletesTheUnitAndFailsForAnUnknownService)
{
  auto m = manager ();
  EXPECT_EQ (m.remove ("svc"), -1);
  ASSERT_EQ (m.install ({"svc", "d", "/x", SERVICE_DISABLED}), 0);
  ASSERT_EQ (m.remove ("svc"), 0);
  EXPECT_FALSE (fs::exists (folder / "units/svc.service"));
  EXPECT_FALSE (fs::exists (folder / "units/svc.service.d"));
}

TEST_F (Systemd_Manager, QueryMapsTheActiveState)
{
  const std::pair<const char *, int> cases[] = {
    {"active\\n", SERVICE_RUNNING}, {"activating\\n", SERVICE_START_PENDING},
    {"deactivating\\n", SERVICE_STOP_PENDING}, {"inactive\\n", SERVICE_STOPPED},
    {"failed\\n", SERVICE_STOPPED}};
  for (const auto &[output, state] : cases)
    {
      write_systemctl (0, output);
      auto m = manager ();
      Service_Status status;
      ASSERT_EQ (m.query_status ("svc", status), 0);
      EXPECT_EQ (status.current_state, state) << output;
    }
  write_systemctl (1, "");
  auto m = manager ();
  Service_Status status;
  EXPECT_EQ (m.query_status ("svc", status), -1);
}

TEST_F (Systemd_Manager, DispatcherRefusesAProcessSystemdDidNotStart)
{
  ::unsetenv ("NOTIFY_SOCKET");
  auto m = manager ();
  EXPECT_EQ (m.run_dispatcher ([] (int, char **) { FAIL () << "service main ran"; }), -1);
  EXPECT_EQ (errno, ENOTCONN);
}
}
