// The connect request: the connect string and its log copy built from the
// document's attributes, and the RFC connection opened with them.
#include "engine_test_support.h"
#include "log_records.h"

#include "vok_password.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace
{
const std::string password_shown = "passwd=\"????????\" ";

// A connect document's attributes and the two strings they give.
struct String_Case
{
  const char *label;
  std::string attributes;
  std::string connect;
  std::string log;
};

std::ostream &operator<< (std::ostream &out, const String_Case &c)
{
  return out << c.label;
}

class Connect_String : public testing::TestWithParam<String_Case>
{
protected:
  Connect_String () { set_up_engine (); }
  Client_Connection control;
};

TEST_P (Connect_String, PairsInNameOrderWithThePasswordHiddenInTheLogCopy)
{
  Connect_Peer *logon = attach<Connect_Peer> (control, "<connect " + GetParam ().attributes + "/>");
  ASSERT_NE (logon, nullptr);
  ASSERT_EQ (logon->parse_attributes (), 0);
  EXPECT_EQ (u8 (logon->connect_text ()), GetParam ().connect);
  EXPECT_EQ (u8 (logon->log_text ()), GetParam ().log);
  EXPECT_EQ (control.take (), "") << "nothing is sent to the client";
}

INSTANTIATE_TEST_SUITE_P (
  Attributes, Connect_String,
  testing::Values (
    String_Case {"no attribute: the defaulted trace pair", "", "trace=\"0\" ", "trace=\"0\" "},
    String_Case {"logon data in ascending name order",
                 "client=\"100\" user=\"DEMO\" passwd=\"demo\" ashost=\"sap1\" sysnr=\"00\" lang=\"E\"",
                 "ashost=\"sap1\" client=\"100\" lang=\"E\" passwd=\"demo\" sysnr=\"00\" trace=\"0\" user=\"DEMO\" ",
                 "ashost=\"sap1\" client=\"100\" lang=\"E\" " + password_shown
                   + "sysnr=\"00\" trace=\"0\" user=\"DEMO\" "},
    String_Case {"cstring copied with one blank between client and dest",
                 "dest=\"D1\" cstring=\"gwhost=h gwserv=3301\" client=\"100\"",
                 "client=\"100\" gwhost=h gwserv=3301 dest=\"D1\" trace=\"0\" ",
                 "client=\"100\" gwhost=h gwserv=3301 dest=\"D1\" trace=\"0\" "},
    String_Case {"trace as sent", "trace=\"1\" user=\"U\"", "trace=\"1\" user=\"U\" ", "trace=\"1\" user=\"U\" "},
    String_Case {"every other key as a pair",
                 "saplogon_id=\"S1\" r3name=\"R3\" mshost=\"ms\" group=\"PUBLIC\" gwserv=\"sapgw00\" gwhost=\"gw\"",
                 "group=\"PUBLIC\" gwhost=\"gw\" gwserv=\"sapgw00\" mshost=\"ms\" r3name=\"R3\" saplogon_id=\"S1\" "
                 "trace=\"0\" ",
                 "group=\"PUBLIC\" gwhost=\"gw\" gwserv=\"sapgw00\" mshost=\"ms\" r3name=\"R3\" saplogon_id=\"S1\" "
                 "trace=\"0\" "},
    String_Case {"programs and debug flag stay out",
                 "abapfm=\"Z_FM\" abapprog=\"Z_PROG\" vokdebug=\"y\" user=\"U\"", "trace=\"0\" user=\"U\" ",
                 "trace=\"0\" user=\"U\" "},
    String_Case {"encrypted password stays out", "user=\"U\" xpasswd=\"0A1B2C\"", "trace=\"0\" user=\"U\" ",
                 "trace=\"0\" user=\"U\" "},
    String_Case {"plain password beside an encrypted one", "passwd=\"plain\" xpasswd=\"0A1B\"",
                 "passwd=\"plain\" trace=\"0\" ", password_shown + "trace=\"0\" "},
    // Passwords inside cstring: hidden in the log copy however the library
    // would read them, the fragment copied unchanged into the string.
    String_Case {"cstring password in capitals, unquoted", "cstring=\"PASSWD=s1 lang=E\"",
                 "PASSWD=s1 lang=E trace=\"0\" ", "PASSWD=???????? lang=E trace=\"0\" "},
    String_Case {"cstring password quoted with a blank", "cstring=\"Passwd=&quot;s 2&quot;\"",
                 "Passwd=\"s 2\" trace=\"0\" ", "Passwd=\"????????\" trace=\"0\" "},
    String_Case {"cstring password with doubled quotes, repeated",
                 "cstring=\"passwd=&quot;a&quot;&quot;b&quot; lang=E passwd=c\"",
                 "passwd=\"a\"\"b\" lang=E passwd=c trace=\"0\" ",
                 "passwd=\"????????\" lang=E passwd=???????? trace=\"0\" "},
    String_Case {"cstring empty passwords", "cstring=\"passwd= lang=E pAsSwD=&quot;&quot;\"",
                 "passwd= lang=E pAsSwD=\"\" trace=\"0\" ",
                 "passwd=???????? lang=E pAsSwD=\"????????\" trace=\"0\" "},
    String_Case {"cstring misspelt password keys", "cstring=\"password=p1 NEW_PWD=p2 lang=E\"",
                 "password=p1 NEW_PWD=p2 lang=E trace=\"0\" ",
                 "password=???????? NEW_PWD=???????? lang=E trace=\"0\" "},
    String_Case {"cstring with a tab between pairs", "cstring=\"lang=E&#9;passwd=s3\"",
                 "lang=E\tpasswd=s3 trace=\"0\" ", "lang=E\tpasswd=???????? trace=\"0\" "},
    String_Case {"hosts as router strings", "ashost=\"/H/r1/P/pw1/H/sap1\" cstring=\"GWHOST=/H/r2/P/pw2/H/gw\"",
                 "ashost=\"/H/r1/P/pw1/H/sap1\" GWHOST=/H/r2/P/pw2/H/gw trace=\"0\" ",
                 "ashost=\"????????\" GWHOST=???????? trace=\"0\" "},
    String_Case {"cstring without a password", "cstring=\"user=passwd=x lang=&quot;p w&quot;\"",
                 "user=passwd=x lang=\"p w\" trace=\"0\" ", "user=passwd=x lang=\"p w\" trace=\"0\" "},
    String_Case {"cstring with an open quote hidden whole", "cstring=\"lang=E passwd=&quot;s4 x=y\"",
                 "lang=E passwd=\"s4 x=y trace=\"0\" ", "???????? trace=\"0\" "},
    String_Case {"cstring with a blank before the equals sign hidden whole", "cstring=\"passwd =s5\"",
                 "passwd =s5 trace=\"0\" ", "???????? trace=\"0\" "},
    String_Case {"cstring with text after a closing quote hidden whole", "cstring=\"lang=&quot;E&quot;passwd=s6\"",
                 "lang=\"E\"passwd=s6 trace=\"0\" ", "???????? trace=\"0\" "},
    String_Case {"cstring with a key the library cannot read hidden whole", "cstring=\"pass-wd=s7\"",
                 "pass-wd=s7 trace=\"0\" ", "???????? trace=\"0\" "}));

struct Encrypted_Case
{
  const char *xpasswd;
  const char *kept;
};

class Encrypted_Password : public testing::TestWithParam<Encrypted_Case>
{
protected:
  Encrypted_Password () { set_up_engine (); }
  Client_Connection control;
};

TEST_P (Encrypted_Password, KeptUpToItsFirstBlank)
{
  Connect_Peer *logon
    = attach<Connect_Peer> (control, std::string ("<connect user=\"U\" xpasswd=\"") + GetParam ().xpasswd + "\"/>");
  ASSERT_NE (logon, nullptr);
  ASSERT_EQ (logon->parse_attributes (), 0);
  ASSERT_NE (logon->encrypted (), nullptr);
  EXPECT_EQ (u8 (*logon->encrypted ()), GetParam ().kept);
}

INSTANTIATE_TEST_SUITE_P (Values, Encrypted_Password,
                          testing::Values (Encrypted_Case {"0A1B2C", "0A1B2C"}, Encrypted_Case {"0A1B 2C3D", "0A1B"},
                                           Encrypted_Case {"0A1B2C  ", "0A1B2C"}, Encrypted_Case {" 0A1B", ""}));

// Attributes that are refused, with the one reply they get.
struct Refusal_Case
{
  const char *label;
  std::string attributes;
  const char *reply;
};

std::ostream &operator<< (std::ostream &out, const Refusal_Case &c)
{
  return out << c.label;
}

class Connect_Refusal : public testing::TestWithParam<Refusal_Case>
{
protected:
  Connect_Refusal () { set_up_engine (); }
  Client_Connection control;
};

TEST_P (Connect_Refusal, OneErrorReplyAndNothingKept)
{
  Connect_Peer *logon = attach<Connect_Peer> (control, "<connect " + GetParam ().attributes + "/>");
  ASSERT_NE (logon, nullptr);
  EXPECT_EQ (logon->parse_attributes (), -1);
  EXPECT_EQ (control.take (), GetParam ().reply);
  EXPECT_LT (logon->connect_text ().size (), Vurude_Base_Request::connect_string_units);
  EXPECT_LT (logon->log_text ().size (), Vurude_Base_Request::connect_string_units);
}

// A value of `user` that makes the pairs exactly `units` characters long:
// trace="0" (10) and user="..." (8 + n).
std::string user_for (std::size_t units)
{
  return "user=\"" + std::string (units - 18, 'u') + "\"";
}

INSTANTIATE_TEST_SUITE_P (
  Attributes, Connect_Refusal,
  testing::Values (
    Refusal_Case {"empty encrypted password", "user=\"U\" xpasswd=\"\"", "E,invalid encrypted password\n"},
    Refusal_Case {"pairs of 1000 characters", user_for (1000), "E,connect attributes too long\n"},
    Refusal_Case {"log copy longer than the string", "passwd=\"p\" " + user_for (982),
                  "E,connect attributes too long\n"},
    Refusal_Case {"cstring of 5000 characters", "cstring=\"" + std::string (5000, 'c') + "\"",
                  "E,connect attributes too long\n"}));

TEST (Connect_String_Size, PairsOf999CharactersFit)
{
  set_up_engine ();
  Client_Connection control;
  Connect_Peer *logon = attach<Connect_Peer> (control, "<connect " + user_for (999) + "/>");
  ASSERT_NE (logon, nullptr);
  ASSERT_EQ (logon->parse_attributes (), 0);
  EXPECT_EQ (logon->connect_text ().size (), 999u);
  EXPECT_EQ (logon->log_text ().size (), 999u);
}

// Opening the RFC connection

std::string encrypted (const std::string &password)
{
  std::string text;
  EXPECT_TRUE (vok_encode_password (password, 0x42, text).ok ());
  return text;
}

// The text of every line logged at `priority` that contains `text`.
std::vector<std::string> lines_with (const Log_Records &log, ACE_Log_Priority priority, const std::string &text)
{
  std::vector<std::string> found;
  for (const auto &[level, line] : log.lines)
    if (level == priority && line.find (text) != std::string::npos)
      found.push_back (line);
  return found;
}

bool logged_anywhere (const Log_Records &log, const std::string &text)
{
  for (const auto &entry : log.lines)
    if (entry.second.find (text) != std::string::npos)
      return true;
  return false;
}

// How the password is given, and the log copy's pairs before lcheck=1.
struct Password_Case
{
  const char *label;
  std::string password;
  bool encrypt;
};

std::ostream &operator<< (std::ostream &out, const Password_Case &c)
{
  return out << c.label;
}

class Open_Rfc : public Partner_Test, public testing::WithParamInterface<Password_Case>
{
protected:
  Client_Connection control;
};

TEST_P (Open_Rfc, LogsOnWithThePasswordAndLogsOnlyTheHiddenCopy)
{
  const Password_Case &c = GetParam ();
  std::string document = "<connect " + partner.logon_attributes ();
  if (c.encrypt)
    document += " xpasswd=\"" + encrypted (c.password) + "\"/>";
  else
    {
      std::string quoted;
      for (char ch : c.password)
        quoted += ch == '"' ? std::string ("&quot;") : std::string (1, ch);
      document += " passwd=\"" + quoted + "\"/>";
    }
  Connect_Peer *logon = attach<Connect_Peer> (control, document);
  ASSERT_NE (logon, nullptr);
  ASSERT_EQ (logon->parse_attributes (), 0);

  Log_Records log;
  const RFC_HANDLE opened = logon->open_rfc ();
  EXPECT_NE (opened, RFC_HANDLE_NULL) << u8 (logon->get_error_info ().message);
  const std::vector<Seen_Logon> logons = partner.logons ();
  ASSERT_EQ (logons.size (), 1u);
  EXPECT_EQ (u8 (logons[0].user), "TEST");
  EXPECT_EQ (u8 (logons[0].password), c.password);
  EXPECT_EQ (logon->open_rfc (), opened) << "the connection is opened once";

  const std::string pairs = "client=\"001\" gwhost=\"127.0.0.1\" gwserv=\"" + partner.port () + "\" lang=\"E\" ";
  const std::string shown = c.encrypt ? pairs + "trace=\"0\" user=\"TEST\" " + password_shown
                                      : pairs + password_shown + "trace=\"0\" user=\"TEST\" ";
  const std::vector<std::string> lines = lines_with (log, LM_NOTICE, "About to RfcOpenEx with '");
  ASSERT_EQ (lines.size (), 1u);
  EXPECT_NE (lines[0].find ("About to RfcOpenEx with '" + shown + "lcheck=1'\n"), std::string::npos) << lines[0];
  EXPECT_FALSE (logged_anywhere (log, c.password)) << "the password is never logged";
}

INSTANTIATE_TEST_SUITE_P (Passwords, Open_Rfc,
                          testing::Values (Password_Case {"plain", "s3cret", false},
                                           Password_Case {"encrypted", "Pa55 w0rd", true},
                                           Password_Case {"plain, with a double quote", "pa\"ss", false},
                                           Password_Case {"encrypted, with a double quote", "pa\"ss", true}),
                          [] (const testing::TestParamInfo<Password_Case> &param_info) {
                            return std::string (param_info.param.encrypt ? "Encrypted" : "Plain")
                                   + (param_info.param.password.find ('"') != std::string::npos ? "WithQuote" : "");
                          });

// A value with a line feed in it (a character reference in the document)
// must not end the logged line and start a forged one.
TEST_F (Partner_Test, LoggedConnectStringKeepsClientLineEndsOutOfTheLog)
{
  Client_Connection control;
  Connect_Peer *logon = attach<Connect_Peer> (
    control, "<connect " + partner.logon_attributes () + " saplogon_id=\"E&#10;2026-01-01 forged&#13;\" passwd=\"p\"/>");
  ASSERT_NE (logon, nullptr);
  ASSERT_EQ (logon->parse_attributes (), 0);
  Log_Records log;
  logon->open_rfc ();
  const std::vector<std::string> lines = lines_with (log, LM_NOTICE, "About to RfcOpenEx with '");
  ASSERT_EQ (lines.size (), 1u);
  EXPECT_EQ (lines[0].find ('\n'), lines[0].size () - 1) << lines[0];
  EXPECT_EQ (lines[0].find ('\r'), std::string::npos) << lines[0];
  EXPECT_NE (lines[0].find ("saplogon_id=\"E?2026-01-01 forged?\""), std::string::npos) << lines[0];
}

class Undecodable_Password : public Partner_Test, public testing::WithParamInterface<const char *>
{
protected:
  Client_Connection control;
};

TEST_P (Undecodable_Password, GivesTheLogonErrorAndNoConnection)
{
  Connect_Peer *logon = attach<Connect_Peer> (
    control, "<connect " + partner.logon_attributes () + " xpasswd=\"" + GetParam () + "\"/>");
  ASSERT_NE (logon, nullptr);
  ASSERT_EQ (logon->parse_attributes (), 0);
  Log_Records log;
  EXPECT_EQ (logon->open_rfc (), RFC_HANDLE_NULL);
  const RFC_ERROR_INFO_EX &error = logon->get_error_info ();
  EXPECT_EQ (error.group, 101);
  EXPECT_EQ (u8 (error.key), "RFC_ERROR_PROGRAM");
  EXPECT_EQ (u8 (error.message), "Invalid encrypted password from VOK");
  EXPECT_TRUE (partner.logons ().empty ());
  EXPECT_FALSE (logged_anywhere (log, "About to RfcOpenEx"));
}

INSTANTIATE_TEST_SUITE_P (Values, Undecodable_Password, testing::Values ("XYZ1", "0A1", " 0A1B2C"));

TEST_F (Partner_Test, DecodedPasswordThatOverflowsTheConnectStringIsRefused)
{
  Client_Connection control;
  const std::string padding = "cstring=\"" + std::string (900, 'c') + "\"";
  Connect_Peer *logon = attach<Connect_Peer> (control, "<connect " + partner.logon_attributes () + " " + padding
                                                         + " xpasswd=\"" + encrypted (std::string (90, 'p'))
                                                         + "\"/>");
  ASSERT_NE (logon, nullptr);
  ASSERT_EQ (logon->parse_attributes (), 0);
  EXPECT_EQ (logon->open_rfc (), RFC_HANDLE_NULL);
  EXPECT_EQ (logon->get_error_info ().group, 101);
  EXPECT_TRUE (partner.logons ().empty ());
}
}
