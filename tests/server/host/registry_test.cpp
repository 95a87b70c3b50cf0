#include "nt_vurude_service_options.h"

#include "argv_builder.h"
#include "log_capture.h"
#include "temp_folder.h"
#include "utf16_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace
{
const std::string parameters_path =
  "HKEY_LOCAL_MACHINE/SYSTEM/CurrentControlSet/Services/vurudev9/Parameters";

class Registry : public testing::Test
{
protected:
  void parse (Platform_Options &options, std::vector<std::string> arguments)
  {
    arguments.insert (arguments.begin (), "vurude_server");
    Argv_Builder argv (arguments);
    options.registry_root (root.path ());
    options.parse_args (argv.argc (), argv.argv (), 1);
  }

  std::string stored_text ()
  {
    std::ifstream in (root / parameters_path + "/AppParameter");
    return std::string ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char> ());
  }

  void store (const std::string &text)
  {
    fs::create_directories (root / parameters_path);
    std::ofstream (root / parameters_path + "/AppParameter") << text;
  }

  Temp_Folder root;
};

TEST_F (Registry, StoredArgumentsReproduceTheInstalledConfiguration)
{
  Platform_Options installed;
  parse (installed, {"-i", "-n", "vurudev9,VOK test", "-p", "7100", "-c", "7101", "-V", "myvar",
                     "-N", "/xy/", "-S", "-a progid -g gw -x sapgw00", "-b", "-p 7102 -R zr -V bv",
                     "-B", "20000", "-U", "y", "-d", "2"});
  ASSERT_EQ (installed.set_registry (), 0);
  EXPECT_EQ (stored_text (), "-n 'vurudev9,VOK test' -V myvar -N /xy/ -S \"-a progid -g gw -x sapgw00\" "
                             "-p 7100 -c 7101 -b '-p 7102 -R zr -V bv' -B 20000 -U 1");

  Platform_Options service;
  service.registry_root (root.path ());
  Log_Capture log;
  service.get_registry ();
  EXPECT_EQ (log.text (), "");
  EXPECT_EQ (service.port (), 7100);
  EXPECT_EQ (service.dialog_port (), 7101);
  EXPECT_EQ (service.batch_port (), 7102);
  EXPECT_EQ (utf8_from_utf16 (service.variant ()), "MYVAR");
  EXPECT_EQ (utf8_from_utf16 (service.name_prefix ()), "/XY/");
  EXPECT_EQ (utf8_from_utf16 (service.batch_report ()), "zr");
  EXPECT_EQ (service.min_bufsize (), 20000);
  EXPECT_EQ (service.unlimited_dialog (), u'X');
  EXPECT_EQ (utf8_from_utf16 (service.service_desc ()), "VOK test");
  EXPECT_EQ (service.status ().registration_count (), 1u);
  // The debug level is never stored: a service runs as a service.
  EXPECT_EQ (service.debug_level (), 0);
}

TEST_F (Registry, ValueThatDoesNotFitTheReadBufferIsIgnoredSilently)
{
  // 255 characters and the terminator fill the 256-unit buffer exactly.
  const std::string fits = "-p 7200 -V " + std::string (255 - 11, 'v');
  store (fits);
  Platform_Options service;
  service.registry_root (root.path ());
  service.get_registry ();
  EXPECT_EQ (service.port (), 7200);

  store (fits + "w");
  Platform_Options too_long;
  too_long.registry_root (root.path ());
  Log_Capture log;
  too_long.get_registry ();
  EXPECT_EQ (log.text (), "");
  EXPECT_EQ (too_long.port (), 6999);
  EXPECT_EQ (utf8_from_utf16 (too_long.variant ()), "");
}

TEST_F (Registry, StoredWordsAreSplitWithQuotesAndEnvironment)
{
  ::setenv ("VURUDE_TEST_PREFIX", "/ENV/", 1);
  store ("-N $VURUDE_TEST_PREFIX -n \"svc,Two Words\"");
  Platform_Options service;
  service.registry_root (root.path ());
  service.get_registry ();
  EXPECT_EQ (utf8_from_utf16 (service.name_prefix ()), "/ENV/");
  EXPECT_EQ (utf8_from_utf16 (service.service_desc ()), "Two Words");
}

TEST_F (Registry, MissingKeyIsLoggedAndChangesNothing)
{
  Platform_Options service;
  service.registry_root (root.path ());
  Log_Capture log;
  service.get_registry ();
  EXPECT_EQ (log.text (), "in Platform_Options::get_registry ACE_Registry::Naming_Contexts::bind/resolve_context failed: "
                          + std::string (std::strerror (ENOENT)) + "\n");
  EXPECT_EQ (service.port (), 6999);
}

TEST_F (Registry, StoringOverwritesThePreviousValue)
{
  store ("-p 1");
  Platform_Options installed;
  parse (installed, {"-p", "7300"});
  ASSERT_EQ (installed.set_registry (), 0);
  EXPECT_EQ (stored_text (), "-p 7300");
}

struct Store_Failure
{
  const char *name;
  void (*prepare) (const Temp_Folder &root, Platform_Options &options);
  const char *message;
};

class Registry_Failure : public Registry, public testing::WithParamInterface<Store_Failure> {};

TEST_P (Registry_Failure, SetRegistryReportsEachFailurePoint)
{
  Platform_Options installed;
  parse (installed, {"-p", "7400"});
  GetParam ().prepare (root, installed);
  Log_Capture log;
  EXPECT_EQ (installed.set_registry (), -1);
  EXPECT_EQ (log.text ().substr (0, log.text ().rfind (": ")), GetParam ().message);
}

INSTANTIATE_TEST_SUITE_P (
  Points, Registry_Failure,
  testing::Values (
    Store_Failure {"RootIsAFile", [] (const Temp_Folder &root, Platform_Options &options) {
      std::ofstream (root / "file") << "x";
      options.registry_root (root / "file");
    }, "ACE_Predefined_Naming_Contexts::connect failed"},
    Store_Failure {"KeyPathBlocked", [] (const Temp_Folder &root, Platform_Options &) {
      fs::create_directories (root / "HKEY_LOCAL_MACHINE/SYSTEM/CurrentControlSet/Services");
      std::ofstream (root / "HKEY_LOCAL_MACHINE/SYSTEM/CurrentControlSet/Services/vurudev9") << "x";
    }, "in Platform_Options::set_registry ACE_Registry::Naming_Contexts::bind/resolve_context failed"},
    Store_Failure {"NameLeavesItsFolder", [] (const Temp_Folder &, Platform_Options &options) {
      options.service_name (u"..");
    }, "in Platform_Options::set_registry ACE_Registry::Naming_Contexts::bind/resolve_context failed"},
    Store_Failure {"ValueIsAFolder", [] (const Temp_Folder &root, Platform_Options &) {
      fs::create_directories (root / parameters_path + "/AppParameter");
    }, "ACE_Registry::Naming_Contexts::bind/resolve failed"}),
  [] (const testing::TestParamInfo<Store_Failure> &failure) { return failure.param.name; });
}
