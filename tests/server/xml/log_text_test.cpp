// Client text in the log: escaped and bounded, so a client can neither
// write control characters into the server's log nor fake a line of it.
#include "xmldoc_test_support.h"

#include "log_capture.h"
#include "vurude_xml_entity_refuser.h"
#include "vurude_xml_log_text.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
struct Escape_Case
{
  const char *name;
  std::string text;
  std::string logged;
};

class Log_Text : public testing::TestWithParam<Escape_Case> {};

TEST_P (Log_Text, ShowsPrintableAsciiAndEscapesTheRest)
{
  EXPECT_EQ (log_text (std::string_view (GetParam ().text)), GetParam ().logged);
}

INSTANTIATE_TEST_SUITE_P (
  Bytes, Log_Text,
  testing::Values (
    Escape_Case {"printable", "connect user=\"DEMO\" %s %n ~", "connect user=\"DEMO\" %s %n ~"},
    Escape_Case {"fake_line", "a\r\n2026-01-01 00:00:00.000000(1|1) Logged on\n",
                 "a\\x0D\\x0A2026-01-01 00:00:00.000000(1|1) Logged on\\x0A"},
    Escape_Case {"terminal_escape_and_delete", "\x1B[2J\x7F\t", "\\x1B[2J\\x7F\\x09"},
    Escape_Case {"zero_byte", std::string ("a\0b", 3), "a\\x00b"},
    Escape_Case {"backslash", "\\x41", "\\x5Cx41"},
    Escape_Case {"utf8_and_invalid_bytes", "K\xC3\xA4se \xFF", "K\\xC3\\xA4se \\xFF"},
    Escape_Case {"longest_shown_whole", std::string (max_logged_bytes, 'a'), std::string (max_logged_bytes, 'a')},
    Escape_Case {"longer_cut", std::string (max_logged_bytes, 'a') + "b", std::string (max_logged_bytes, 'a') + "..."}),
  [] (const auto &instance) { return std::string (instance.param.name); });

TEST (Log_Text, OfUtf16ShowsItsUtf8Bounded)
{
  EXPECT_EQ (log_text (std::u16string_view (u"K\u00e4se\r\n")), "K\\xC3\\xA4se\\x0D\\x0A");
  const std::string cut = log_text (std::u16string (100000, u'\u20ac'));
  EXPECT_EQ (cut.size (), max_logged_bytes * 4 + 3) << "each byte of a euro sign as \\xNN";
  EXPECT_EQ (cut.substr (cut.size () - 3), "...");
}

// The log lines of the request parse that carry the client's text.
std::string logged_while (const std::function<void ()> &work)
{
  std::string text;
  on_worker_stack ([&] {
    Log_Capture capture;
    work ();
    text = capture.text ();
  });
  return text;
}

TEST (Log_Text, RootDetectionLogsTheParsersMessageEscaped)
{
  initialise_xml ();
  const std::string log = logged_while ([] {
    Chain chain ("<connect \xC3\xA9=\"1\" \xC3\xA9=\"2\"/>");
    Captured_Replies replies;
    Vurude_Xml_Request_Document document (replies);
    EXPECT_EQ (document.parse (chain.head ()), 1);
  });
  EXPECT_NE (log.find ("No root element: attribute '\\xC3\\xA9' is already specified for element 'connect' at line 1, "
                       "column 18\n"),
             std::string::npos)
    << log;
}

TEST (Log_Text, RefusedResourceIsLoggedOnOneLine)
{
  initialise_xml ();
  const std::string log = logged_while ([] {
    Vurude_Xml_Entity_Refuser refuser;
    EXPECT_EQ (refuser.resolveEntity (nullptr, u"file:///x\r\n2026-01-01 00:00:00.000000(1|1) Logged on"), nullptr);
  });
  EXPECT_NE (log.find ("External XML resource refused: \"file:///x\\x0D\\x0A2026-01-01 00:00:00.000000(1|1) Logged "
                       "on\"\n"),
             std::string::npos)
    << log;
  EXPECT_EQ (log.find ('\n'), log.size () - 1) << log;
}
}
