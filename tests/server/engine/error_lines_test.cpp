// Error lines and text lines of a request: RFC errors and exceptions as the
// client reads them, the error record that precedes an error line while rows
// flow, and the bounds of each line.
#include "engine_test_support.h"

#include "vurude_base_handler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

namespace
{
// A logon, and a select request on its own connection coupled to a data
// connection (or not).
class Error_Lines : public testing::Test
{
protected:
  Error_Lines () { set_up_engine (); }

  void SetUp () override
  {
    Connect_Peer *connect = attach<Connect_Peer> (control, "<connect user=\"U\" passwd=\"p\"/>");
    ASSERT_NE (connect, nullptr);
    ASSERT_EQ (connect->parse_attributes (), 0);
    sselect = attach<Sselect_Peer> (request, "<sselect chandle=\"" + control.handle () + "\" "
                                               + (coupled () ? "dhandle=\"" + data.handle () + "\" " : "")
                                               + "data=\"Y\"><table name=\"T\"/></sselect>");
    ASSERT_NE (sselect, nullptr);
    ASSERT_EQ (sselect->parse_attributes (), 0);
  }

  virtual bool coupled () const { return true; }

  static RFC_ERROR_INFO_EX error_record (int group, std::u16string_view key, std::u16string_view message)
  {
    RFC_ERROR_INFO_EX info {};
    info.group = group;
    std::copy (key.begin (), key.end (), info.key);
    std::copy (message.begin (), message.end (), info.message);
    return info;
  }

  Client_Connection control;
  Client_Connection request;
  Client_Connection data;
  Sselect_Peer *sselect = nullptr;
};

// RFC errors

struct Rfc_Error_Case
{
  const char *label;
  std::u16string message;
  std::string message_lines;
};

std::ostream &operator<< (std::ostream &out, const Rfc_Error_Case &c)
{
  return out << c.label;
}

class Rfc_Error : public Error_Lines, public testing::WithParamInterface<Rfc_Error_Case> {};

TEST_P (Rfc_Error, HeaderLinesThenOneMessageLinePerNonEmptyLine)
{
  const RFC_ERROR_INFO_EX info = error_record (3, u"RFC_ERROR_LOGON_FAILURE", GetParam ().message);
  sselect->report_rfc_error (nullptr, &info);
  EXPECT_EQ (request.take (), "E,RFC Error:\n"
                              "E,Error Group: 3\n"
                              "E,Key        : RFC_ERROR_LOGON_FAILURE\n"
                                + GetParam ().message_lines);
  EXPECT_EQ (data.take (), "") << "no rows flowed yet";
}

INSTANTIATE_TEST_SUITE_P (
  Messages, Rfc_Error,
  testing::Values (Rfc_Error_Case {"one line", u"Name or password is incorrect",
                                   "E,Message    : Name or password is incorrect\n"},
                   Rfc_Error_Case {"three lines", u"first\nsecond\nthird",
                                   "E,Message    : first\nE,Message    : second\nE,Message    : third\n"},
                   Rfc_Error_Case {"empty", u"", ""},
                   Rfc_Error_Case {"empty pieces skipped", u"\nfirst\n\nsecond\n",
                                   "E,Message    : first\nE,Message    : second\n"}));

TEST_F (Error_Lines, RfcErrorLinesGoToTheTargetAndStayWithin256Characters)
{
  const RFC_ERROR_INFO_EX info = error_record (101, u"RFC_ERROR_PROGRAM", std::u16string (512, u'm'));
  sselect->report_rfc_error (&control.handler (), &info);
  EXPECT_EQ (request.take (), "");
  const std::string lines = control.take ();
  const std::string head = "E,RFC Error:\nE,Error Group: 101\nE,Key        : RFC_ERROR_PROGRAM\n";
  ASSERT_EQ (lines.substr (0, head.size ()), head);
  const std::string message_line = lines.substr (head.size ());
  ASSERT_EQ (std::count (message_line.begin (), message_line.end (), '\n'), 1);
  EXPECT_EQ (message_line.back (), '\n');
  const std::string text = message_line.substr (2, message_line.size () - 3);
  EXPECT_LE (text.size (), 256u);
  EXPECT_EQ (text.substr (0, 20), "Message    : mmmmmmm");
}

// RFC exceptions

struct Exception_Case
{
  std::u16string name;
  std::string lines;
};

class Rfc_Exception : public Error_Lines, public testing::WithParamInterface<Exception_Case> {};

TEST_P (Rfc_Exception, OneLineAndTheRowLimitExplained)
{
  sselect->report_rfc_exception (GetParam ().name);
  EXPECT_EQ (request.take (), GetParam ().lines);
}

INSTANTIATE_TEST_SUITE_P (
  Names, Rfc_Exception,
  testing::Values (
    Exception_Case {u"DIALOG_ROWLIMIT_EXCEEDED",
                    "E,RFC Exception: DIALOG_ROWLIMIT_EXCEEDED\n"
                    "E, Processing using SAP dialog work processes was stopped because the size of the extracts "
                    "exceeds the limit. Large data extracts should only be run using batch. Use the RFC server\n"
                    "E, in batch mode, increase the buffer size, limit the number of observations with VOK option "
                    "obs or refine your query to solve the problem.\n"},
    Exception_Case {u"NOT_FOUND", "E,RFC Exception: NOT_FOUND\n"},
    Exception_Case {u"DIALOG_ROWLIMIT_EXCEEDED_2", "E,RFC Exception: DIALOG_ROWLIMIT_EXCEEDED_2\n"}));

// The error record before an error line

struct Record_Case
{
  const char *label;
  char16_t data_state;
  int width;
  std::string record;
};

std::ostream &operator<< (std::ostream &out, const Record_Case &c)
{
  return out << c.label;
}

class Error_Record : public Error_Lines, public testing::WithParamInterface<Record_Case> {};

TEST_P (Error_Record, PrecedesTheLineOnceRowsFlow)
{
  data.handler ().table_width = 10;
  sselect->set_data_state (GetParam ().data_state);
  sselect->send_error_line ("select failed", GetParam ().width);
  EXPECT_EQ (data.take (), GetParam ().record);
  EXPECT_EQ (request.take (), "E,select failed\n");
}

INSTANTIATE_TEST_SUITE_P (
  States, Error_Record,
  testing::Values (Record_Case {"before the first chunk", u'N', 0, ""},
                   Record_Case {"before the first chunk, the caller's width", u'N', 3, std::string (3, '\0') + "X"},
                   Record_Case {"while chunks come", u' ', 0, std::string (10, '\0') + "X"},
                   Record_Case {"after the last chunk", u'X', 0, std::string (10, '\0') + "X"},
                   Record_Case {"while chunks come, whatever the caller's width", u' ', 3,
                                std::string (10, '\0') + "X"}));

class Uncoupled_Error_Lines : public Error_Lines
{
protected:
  bool coupled () const override { return false; }
};

TEST_F (Uncoupled_Error_Lines, NoRecordWithoutADataConnection)
{
  sselect->set_data_state (u' ');
  sselect->send_error_line ("select failed");
  EXPECT_EQ (request.take (), "E,select failed\n");
  EXPECT_EQ (data.take (), "");
}

TEST_F (Error_Lines, LongErrorLineStaysWithinItsBuffer)
{
  sselect->send_error_line (std::u16string (2000, u'e'));
  const std::string line = request.take ();
  EXPECT_LE (line.size (), 1024u);
  EXPECT_EQ (line.substr (0, 5), "E,eee");
  EXPECT_EQ (line.back (), '\n');
  EXPECT_EQ (std::count (line.begin (), line.end (), '\n'), 1);
}

// Text lines

struct Line_Case
{
  const char *label;
  std::u16string text;
  std::size_t length;
  std::string sent;
};

std::ostream &operator<< (std::ostream &out, const Line_Case &c)
{
  return out << c.label;
}

class Text_Line : public Error_Lines, public testing::WithParamInterface<Line_Case> {};

TEST_P (Text_Line, AtMost256CharactersWithoutTrailingBlanks)
{
  const Line_Case &c = GetParam ();
  sselect->send_line (c.text.data (), c.length);
  EXPECT_EQ (request.take (), c.sent);
}

INSTANTIATE_TEST_SUITE_P (
  Lines, Text_Line,
  testing::Values (
    Line_Case {"trailing blanks dropped", u"FIELD,C,10   ", 13, "FIELD,C,10\n"},
    Line_Case {"leading blanks kept", u"  x  ", 5, "  x\n"},
    Line_Case {"blanks only keep the first", u"    ", 4, " \n"},
    Line_Case {"empty", u"", 0, "\n"},
    Line_Case {"only the given length", u"abcdef", 3, "abc\n"},
    Line_Case {"cut to 256", std::u16string (300, u'a'), 300, std::string (256, 'a') + "\n"},
    Line_Case {"cut, then trailing blanks dropped", std::u16string (250, u'a') + std::u16string (10, u' ') + u"b", 261,
               std::string (250, 'a') + "\n"},
    Line_Case {"sent as UTF-8", u"K\u00e4se \u20ac  ", 8, "K\xC3\xA4se \xE2\x82\xAC\n"}));
}
