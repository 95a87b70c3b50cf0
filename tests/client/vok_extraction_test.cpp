// One select against a scripted server that plays the data connection and
// the request connection: the document sent, the metadata, "OK", the rows up
// to the end or error record, the error lines, and every way the server can
// break off.
#include "script_server.h"
#include "vok_extraction.h"
#include "vok_value_decoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace
{
using namespace std::chrono_literals;
using namespace std::string_literals;
using Lines = std::vector<std::string>;
using Steps = std::vector<Script_Step>;

const std::string chandle = "0001000000000000C0DE";
const std::string dhandle = "0002000000000000DA7A";
const std::string rhandle = "0003000000000000BEEF";

// Rows of 10 bytes: CARRID, 3 characters, and PRICE, packed with 2 decimals.
const std::string metadata = "R,10,2\nF,CARRID,C,6,0,0,Airline Code\nF,PRICE,P,4,2,6,Airfare\n";
const std::string end_record (11, '\0');

std::string utf16 (std::string_view text)
{
  std::string bytes;
  for (char c : text)
    bytes += std::string {c, '\0'};
  return bytes;
}

std::string record (std::string_view carrid, std::string_view packed_price)
{
  return utf16 (carrid) + std::string (packed_price) + '\0';
}

const std::string lh = record ("LH ", "\x00\x01\x23\x4C"s);
const std::string aa = record ("AA ", "\x00\x09\x99\x9D"s);

std::string end_of (std::string bytes, char flag)
{
  bytes.back () = flag;
  return bytes;
}

std::string select_document (bool data)
{
  return "<sselect chandle=\"" + chandle + "\" data=\"" + (data ? "Y" : "N") + "\""
         + (data ? " dhandle=\"" + dhandle + "\"" : "") + " metadata=\"Y\"><table name=\"SCARR\"/></sselect>\n";
}

Vok_Select_Document scarr (bool data = true)
{
  Vok_Select_Document select (Vok_Select_Type::sselect);
  select.data = data;
  select.metadata = true;
  select.content.push_back (Vok_Select_Document::table ("SCARR"));
  return select;
}

class Extraction_Test : public testing::Test
{
protected:
  // The data connection's script after its greeting, and the request
  // connection's after the select document.
  Vok_Extraction_Result run (Steps data, Steps reply, const Vok_Select_Document &select = scarr (),
                             Vok_Extraction_Settings settings = short_waits ())
  {
    data.insert (data.begin (), send (padded_greeting (dhandle)));
    Steps request {send (padded_greeting (rhandle)), expect (select_document (select.data.value_or (false)))};
    request.insert (request.end (), reply.begin (), reply.end ());
    Connection_Scripts scripts;
    if (select.data.value_or (false))
      scripts.scripts.push_back (std::move (data));
    scripts.scripts.push_back (std::move (request));
    Script_Server server (std::move (scripts));
    if (!handlers_.on_row)
      handlers_.on_row = [this] (std::string_view row, const Vok_Layout &layout) { return decode (row, layout); };
    Vok_Extraction_Result result = Vok_Extraction (settings).run ("127.0.0.1", server.port (), chandle, select,
                                                                  handlers_);
    EXPECT_EQ (server.finish (), "");
    return result;
  }

  static Vok_Extraction_Settings short_waits ()
  {
    Vok_Extraction_Settings settings;
    settings.connection.reply_timeout = 10s;
    return settings;
  }

  // Each row as its values joined by '|'.
  Vok_Status decode (std::string_view row, const Vok_Layout &layout)
  {
    std::string line;
    std::string text;
    for (const Vok_Column &column : layout.columns)
      {
        if (Vok_Status status = vok_decode_value (column, row, text); !status.ok ())
          return status;
        line += (line.empty () ? "" : "|") + text;
      }
    rows_.push_back (line);
    return {};
  }

  Vok_Extraction_Handlers handlers_;
  Lines rows_;
};

// --- How a select ends, case by case ---

struct Ending_Case
{
  const char *name;
  Steps data;   // after the greeting
  Steps reply;  // after the document
  Vok_Extraction_Outcome outcome;
  Lines rows;
  Lines error_lines;
  bool end_record;
  bool error_record;
  std::string message;  // part of the status message; empty when ok
  friend void PrintTo (const Ending_Case &c, std::ostream *os) { *os << c.name; }
};

class Extraction_Ending : public Extraction_Test, public testing::WithParamInterface<Ending_Case> {};

TEST_P (Extraction_Ending, ReportsRowsLinesAndOutcome)
{
  const Ending_Case &c = GetParam ();
  const Vok_Extraction_Result result = run (c.data, c.reply);
  EXPECT_EQ (result.outcome, c.outcome) << result.status.message ();
  EXPECT_EQ (rows_, c.rows);
  EXPECT_EQ (result.rows, c.rows.size ());
  EXPECT_EQ (result.error_lines, c.error_lines);
  EXPECT_EQ (result.end_record, c.end_record);
  EXPECT_EQ (result.error_record, c.error_record);
  if (c.message.empty ())
    EXPECT_TRUE (result.status.ok ()) << result.status.message ();
  else
    EXPECT_NE (result.status.message ().find (c.message), std::string::npos) << result.status.message ();
}

const auto completed = Vok_Extraction_Outcome::completed;
const auto server_error = Vok_Extraction_Outcome::server_error;
const auto failed = Vok_Extraction_Outcome::failed;
const Lines both_rows {"LH|12.34", "AA|-99.99"};
const Lines rowlimit {"RFC Exception: DIALOG_ROWLIMIT_EXCEEDED", " Processing using SAP dialog work processes"};

INSTANTIATE_TEST_SUITE_P (
  Cases, Extraction_Ending,
  testing::Values (
    Ending_Case {"RowsAndEndRecord",
                 {send (lh + aa + end_of (end_record, '\xFF')), close_connection ()},
                 {send (metadata + "OK\n"), close_connection ()},
                 completed, both_rows, {}, true, false, ""},
    Ending_Case {"RecordsInPieces",
                 {send_bytewise (lh + aa + end_of (end_record, '\xFF')), close_connection ()},
                 {send_bytewise (metadata + "OK\n"), close_connection ()},
                 completed, both_rows, {}, true, false, ""},
    Ending_Case {"NoRowsEndRecordOfRowWidth",
                 {send (end_of (end_record, '\xFF')), close_connection ()},
                 {send (metadata + "OK\n"), close_connection ()},
                 completed, {}, {}, true, false, ""},
    Ending_Case {"NoRowsEndRecordOfWidthZero",
                 {send ("\xFF"), close_connection ()},
                 {send (metadata + "OK\n"), close_connection ()},
                 completed, {}, {}, true, false, ""},
    Ending_Case {"ErrorRecordMidStreamThenErrorLines",
                 {send (lh + end_of (end_record, 'X')), close_connection ()},
                 {send (metadata + "OK\n"), send ("E," + rowlimit[0] + "\nE," + rowlimit[1] + "\n"),
                  close_connection ()},
                 server_error, {"LH|12.34"}, rowlimit, false, true,
                 "the rows ended with an error record after 1 row and 2 error line(s)"},
    Ending_Case {"ErrorRecordOfWidthZeroBeforeRows",
                 {send ("X"), close_connection ()},
                 {send (metadata + "OK\nE,Table SCARX does not exist\n"), close_connection ()},
                 server_error, {}, {"Table SCARX does not exist"}, false, true, "error record after 0 rows"},
    Ending_Case {"ErrorLinesInsteadOfRows",
                 {close_connection ()},
                 {send ("E,RFC Error:\nE,Error Group: 3\n\n"), close_connection ()},
                 server_error, {}, {"RFC Error:", "Error Group: 3"}, false, false, "2 error line(s)"},
    Ending_Case {"ErrorLinesAfterTheEndRecord",
                 {send (lh + end_of (end_record, '\xFF')), close_connection ()},
                 {send (metadata + "OK\n"), send ("E,RFC Exception: SYSTEM_FAILURE\n"), close_connection ()},
                 server_error, {"LH|12.34"}, {"RFC Exception: SYSTEM_FAILURE"}, true, false, "1 error line(s)"},
    Ending_Case {"ClosedWithoutOk",
                 {close_connection ()},
                 {send (metadata), close_connection ()},
                 failed, {}, {}, false, false, "without an OK and without an error line"},
    Ending_Case {"DataClosedWithoutEndRecord",
                 {send (lh), close_connection ()},
                 {send (metadata + "OK\n"), close_connection ()},
                 failed, {"LH|12.34"}, {}, false, false, "the data connection after 1 row: the server at 127.0.0.1:"},
    Ending_Case {"TruncatedRecord",
                 {send (lh + aa.substr (0, 7)), close_connection ()},
                 {send (metadata + "OK\n"), close_connection ()},
                 failed, {"LH|12.34"}, {}, false, false, "within a record, after 7 of its 11 bytes"},
    Ending_Case {"TruncatedFirstRecord",
                 {send (lh.substr (0, 2)), close_connection ()},
                 {send (metadata + "OK\n"), close_connection ()},
                 failed, {}, {}, false, false, "after 2 of its 11 bytes"},
    Ending_Case {"TruncatedRecordExplainedByErrorLines",
                 {send (lh.substr (0, 4)), close_connection ()},
                 {send (metadata + "OK\nE,RfcSendData failed\n"), close_connection ()},
                 failed, {}, {"RfcSendData failed"}, false, false, "within a record"},
    Ending_Case {"UnknownFlagByte",
                 {send (lh.substr (0, 10) + "\x07"), close_connection ()},
                 {send (metadata + "OK\n"), close_connection ()},
                 failed, {}, {}, false, false, "unknown flag byte 0x07"},
    Ending_Case {"BytesAfterTheEndRecord",
                 {send (lh + end_of (end_record, '\xFF') + "\x00"s), close_connection ()},
                 {send (metadata + "OK\n"), close_connection ()},
                 failed, {"LH|12.34"}, {}, true, false, "bytes after the end record"},
    Ending_Case {"InconsistentMetadata",
                 {close_connection ()},
                 {send ("R,10,2\nF,CARRID,C,6,0,0,\nF,PRICE,P,4,2,4,\nOK\n"), close_connection ()},
                 failed, {}, {}, false, false, "overlaps the column before it"},
    Ending_Case {"OkBeforeTheMetadataIsComplete",
                 {close_connection ()},
                 {send ("R,10,2\nF,CARRID,C,6,0,0,\nOK\n"), close_connection ()},
                 failed, {}, {}, false, false, "the rows begin before the metadata is complete"},
    Ending_Case {"DecodingFailureStopsTheRows",
                 {send (record ("LH ", "\x00\x01\x23\x45"s)), close_connection ()},
                 {send (metadata + "OK\n"), close_connection ()},
                 Vok_Extraction_Outcome::stopped, {}, {}, false, false, "no sign nibble"}),
  [] (const auto &test) { return std::string (test.param.name); });

TEST_F (Extraction_Test, OtherLinesAreKeptApart)
{
  const Vok_Extraction_Result result
    = run ({send (lh + end_of (end_record, '\xFF')), close_connection ()},
           {send ("REPORT ZX.\n" + metadata + "OK\n"), send ("WRITE 'done'.\n"), close_connection ()});
  EXPECT_EQ (result.outcome, completed) << result.status.message ();
  EXPECT_EQ (result.other_lines, (Lines {"REPORT ZX.", "WRITE 'done'."}));
  EXPECT_EQ (rows_, Lines {"LH|12.34"});
}

// --- What is asked for ---

TEST_F (Extraction_Test, MetadataAloneNeedsNoDataConnection)
{
  const Vok_Extraction_Result result = run ({}, {send (metadata), close_connection ()}, scarr (false));
  ASSERT_EQ (result.outcome, completed) << result.status.message ();
  ASSERT_TRUE (result.layout);
  EXPECT_EQ (result.layout->row_bytes, 10u);
  ASSERT_EQ (result.layout->columns.size (), 2u);
  EXPECT_EQ (result.layout->columns[1].name, "PRICE");
  EXPECT_EQ (result.rows, 0u);
}

TEST_F (Extraction_Test, OkWithoutRowsAskedForIsAProtocolFault)
{
  const Vok_Extraction_Result result = run ({}, {send (metadata + "OK\n"), close_connection ()}, scarr (false));
  EXPECT_EQ (result.outcome, failed);
  EXPECT_NE (result.status.message ().find ("OK though no rows were asked for"), std::string::npos)
    << result.status.message ();
}

TEST_F (Extraction_Test, RowsWithoutMetadataTakeTheCallersWidth)
{
  Vok_Select_Document select = scarr ();
  select.metadata = false;
  Vok_Extraction_Settings settings = short_waits ();
  settings.row_width = 10;
  Lines raw;
  handlers_.on_row = [&raw] (std::string_view row, const Vok_Layout &layout) {
    EXPECT_TRUE (layout.columns.empty ());
    raw.emplace_back (row);
    return Vok_Status ();
  };
  Script_Server server (Connection_Scripts {
    {{send (padded_greeting (dhandle)), send (lh + end_of (end_record, '\xFF')), close_connection ()},
     {send (padded_greeting (rhandle)),
      expect ("<sselect chandle=\"" + chandle + "\" data=\"Y\" dhandle=\"" + dhandle
              + "\" metadata=\"N\"><table name=\"SCARR\"/></sselect>\n"),
      send ("OK\n"), close_connection ()}}});
  const Vok_Extraction_Result result = Vok_Extraction (settings).run ("127.0.0.1", server.port (), chandle, select,
                                                                      handlers_);
  EXPECT_EQ (server.finish (), "");
  EXPECT_EQ (result.outcome, completed) << result.status.message ();
  EXPECT_EQ (raw, Lines {lh.substr (0, 10)});
  EXPECT_FALSE (result.layout);
}

TEST_F (Extraction_Test, RowsWithoutMetadataOrWidthAreRefusedBeforeConnecting)
{
  Vok_Select_Document select = scarr ();
  select.metadata = false;
  // Nothing listens on port 1; a connection attempt would fail differently.
  const Vok_Extraction_Result result = Vok_Extraction ().run ("127.0.0.1", 1, chandle, select, handlers_);
  EXPECT_EQ (result.outcome, failed);
  EXPECT_EQ (result.status.result (), Vok_Result::invalid_argument);
}

// --- What the caller hears ---

TEST_F (Extraction_Test, AHandlerFailureStopsTheSelect)
{
  int calls = 0;
  handlers_.on_row = [&calls] (std::string_view, const Vok_Layout &) {
    ++calls;
    return Vok_Status (Vok_Result::io_error, "disk full");
  };
  // The server's rows stay unread; its close of the request connection ends
  // nothing, since the client has gone.
  const Vok_Extraction_Result result
    = run ({send (lh + aa + end_of (end_record, '\xFF')), close_connection ()},
           {send (metadata + "OK\n"), close_connection ()});
  EXPECT_EQ (result.outcome, Vok_Extraction_Outcome::stopped);
  EXPECT_EQ (result.status.message (), "disk full");
  EXPECT_EQ (calls, 1);
}

TEST_F (Extraction_Test, LayoutComesOnceBeforeTheRows)
{
  Lines events;
  handlers_.on_layout = [&events] (const Vok_Layout &layout) {
    events.push_back ("layout " + std::to_string (layout.columns.size ()));
    return Vok_Status ();
  };
  handlers_.on_row = [&events] (std::string_view, const Vok_Layout &) {
    events.push_back ("row");
    return Vok_Status ();
  };
  const Vok_Extraction_Result result
    = run ({send (lh + aa + end_of (end_record, '\xFF')), close_connection ()},
           {send (metadata + "OK\n"), close_connection ()});
  EXPECT_EQ (result.outcome, completed) << result.status.message ();
  EXPECT_EQ (events, (Lines {"layout 2", "row", "row"}));
}

TEST_F (Extraction_Test, ProgressEveryNRowsAndAtTheEnd)
{
  std::string rows;
  for (int i = 0; i < 5; ++i)
    rows += lh;
  Vok_Extraction_Settings settings = short_waits ();
  settings.progress_rows = 2;
  settings.progress_interval = 0ms;
  std::vector<Vok_Extraction_Progress> reports;
  handlers_.on_progress = [&reports] (const Vok_Extraction_Progress &progress) { reports.push_back (progress); };
  const Vok_Extraction_Result result = run ({send (rows + end_of (end_record, '\xFF')), close_connection ()},
                                            {send (metadata + "OK\n"), close_connection ()}, scarr (), settings);
  ASSERT_EQ (result.outcome, completed) << result.status.message ();
  ASSERT_EQ (reports.size (), 3u);
  EXPECT_EQ (reports[0].rows, 2u);
  EXPECT_EQ (reports[0].bytes, 22u);
  EXPECT_FALSE (reports[0].final);
  EXPECT_EQ (reports[1].rows, 4u);
  EXPECT_EQ (reports[2].rows, 5u);
  EXPECT_EQ (reports[2].bytes, 66u);  // the end record counts
  EXPECT_TRUE (reports[2].final);
  EXPECT_EQ (result.bytes, 66u);
}
}
