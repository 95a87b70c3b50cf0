// What the partner system calls back while a request's dialog function runs,
// and what the client sees of it: the logon's request parameters and system
// information, metadata and generated program lines, the rows of the data
// chunks, and the calls the server refuses.
#include "engine_test_support.h"

#include "vurude_base_handler.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace
{
std::string row (int n)
{
  std::string text = "ROW" + std::to_string (n);
  text.resize (10, '.');
  return text;
}

// A character table line as the partner fills it: the text, then blanks.
std::string char_line (std::u16string text, std::size_t line_bytes)
{
  text.resize (line_bytes / 2, u' ');
  return bytes_of (text);
}

// The logon's own dialog call

struct Logon_Case
{
  const char *label;
  std::string attributes;
  std::string dialog_function;
  std::string read_report;
};

std::ostream &operator<< (std::ostream &out, const Logon_Case &c)
{
  return out << c.label;
}

class Logon_Dialog : public Partner_Test, public testing::WithParamInterface<Logon_Case>
{
protected:
  Client_Connection control;
};

TEST_P (Logon_Dialog, AnswersTheParametersAndShowsTheSystemInformation)
{
  Connect_Peer *logon = log_on (control, GetParam ().attributes);
  ASSERT_NE (logon, nullptr);
  ASSERT_NE (logon->open_rfc (), RFC_HANDLE_NULL);

  Dialog dialog;
  Callback parameters;
  parameters.function = u"Z_VOK_GET_REQUEST_PARAMETERS";
  parameters.importing = {answer_buffer (u"FUNC_FLAG", 2), answer_buffer (u"ABAPPROG", 240),
                          answer_buffer (u"VARIANT", 40)};
  Callback system;
  system.function = u"Z_VOK_SEND_SYSTEM_INFO";
  system.exporting = {text_value (u"SYSINFO", u"SIM,vm,00,100,DEMO,E,   ")};
  dialog.callbacks = {parameters, system};
  partner.expect (dialog);

  EXPECT_EQ (logon->call_req_function (), 0);
  EXPECT_EQ (control.take (), "SIM,vm,00,100,DEMO,E,4103,LIT,IE3,W,/TST/,2,4102,\n");
  const std::vector<Dialog> done = partner.dialogs (1);
  ASSERT_EQ (done.size (), 1u);
  EXPECT_EQ (u8 (done[0].called), GetParam ().dialog_function);
  EXPECT_EQ (u8 (done[0].pdest), "BACK");
  ASSERT_EQ (done[0].callbacks.size (), 2u);
  const Callback &answered = done[0].callbacks[0];
  EXPECT_EQ (answered.rc, RFC_OK);
  ASSERT_EQ (answered.answers.size (), 3u);
  EXPECT_EQ (u8 (text_of (answered.answers[0])), "I");
  EXPECT_EQ (u8 (text_of (answered.answers[1])), GetParam ().read_report);
  EXPECT_EQ (u8 (text_of (answered.answers[2])), "MYVAR");
  EXPECT_EQ (done[0].callbacks[1].rc, RFC_OK);
}

INSTANTIATE_TEST_SUITE_P (
  Logons, Logon_Dialog,
  testing::Values (Logon_Case {"defaults", "", "/TST/Z_VOK_DIALOG", "/TST/Z_VOK_READ"},
                   Logon_Case {"programs of the logon", "abapfm=\"ZFM_X\" abapprog=\"ZPROG_X\"", "ZFM_X", "ZPROG_X"}));

// A select request of a logon, coupled to a data connection.
class Select_Dialog : public Partner_Test
{
protected:
  void SetUp () override
  {
    Partner_Test::SetUp ();
    ASSERT_NE (log_on (control), nullptr);
  }

  Sselect_Peer *select (bool coupled = true)
  {
    Sselect_Peer *sselect
      = attach<Sselect_Peer> (request, "<sselect chandle=\"" + control.handle () + "\" "
                                         + (coupled ? "dhandle=\"" + data.handle () + "\" " : "")
                                         + "data=\"Y\"><table name=\"T\"/></sselect>");
    if (sselect)
      {
        EXPECT_EQ (sselect->parse_attributes (), 0);
        EXPECT_NE (sselect->open_rfc (), RFC_HANDLE_NULL);
      }
    return sselect;
  }

  Client_Connection control;
  Client_Connection request;
  Client_Connection data;
};

TEST_F (Select_Dialog, MetadataAndGeneratedProgramLinesGoToTheRequestConnection)
{
  Sselect_Peer *sselect = select ();
  ASSERT_NE (sselect, nullptr);
  Callback metadata;
  metadata.function = u"Z_VOK_MDATA";
  metadata.tables = {{u"MTAB",
                      RFCTYPE_CHAR,
                      1200,
                      {char_line (u"CARRID,C,3,0,Airline", 1200), char_line (std::u16string (600, u'm'), 1200),
                       char_line (u"  indented", 1200)}}};
  Callback program;
  program.function = u"Z_VOK_GENPROG";
  program.exporting = {text_value (u"RC", u"0")};
  program.tables = {{u"LTAB", RFCTYPE_CHAR, 510, {char_line (u"REPORT ZVOK.", 510), char_line (u"", 510)}}};
  Dialog dialog;
  dialog.callbacks = {metadata, program};
  partner.expect (dialog);

  EXPECT_EQ (sselect->call_req_function (), 13);
  EXPECT_EQ (request.take (), "CARRID,C,3,0,Airline\n" + std::string (256, 'm') + "\n  indented\nREPORT ZVOK.\n \n");
  EXPECT_EQ (data.take (), "");
  const std::vector<Dialog> done = partner.dialogs (1);
  ASSERT_EQ (done.size (), 1u);
  ASSERT_EQ (done[0].callbacks.size (), 2u);
  EXPECT_EQ (done[0].callbacks[0].rc, RFC_OK);
  EXPECT_EQ (done[0].callbacks[1].rc, RFC_OK);
}

// Data chunks

struct Chunk
{
  int rows;
  char16_t end_of_data;
  std::u16string emsg = u"";
  // Whether the chunk carries a row table at all.
  bool with_table = true;
};

Callback data_chunk (const Chunk &chunk, int &next_row)
{
  Callback callback;
  callback.function = u"Z_VOK_DATA_CHUNK";
  callback.exporting = {text_value (u"END_OF_DATA", std::u16string (1, chunk.end_of_data)),
                        text_value (u"TABLE_NAME", u"T")};
  if (!chunk.emsg.empty ())
    callback.exporting.push_back (text_value (u"EMSG", chunk.emsg));
  if (chunk.with_table)
    {
      Table rows {u"DTAB", RFCTYPE_BYTE, 10, {}};
      for (int k = 0; k < chunk.rows; ++k)
        rows.lines.push_back (row (next_row++));
      callback.tables.push_back (rows);
    }
  callback.tables.push_back ({u"MTAB", RFCTYPE_CHAR, 20, {}});
  return callback;
}

Dialog chunks_dialog (const std::vector<Chunk> &chunks)
{
  Dialog dialog;
  int next_row = 1;
  for (const Chunk &chunk : chunks)
    dialog.callbacks.push_back (data_chunk (chunk, next_row));
  return dialog;
}

std::string rows (int from, int count)
{
  std::string bytes;
  for (int k = from; k < from + count; ++k)
    bytes += row (k) + std::string (1, '\0');
  return bytes;
}

const std::string end_record = std::string (10, '\0') + "\xFF";
const std::string error_record = std::string (10, '\0') + "X";

std::string emsg_line (const std::u16string &text)
{
  std::u16string padded = text;
  padded.resize (200, u' ');
  return "E," + u8 (padded) + "\n";
}

struct Stream_Case
{
  const char *label;
  std::vector<Chunk> chunks;
  std::string request_side;
  std::string data_side;
  bool data_ended;
  bool request_ended;
};

std::ostream &operator<< (std::ostream &out, const Stream_Case &c)
{
  return out << c.label;
}

class Row_Stream : public Select_Dialog, public testing::WithParamInterface<Stream_Case> {};

TEST_P (Row_Stream, OkOnceThenRowsAndTheClosingRecord)
{
  const Stream_Case &c = GetParam ();
  Sselect_Peer *sselect = select ();
  ASSERT_NE (sselect, nullptr);
  partner.expect (chunks_dialog (c.chunks));

  EXPECT_EQ (sselect->call_req_function (), 13);
  const std::vector<Dialog> done = partner.dialogs (1);
  ASSERT_EQ (done.size (), 1u);
  ASSERT_EQ (done[0].callbacks.size (), c.chunks.size ());
  for (const Callback &answered : done[0].callbacks)
    EXPECT_EQ (answered.rc, RFC_OK) << u8 (answered.exception);
  EXPECT_EQ (request.take (), c.request_side);
  EXPECT_EQ (data.take (), c.data_side);
  EXPECT_EQ (data.sending_ended (), c.data_ended);
  EXPECT_EQ (request.sending_ended (), c.request_ended);
}

INSTANTIATE_TEST_SUITE_P (
  Chunks, Row_Stream,
  testing::Values (
    Stream_Case {"three rows of 10 bytes, then an empty last chunk", {{3, u' '}, {0, u'X'}}, "OK\n",
                 rows (1, 3) + end_record, true, false},
    Stream_Case {"rows in two chunks", {{2, u' '}, {1, u'X'}}, "OK\n", rows (1, 3) + end_record, true, false},
    Stream_Case {"one last chunk without rows", {{0, u'X'}}, "OK\n", end_record, true, false},
    Stream_Case {"one last chunk without a row table", {{0, u'X', u"", false}}, "OK\n", "\xFF", true, false},
    Stream_Case {"a message of blanks is no error", {{3, u' ', u"     "}, {0, u'X', u"     "}}, "OK\n",
                 rows (1, 3) + end_record, true, false},
    Stream_Case {"a message before any row", {{0, u' ', u"table not found"}},
                 "OK\n" + emsg_line (u"table not found"), "", false, true},
    Stream_Case {"a message after rows", {{3, u' '}, {0, u' ', u"bad select"}}, "OK\n" + emsg_line (u"bad select"),
                 rows (1, 3) + error_record, false, true}));

struct Result_Case
{
  const char *label;
  std::vector<Chunk> chunks;
  int result;
};

std::ostream &operator<< (std::ostream &out, const Result_Case &c)
{
  return out << c.label;
}

class Call_Result : public Select_Dialog, public testing::WithParamInterface<Result_Case> {};

TEST_P (Call_Result, OfTheRequestBase)
{
  Base_Request_Peer *plain
    = attach<Base_Request_Peer> (request, "<sselect chandle=\"" + control.handle () + "\" dhandle=\"" + data.handle ()
                                            + "\" data=\"Y\"><table name=\"T\"/></sselect>");
  ASSERT_NE (plain, nullptr);
  ASSERT_EQ (plain->parse_attributes (), 0);
  ASSERT_NE (plain->open_rfc (), RFC_HANDLE_NULL);
  partner.expect (chunks_dialog (GetParam ().chunks));
  EXPECT_EQ (plain->call_req_function (), GetParam ().result);
  EXPECT_EQ (partner.dialogs (1).size (), 1u);
}

INSTANTIATE_TEST_SUITE_P (Chunks, Call_Result,
                          testing::Values (Result_Case {"all rows delivered", {{3, u' '}, {0, u'X'}}, 0},
                                           Result_Case {"a message in a chunk", {{0, u' ', u"table not found"}}, 13}));

TEST_F (Select_Dialog, WithoutDataConnectionTheRowsComeOnTheRequestConnection)
{
  Sselect_Peer *sselect = select (false);
  ASSERT_NE (sselect, nullptr);
  partner.expect (chunks_dialog ({{2, u' '}, {1, u'X'}}));
  EXPECT_EQ (sselect->call_req_function (), 13);
  EXPECT_EQ (request.take (), "OK\n" + rows (1, 3) + end_record);
  EXPECT_TRUE (request.sending_ended ());
  EXPECT_EQ (data.take (), "");
}

// Restores the disposition of SIGPIPE when it goes.
class Ignored_Sigpipe
{
public:
  Ignored_Sigpipe () { previous_ = std::signal (SIGPIPE, SIG_IGN); }
  ~Ignored_Sigpipe () { std::signal (SIGPIPE, previous_); }

private:
  void (*previous_) (int);
};

TEST_F (Select_Dialog, DataConnectionWhoseClientHasGoneStopsTheTransfer)
{
  Sselect_Peer *sselect = select ();
  ASSERT_NE (sselect, nullptr);
  data.close_client ();
  partner.expect (chunks_dialog ({{3, u' '}}));
  // The signal a write to a gone client raises has a test of its own below.
  Ignored_Sigpipe ignored;
  EXPECT_EQ (sselect->call_req_function (), 13);
  const std::vector<Dialog> done = partner.dialogs (1);
  ASSERT_EQ (done.size (), 1u);
  ASSERT_EQ (done[0].callbacks.size (), 1u);
  EXPECT_EQ (done[0].callbacks[0].rc, RFC_EXCEPTION);
  EXPECT_EQ (u8 (done[0].callbacks[0].exception), "KILLED_BY_VOK");
  EXPECT_EQ (sselect->get_killed (), 1);
  EXPECT_EQ (sselect->get_data_state (), u'X');
  EXPECT_EQ (request.take (), "OK\n");
}

// Writes to a connection whose client has gone, in a child process: such a
// write must fail, not end the process with SIGPIPE.
TEST (Gone_Client_DeathTest, WritingToItFailsWithoutASignal)
{
  set_up_engine ();
  GTEST_FLAG_SET (death_test_style, "threadsafe");
  EXPECT_EXIT (
    {
      std::signal (SIGPIPE, SIG_DFL);
      int rows_sent = 0;
      ssize_t text_sent = 0;
      {
        Client_Connection gone;
        gone.close_client ();
        const ITAB_H table = ItCreate (u"DTAB", 10, 1, 0);
        std::memcpy (ItAppLine (table), "0123456789", 10);
        rows_sent = gone.handler ().send_table (table, 0);
        text_sent = gone.handler ().send_text (u"OK\n", 3);
        ItDelete (table);
      }
      std::_Exit (rows_sent < 0 && text_sent < 0 ? 0 : 1);
    },
    testing::ExitedWithCode (0), "");
}

// Calls and endings the server does not serve

class Unserved_Function : public Partner_Test, public testing::WithParamInterface<std::u16string>
{
protected:
  Client_Connection control;
};

TEST_P (Unserved_Function, IsAbortedAndEndsTheCallWith13)
{
  Connect_Peer *logon = log_on (control);
  ASSERT_NE (logon, nullptr);
  ASSERT_NE (logon->open_rfc (), RFC_HANDLE_NULL);
  Callback unknown;
  unknown.function = GetParam ();
  Dialog dialog;
  dialog.callbacks = {unknown};
  partner.expect (dialog);

  EXPECT_EQ (logon->call_req_function (), 13);
  const std::vector<Dialog> done = partner.dialogs (1);
  ASSERT_EQ (done.size (), 1u);
  ASSERT_EQ (done[0].callbacks.size (), 1u);
  EXPECT_EQ (done[0].callbacks[0].rc, RFC_SYS_EXCEPTION);
  EXPECT_NE (u8 (done[0].callbacks[0].error_message).find ("Function not supported by VOK RFC Server"),
             std::string::npos)
    << u8 (done[0].callbacks[0].error_message);
  EXPECT_EQ (control.take (), "") << "the client sees nothing of it";
}

INSTANTIATE_TEST_SUITE_P (Names, Unserved_Function,
                          testing::Values (u"Z_VOK_UNKNOWN", u"/TST/Z_VOK_MDATA", u"z_vok_mdata"),
                          [] (const testing::TestParamInfo<std::u16string> &param_info) {
                            return std::to_string (param_info.index);
                          });

struct Raise_Case
{
  std::u16string exception;
  std::string lines;
};

class Dialog_Exception : public Select_Dialog, public testing::WithParamInterface<Raise_Case> {};

TEST_P (Dialog_Exception, ReportedAsExceptionLines)
{
  Sselect_Peer *sselect = select ();
  ASSERT_NE (sselect, nullptr);
  Dialog dialog;
  dialog.raise = GetParam ().exception;
  partner.expect (dialog);
  EXPECT_EQ (sselect->call_req_function (), RFC_EXCEPTION);
  EXPECT_EQ (request.take (), GetParam ().lines);
  EXPECT_EQ (data.take (), "");
}

INSTANTIATE_TEST_SUITE_P (
  Exceptions, Dialog_Exception,
  testing::Values (
    Raise_Case {u"DIALOG_ROWLIMIT_EXCEEDED",
                "E,RFC Exception: DIALOG_ROWLIMIT_EXCEEDED\n"
                "E, Processing using SAP dialog work processes was stopped because the size of the extracts "
                "exceeds the limit. Large data extracts should only be run using batch. Use the RFC server\n"
                "E, in batch mode, increase the buffer size, limit the number of observations with VOK option "
                "obs or refine your query to solve the problem.\n"},
    Raise_Case {u"NO_AUTHORITY", "E,RFC Exception: NO_AUTHORITY\n"}));
}
