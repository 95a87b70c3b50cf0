#include "nt_vurude_service_options.h"

#include "argv_builder.h"
#include "log_capture.h"
#include "utf16_text.h"

#include <ace/Log_Msg.h>

#include <gtest/gtest.h>

namespace
{
std::string u8 (std::u16string_view text) { return utf8_from_utf16 (text); }

void parse (Platform_Options &options, std::vector<std::string> arguments)
{
  arguments.insert (arguments.begin (), "vurude_server");
  Argv_Builder argv (arguments);
  options.parse_args (argv.argc (), argv.argv (), 1);
}

TEST (Options, DefaultsWithoutArguments)
{
  Platform_Options options;
  parse (options, {});
  EXPECT_EQ (options.port (), 6999);
  EXPECT_EQ (options.dialog_port (), 0);
  EXPECT_EQ (options.batch_port (), 0);
  EXPECT_EQ (options.min_bufsize (), 10000);
  EXPECT_EQ (options.unlimited_dialog (), u' ');
  EXPECT_EQ (u8 (options.name_prefix ()), "/VOK/");
  EXPECT_EQ (u8 (options.service_name ()), "vurudev9");
  EXPECT_EQ (u8 (options.service_desc ()), "VOK RFC Service V9");
  EXPECT_EQ (options.debug_level (), 0);
  EXPECT_EQ (options.install_requested (), 0);
  EXPECT_EQ (options.app_parameter ().argc (), 2);
  EXPECT_STREQ (options.app_parameter ().buf (), "-p 6999");
}

// What a command line leaves in the options and in the arguments to store.
struct Parse_Case
{
  std::vector<std::string> arguments;
  std::string stored;
  void (*check) (Platform_Options &);
};

class Parse_Args : public testing::TestWithParam<Parse_Case> {};

TEST_P (Parse_Args, SetsFieldsAndStoredArguments)
{
  Platform_Options options;
  Log_Capture log;
  parse (options, GetParam ().arguments);
  EXPECT_STREQ (options.app_parameter ().buf (), GetParam ().stored.c_str ());
  GetParam ().check (options);
}

INSTANTIATE_TEST_SUITE_P (
  Values, Parse_Args,
  testing::Values (
    Parse_Case {{"-i", "-p", "7000"}, "-p 7000", [] (Platform_Options &o) {
      EXPECT_EQ (o.install_requested (), 1);
      EXPECT_EQ (o.startup_type (), 3);
      EXPECT_EQ (o.port (), 7000);
    }},
    Parse_Case {{"-p", "7000", "-i"}, "-p 7000", [] (Platform_Options &o) {
      EXPECT_EQ (o.install_requested (), 1);
      EXPECT_EQ (o.startup_type (), 3);
    }},
    Parse_Case {{"-i", "2"}, "-p 6999", [] (Platform_Options &o) {
      EXPECT_EQ (o.startup_type (), 2);
    }},
    Parse_Case {{"-t", "4", "-r", "-s", "-k"}, "-p 6999", [] (Platform_Options &o) {
      EXPECT_EQ (o.set_startup_requested (), 1);
      EXPECT_EQ (o.startup_type (), 4);
      EXPECT_EQ (o.remove_requested (), 1);
      EXPECT_EQ (o.start_requested (), 1);
      EXPECT_EQ (o.kill_requested (), 1);
    }},
    Parse_Case {{"-n", "svc,My Service"}, "-n 'svc,My Service' -p 6999", [] (Platform_Options &o) {
      EXPECT_EQ (u8 (o.service_name ()), "svc");
      EXPECT_EQ (u8 (o.service_desc ()), "My Service");
    }},
    Parse_Case {{"-d", "3", "-p", "7001"}, "-p 7001", [] (Platform_Options &o) {
      EXPECT_EQ (o.debug_level (), 3);
    }},
    Parse_Case {{"-B", "9999"}, "-p 6999", [] (Platform_Options &o) {
      EXPECT_EQ (o.min_bufsize (), 10000);
    }},
    Parse_Case {{"-B", "123456789"}, "-p 6999", [] (Platform_Options &o) {
      EXPECT_EQ (o.min_bufsize (), 10000);
    }},
    Parse_Case {{"-B", "10000"}, "-p 6999", [] (Platform_Options &o) {
      EXPECT_EQ (o.min_bufsize (), 10000);
    }},
    Parse_Case {{"-B", "99999999"}, "-p 6999 -B 99999999", [] (Platform_Options &o) {
      EXPECT_EQ (o.min_bufsize (), 99999999);
    }},
    Parse_Case {{"-B", "20000x"}, "-p 6999", [] (Platform_Options &o) {
      EXPECT_EQ (o.min_bufsize (), 10000);
    }},
    Parse_Case {{"-p", "00080", "-c", "65535"}, "-p 80 -c 65535", [] (Platform_Options &o) {
      EXPECT_EQ (o.port (), 80);
      EXPECT_EQ (o.dialog_port (), 65535);
    }},
    Parse_Case {{"-b", "-V v -p 6996x -B 20000x"}, "-p 6999 -b '-V v -p 6996x -B 20000x'", [] (Platform_Options &o) {
      EXPECT_EQ (o.batch_port (), 6995);
      EXPECT_EQ (o.min_bufsize (), 10000);
    }},
    Parse_Case {{"-b", "-V v -B 123456789"}, "-p 6999 -b '-V v -B 123456789' -B 123456789", [] (Platform_Options &o) {
      EXPECT_EQ (o.min_bufsize (), 123456789);
    }},
    Parse_Case {{"-U", "y"}, "-p 6999 -U 1", [] (Platform_Options &o) {
      EXPECT_EQ (o.unlimited_dialog (), u'X');
    }},
    Parse_Case {{"-U", "1", "-U", "N"}, "-p 6999", [] (Platform_Options &o) {
      EXPECT_EQ (o.unlimited_dialog (), u' ');
    }},
    Parse_Case {{"-V", "myvar", "-N", "/abc/"}, "-V myvar -N /abc/ -p 6999", [] (Platform_Options &o) {
      EXPECT_EQ (u8 (o.variant ()), "MYVAR");
      EXPECT_EQ (u8 (o.name_prefix ()), "/ABC/");
    }},
    Parse_Case {{"-b", "-V v"}, "-p 6999 -b '-V v'", [] (Platform_Options &o) {
      EXPECT_EQ (o.batch_port (), 6995);
      EXPECT_EQ (u8 (o.batch_variant ()), "V");
    }},
    Parse_Case {{"-b", "-p 6996 -R zvokrdbt -V myvar1 -B 20000"},
                "-p 6999 -b '-p 6996 -R zvokrdbt -V myvar1 -B 20000' -B 20000", [] (Platform_Options &o) {
      EXPECT_EQ (o.batch_port (), 6996);
      EXPECT_EQ (u8 (o.batch_report ()), "zvokrdbt");
      EXPECT_EQ (u8 (o.batch_variant ()), "MYVAR1");
      EXPECT_EQ (o.min_bufsize (), 20000);
    }},
    Parse_Case {{"-c", "6998", "-S", "-a p -g h -x s"}, "-S \"-a p -g h -x s\" -p 6999 -c 6998", [] (Platform_Options &o) {
      EXPECT_EQ (o.dialog_port (), 6998);
      EXPECT_EQ (o.status ().registration_count (), 1u);
    }},
    Parse_Case {{"stray", "-p", "7002", "word"}, "-p 7002", [] (Platform_Options &o) {
      EXPECT_EQ (o.port (), 7002);
    }},
    Parse_Case {{"-n", "a", "-N", "x", "-n", "b"}, "-n 'a' -N x -n 'b' -p 6999", [] (Platform_Options &o) {
      EXPECT_EQ (u8 (o.service_name ()), "b");
    }}));

TEST (Options, LongNameAndDescriptionKeepTheirFirst127CharactersTogether)
{
  Platform_Options options;
  const std::string name (100, 'n');
  const std::string desc (100, 'd');
  parse (options, {"-n", name + "," + desc});
  EXPECT_EQ (u8 (options.service_name ()), name);
  EXPECT_EQ (u8 (options.service_desc ()), std::string (26, 'd'));
}

TEST (Options, LongNameWithoutCommaIsCut)
{
  Platform_Options options;
  parse (options, {"-n", std::string (300, 'x')});
  EXPECT_EQ (u8 (options.service_name ()), std::string (127, 'x'));
  // The stored form is cut to 255 characters, quotes included.
  const std::string stored = options.app_parameter ().buf ();
  EXPECT_EQ (stored, "-n '" + std::string (254, 'x') + " -p 6999");
}

struct Logged_Case
{
  std::vector<std::string> arguments;
  const char *logged;
};

class Logged_And_Continued : public testing::TestWithParam<Logged_Case> {};

TEST_P (Logged_And_Continued, LogsTheMessage)
{
  Platform_Options options;
  Log_Capture log;
  parse (options, GetParam ().arguments);
  EXPECT_EQ (log.text (), GetParam ().logged);
}

INSTANTIATE_TEST_SUITE_P (
  Values, Logged_And_Continued,
  testing::Values (
    Logged_Case {{"-B", "9999"}, "minimum bufsize ignored - 10000 used\n"},
    Logged_Case {{"-B", "123456789"}, "minimum bufsize ignored - 10000 used\n"},
    Logged_Case {{"-B", "010000000"}, "minimum bufsize ignored - 10000 used\n"},
    Logged_Case {{"-b", "-V v -B 9999"}, "minimum bufsize ignored - 10000 used\n"},
    Logged_Case {{"-b", "-V v -p 0"}, "invalid batch compatibility port\n"},
    Logged_Case {{"-b", "-V v -p 70000"}, "invalid batch compatibility port\n"},
    Logged_Case {{"-b", "-V v -Q"}, "unknown batch compatibility parameter\n"},
    Logged_Case {{"-b", "-V v -p"}, "unknown batch compatibility parameter\n"},
    // Not numbers: the value of a number with anything around it is refused.
    Logged_Case {{"-B", "20000x"}, "minimum bufsize ignored - 10000 used\n"},
    Logged_Case {{"-B", "+20000"}, "minimum bufsize ignored - 10000 used\n"},
    Logged_Case {{"-b", "-V v -B 20000x"}, "minimum bufsize ignored - 10000 used\n"},
    Logged_Case {{"-b", "-V v -B 99999999999999999999"}, "minimum bufsize ignored - 10000 used\n"},
    Logged_Case {{"-b", "-V v -p 6996x"}, "invalid batch compatibility port\n"},
    Logged_Case {{"-b", "-V v -p +6996"}, "invalid batch compatibility port\n"},
    Logged_Case {{"-b", "-V v -p 99999999999999999999"}, "invalid batch compatibility port\n"}));

// Bad values print the usage and end the process with status 1.
struct Usage_Case
{
  std::vector<std::string> arguments;
  const char *logged;  // a regular expression over the log output
};

class Usage : public testing::TestWithParam<Usage_Case> {};

TEST_P (Usage, EndsTheProcessWithStatus1)
{
  GTEST_FLAG_SET (death_test_style, "threadsafe");
  Platform_Options options;
  EXPECT_EXIT (parse (options, GetParam ().arguments), testing::ExitedWithCode (1),
               GetParam ().logged);
}

INSTANTIATE_TEST_SUITE_P (
  Values, Usage,
  testing::Values (
    Usage_Case {{"-i", "0"}, "^-i: '0' is not a start type from 1 to 2147483647\nUsage: vurude_server -in -r"},
    Usage_Case {{"-i", "2x"}, "^-i: '2x' is not a start type from 1 to 2147483647\nUsage: "},
    Usage_Case {{"-t", "0"}, "^-t: '0' is not a start type from 1 to 2147483647\nUsage: "},
    Usage_Case {{"-t", "4 "}, "^-t: '4 ' is not a start type from 1 to 2147483647\nUsage: "},
    Usage_Case {{"-d", "0"}, "^-d: '0' is not a debug level from 1 to 2147483647\nUsage: "},
    Usage_Case {{"-d", "x"}, "^-d: 'x' is not a debug level from 1 to 2147483647\nUsage: "},
    Usage_Case {{"-d", "3x"}, "^-d: '3x' is not a debug level from 1 to 2147483647\nUsage: "},
    Usage_Case {{"-d", "99999999999999999999"},
                "^-d: '99999999999999999999' is not a debug level from 1 to 2147483647\nUsage: "},
    Usage_Case {{"-d", "2147483648"}, "^-d: '2147483648' is not a debug level from 1 to 2147483647\nUsage: "},
    Usage_Case {{"-p", "0"}, "^-p: '0' is not a port number from 1 to 65535\nUsage: "},
    Usage_Case {{"-p", "65536"}, "^-p: '65536' is not a port number from 1 to 65535\nUsage: "},
    Usage_Case {{"-p", "-5"}, "^-p: '-5' is not a port number from 1 to 65535\nUsage: "},
    Usage_Case {{"-p", "+7000"}, "^-p: '\\+7000' is not a port number from 1 to 65535\nUsage: "},
    Usage_Case {{"-p", "12ab"}, "^-p: '12ab' is not a port number from 1 to 65535\nUsage: "},
    Usage_Case {{"-p", ""}, "^-p: '' is not a port number from 1 to 65535\nUsage: "},
    // A long or hostile argument is shown cut and on one line.
    Usage_Case {{"-p", std::string (50, '7')}, "^-p: '7{40}\\.\\.\\.' is not a port number"},
    Usage_Case {{"-p", "1\n2"}, "^-p: '1\\?2' is not a port number"},
    Usage_Case {{"-c", "0"}, "^-c: '0' is not a port number from 1 to 65535\nUsage: "},
    Usage_Case {{"-c", "6998x"}, "^-c: '6998x' is not a port number from 1 to 65535\nUsage: "},
    Usage_Case {{"-U", "yes"}, "^-U value invalid\nUsage: "},
    Usage_Case {{"-U", "2"}, "^-U value invalid\nUsage: "},
    Usage_Case {{"-b", "-p 6995"}, "^batch compatibility variant must be specified\nUsage: "},
    Usage_Case {{"-S", "-a p -g h"},
                "^status gateway parameter error: lacks \"-x <gateway service>\"\n-S value invalid\nUsage: "},
    Usage_Case {{"-S", "-a p -g h -x s", "-S", "-a p -g h -x s"},
                "^status gateway parameter error: duplicate entry detected\n-S value invalid\nUsage: "},
    Usage_Case {{"-x"}, "^Usage: "},
    Usage_Case {{"-p"}, "^Usage: "}));

TEST (Options, SetUnlimitedDialogTakesOneKnownCharacter)
{
  Platform_Options options;
  for (const char *text : {"1", "y", "Y"})
    {
      ASSERT_EQ (options.set_unlimited_dialog (text), 0) << text;
      EXPECT_EQ (options.unlimited_dialog (), u'X');
    }
  for (const char *text : {"0", "n", "N"})
    {
      ASSERT_EQ (options.set_unlimited_dialog (text), 0) << text;
      EXPECT_EQ (options.unlimited_dialog (), u' ');
    }
  for (const char *text : {"", "yes", "2", "x"})
    {
      EXPECT_EQ (options.set_unlimited_dialog (text), -1) << text;
      EXPECT_EQ (options.unlimited_dialog (), u' ');
    }
}

class Log_Mask : public testing::TestWithParam<int> {};

TEST_P (Log_Mask, KeepsPrioritiesUpToTheDebugLevel)
{
  const u_long saved = ACE_LOG_MSG->priority_mask (ACE_Log_Msg::PROCESS);
  // Every priority is enabled in a new process.
  ACE_LOG_MSG->priority_mask (~0UL, ACE_Log_Msg::PROCESS);
  Platform_Options options;
  const int level = GetParam ();
  if (level > 0)
    parse (options, {"-d", std::to_string (level)});
  options.set_log_mask ();
  const u_long mask = ACE_LOG_MSG->priority_mask (ACE_Log_Msg::PROCESS);
  ACE_LOG_MSG->priority_mask (saved, ACE_Log_Msg::PROCESS);

  EXPECT_TRUE (mask & LM_INFO);
  EXPECT_TRUE (mask & LM_ERROR);
  EXPECT_EQ ((mask & LM_WARNING) != 0, level >= 1);
  EXPECT_EQ ((mask & LM_NOTICE) != 0, level >= 2);
  EXPECT_EQ ((mask & LM_DEBUG) != 0, level >= 3);
  EXPECT_EQ ((mask & LM_TRACE) != 0, level >= 4);
}

INSTANTIATE_TEST_SUITE_P (Levels, Log_Mask, testing::Values (0, 1, 2, 3, 4, 9));
}
