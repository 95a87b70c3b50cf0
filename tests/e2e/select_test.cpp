// Table extraction through the server from a running sapsim: the rows a
// client decodes against what the simulated system's store holds, the
// records of the data connection, and the ways an extraction can end.
#include "sapsim_process.h"
#include "server_process.h"

#include "vok_connection.h"
#include "vok_extraction.h"
#include "vok_logon.h"
#include "vok_select_document.h"
#include "vok_value_decoder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <future>
#include <ostream>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{
using Rows = std::vector<std::vector<std::string>>;

// sapsim and the server, with a logged-on control connection.
class Extraction
{
public:
  explicit Extraction (std::vector<std::string> sapsim_options = {}, std::vector<std::string> server_options = {})
    : sapsim_ (sapsim_options)
  {
    std::string error;
    if (!sapsim_.ok () || !server_.start (server_options, error))
      return;
    control_ = connect ();
    const Vok_Logon_Reply logon = Vok_Logon ().log_on (
      control_, "<connect gwhost=\"127.0.0.1\" gwserv=\"" + std::to_string (sapsim_.port ())
                  + "\" client=\"100\" user=\"DEMO\" passwd=\"demo\"/>");
    ready_ = logon.outcome == Vok_Logon_Outcome::logged_on;
  }

  bool ready () const { return ready_; }
  std::string chandle () const { return control_.handle (); }
  sapsim_test::SapsimProcess &sapsim () { return sapsim_; }
  Server_Process &server () { return server_; }

  Vok_Connection connect ()
  {
    Vok_Connection connection;
    EXPECT_TRUE (connection.connect ("127.0.0.1", static_cast<std::uint16_t> (server_.port ())).ok ());
    return connection;
  }

  // Runs a select with data and metadata; the rows decoded to text.
  Vok_Extraction_Result run (Vok_Select_Document select, Rows &rows)
  {
    select.data = true;
    select.metadata = true;
    Vok_Extraction_Handlers handlers;
    handlers.on_row = [&rows] (std::string_view row, const Vok_Layout &layout) {
      std::vector<std::string> values;
      for (const Vok_Column &column : layout.columns)
        {
          std::string text;
          const Vok_Status decoded = vok_decode_value (column, row, text);
          if (!decoded.ok ())
            return decoded;
          values.push_back (text);
        }
      rows.push_back (values);
      return Vok_Status ();
    };
    return Vok_Extraction ().run ("127.0.0.1", static_cast<std::uint16_t> (server_.port ()), chandle (), select,
                                  handlers);
  }

  // The same query on the simulated system's store.
  Rows query_store (const std::string &sql)
  {
    Rows rows;
    sqlite3 *db = nullptr;
    const std::string path = sapsim_.data_path () + "/sapsim.db";
    if (sqlite3_open_v2 (path.c_str (), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
      {
        ADD_FAILURE () << "cannot open " << path;
        sqlite3_close (db);
        return rows;
      }
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2 (db, sql.c_str (), -1, &statement, nullptr) != SQLITE_OK)
      ADD_FAILURE () << sqlite3_errmsg (db);
    while (statement && sqlite3_step (statement) == SQLITE_ROW)
      {
        std::vector<std::string> values;
        for (int i = 0; i < sqlite3_column_count (statement); ++i)
          {
            const unsigned char *text = sqlite3_column_text (statement, i);
            values.emplace_back (text ? reinterpret_cast<const char *> (text) : "");
          }
        rows.push_back (values);
      }
    sqlite3_finalize (statement);
    sqlite3_close (db);
    return rows;
  }

private:
  sapsim_test::SapsimProcess sapsim_;
  Server_Process server_;
  Vok_Connection control_;
  bool ready_ = false;
};

Vok_Select_Document sselect (const std::string &table, std::vector<std::string> fields, std::string where = "",
                             std::string order_by = "")
{
  Vok_Select_Document select (Vok_Select_Type::sselect);
  select.content.push_back (Vok_Select_Document::table (table));
  for (const std::string &field : fields)
    select.content.push_back (Vok_Select_Document::field (field));
  if (!where.empty ())
    select.content.push_back (Vok_Select_Document::where (where));
  if (!order_by.empty ())
    select.content.push_back (Vok_Select_Document::orderby (order_by));
  return select;
}

// Expected and extracted rows side by side, for the same query.
struct Query_Case
{
  const char *name;
  Vok_Select_Document (*select) ();
  const char *sql;
};

void PrintTo (const Query_Case &c, std::ostream *os)
{
  *os << c.name;
}

const Query_Case query_cases[] = {
  {"airlines", [] { return sselect ("SCARR", {"CARRID", "CARRNAME", "CURRCODE"}, "", "CARRID"); },
   "SELECT CARRID, CARRNAME, CURRCODE FROM SCARR WHERE MANDT = '100' ORDER BY CARRID"},
  {"flights_of_one_airline",
   [] { return sselect ("SFLIGHT", {"CONNID", "FLDATE", "PRICE", "SEATSMAX"}, "CARRID EQ 'LH'", "CONNID FLDATE"); },
   "SELECT CONNID, FLDATE, PRICE, SEATSMAX FROM SFLIGHT WHERE MANDT = '100' AND CARRID = 'LH' "
   "ORDER BY CONNID, FLDATE"},
  {"bookings_in_a_range",
   [] {
     return sselect ("SBOOK", {"BOOKID", "CUSTOMID", "PASSNAME"}, "BOOKID BETWEEN '00000010' AND '00000099'",
                     "BOOKID");
   },
   "SELECT BOOKID, CUSTOMID, PASSNAME FROM SBOOK WHERE MANDT = '100' AND BOOKID BETWEEN '00000010' AND "
   "'00000099' ORDER BY BOOKID"},
  {"materials_by_type",
   [] { return sselect ("MARA", {"MATNR", "MTART"}, "MTART IN ('FERT', 'ROH')", "MATNR"); },
   "SELECT MATNR, MTART FROM MARA WHERE MANDT = '100' AND MTART IN ('FERT', 'ROH') ORDER BY MATNR"},
  {"bookings_per_airline",
   [] {
     Vok_Select_Document select = sselect ("SBOOK", {"CARRID"}, "", "CARRID");
     Vok_Xml_Element count = Vok_Select_Document::field ("BOOKID");
     count.set_attribute ("aggregate", "count");
     select.content.push_back (count);
     select.content.push_back (Vok_Select_Document::groupby ("CARRID"));
     return select;
   },
   "SELECT CARRID, COUNT(BOOKID) FROM SBOOK WHERE MANDT = '100' GROUP BY CARRID ORDER BY CARRID"},
};

class Extracted_Rows : public testing::TestWithParam<Query_Case>
{
protected:
  static void SetUpTestSuite () { extraction_ = new Extraction (); }
  static void TearDownTestSuite ()
  {
    delete extraction_;
    extraction_ = nullptr;
  }
  void SetUp () override { ASSERT_TRUE (extraction_->ready ()); }

  static Extraction *extraction_;
};

Extraction *Extracted_Rows::extraction_ = nullptr;

TEST_P (Extracted_Rows, EqualWhatTheStoreHolds)
{
  Rows rows;
  const Vok_Extraction_Result result = extraction_->run (GetParam ().select (), rows);
  ASSERT_EQ (result.outcome, Vok_Extraction_Outcome::completed) << result.status.message ();
  EXPECT_TRUE (result.end_record);
  const Rows expected = extraction_->query_store (GetParam ().sql);
  ASSERT_FALSE (expected.empty ());
  EXPECT_EQ (rows, expected);
}

INSTANTIATE_TEST_SUITE_P (Queries, Extracted_Rows, testing::ValuesIn (query_cases),
                          [] (const auto &instance) { return std::string (instance.param.name); });

TEST_F (Extracted_Rows, TenConcurrentExtractionsEachGetTheirOwnRows)
{
  std::vector<std::future<bool>> runs;
  for (int i = 0; i < 10; ++i)
    runs.push_back (std::async (std::launch::async, [i] {
      const Query_Case &c = query_cases[static_cast<std::size_t> (i) % std::size (query_cases)];
      Rows rows;
      const Vok_Extraction_Result result = extraction_->run (c.select (), rows);
      return result.outcome == Vok_Extraction_Outcome::completed && rows == extraction_->query_store (c.sql);
    }));
  for (std::future<bool> &run : runs)
    EXPECT_TRUE (run.get ());
}

TEST_F (Extracted_Rows, DataConnectionCarriesRowsThenTheEndRecordThenNothing)
{
  Vok_Connection data = extraction_->connect ();
  Vok_Connection request = extraction_->connect ();
  ASSERT_TRUE (request
                 .send_request ("<sselect chandle=\"" + extraction_->chandle () + "\" dhandle=\"" + data.handle ()
                                + "\" data=\"Y\"><table name=\"SCARR\"/><field name=\"CARRID\"/></sselect>")
                 .ok ());
  std::string answer;
  ASSERT_TRUE (request.read_until_closed (answer, 1 << 20).ok ());
  EXPECT_EQ (answer, "OK\n");
  std::string records;
  ASSERT_TRUE (data.read_until_closed (records, 1 << 20).ok ());
  // CARRID is three UTF-16 characters: 6 bytes and the flag byte per row.
  const std::size_t rows
    = std::stoul (extraction_->query_store ("SELECT COUNT(*) FROM SCARR WHERE MANDT = '100'").at (0).at (0));
  ASSERT_EQ (records.size (), (rows + 1) * 7);
  for (std::size_t r = 0; r < rows; ++r)
    EXPECT_EQ (records[r * 7 + 6], '\0') << "row " << r;
  EXPECT_EQ (records.substr (rows * 7), std::string (6, '\0') + "\xFF");
}

TEST_F (Extracted_Rows, MetadataWithoutDataGivesTheLayoutAndNoRows)
{
  Vok_Connection request = extraction_->connect ();
  ASSERT_TRUE (request
                 .send_request ("<sselect chandle=\"" + extraction_->chandle ()
                                + "\" data=\"N\" metadata=\"Y\"><table name=\"SCARR\"/><field name=\"CARRID\"/>"
                                  "<field name=\"CARRNAME\"/></sselect>")
                 .ok ());
  std::string answer;
  ASSERT_TRUE (request.read_until_closed (answer, 1 << 20).ok ());
  EXPECT_EQ (answer.rfind ("R,46,2\nF,CARRID,C,6,0,0,", 0), 0u) << answer;
  EXPECT_NE (answer.find ("\nF,CARRNAME,C,40,0,6,"), std::string::npos) << answer;
  EXPECT_EQ (answer.find ("OK\n"), std::string::npos) << answer;
}

TEST (Killed_Extraction, ClosedDataConnectionStopsItAndOthersAreServed)
{
  // Every booking with every booking: a million rows, far more than the
  // sockets between here and the server hold.
  Extraction extraction ({}, {"-U", "Y"});
  ASSERT_TRUE (extraction.ready ());
  Vok_Connection data = extraction.connect ();
  Vok_Connection request = extraction.connect ();
  ASSERT_TRUE (request
                 .send_request ("<nselect chandle=\"" + extraction.chandle () + "\" dhandle=\"" + data.handle ()
                                + "\" data=\"Y\"><sselect><table name=\"SBOOK\" alias=\"a\"/><field name=\"BOOKID\"/>"
                                  "</sselect><sselect><table name=\"SBOOK\"/><field name=\"BOOKID\"/></sselect>"
                                  "</nselect>")
                 .ok ());
  Vok_Record first;
  ASSERT_TRUE (data.read_record (32, first).ok ());
  data.close ();
  std::string answer;
  ASSERT_TRUE (request.read_until_closed (answer, 1 << 20).ok ());
  EXPECT_NE (answer.find ("E,RFC Exception: KILLED_BY_VOK\n"), std::string::npos) << answer;

  Rows rows;
  EXPECT_EQ (extraction.run (query_cases[0].select (), rows).outcome, Vok_Extraction_Outcome::completed);
}

TEST_F (Extracted_Rows, BadStatementEndsWithTheReportsMessage)
{
  Rows rows;
  const Vok_Extraction_Result result = extraction_->run (sselect ("SCARR", {"NOSUCHFIELD"}), rows);
  EXPECT_EQ (result.outcome, Vok_Extraction_Outcome::server_error) << result.status.message ();
  ASSERT_FALSE (result.error_lines.empty ());
  EXPECT_NE (result.error_lines[0].find ("NOSUCHFIELD"), std::string::npos) << result.error_lines[0];
}

TEST (Row_Limit, DialogExtractionBeyondItGivesTheThreeLines)
{
  Extraction extraction ({"--dialog-row-limit", "10"});
  ASSERT_TRUE (extraction.ready ());
  Rows rows;
  const Vok_Extraction_Result result = extraction.run (sselect ("SBOOK", {"BOOKID"}), rows);
  EXPECT_EQ (result.outcome, Vok_Extraction_Outcome::server_error);
  ASSERT_EQ (result.error_lines.size (), 3u);
  EXPECT_EQ (result.error_lines[0], "RFC Exception: DIALOG_ROWLIMIT_EXCEEDED");
  EXPECT_EQ (result.error_lines[1].rfind (" Processing using SAP dialog work processes was stopped", 0), 0u);
  EXPECT_EQ (result.error_lines[2].rfind (" in batch mode, increase the buffer size", 0), 0u);
  EXPECT_TRUE (rows.empty ());
}

TEST (Row_Limit, UnlimitedDialogOptionLiftsIt)
{
  Extraction extraction ({"--dialog-row-limit", "10"}, {"-U", "Y"});
  ASSERT_TRUE (extraction.ready ());
  Rows rows;
  const Vok_Extraction_Result result = extraction.run (sselect ("SBOOK", {"BOOKID"}), rows);
  EXPECT_EQ (result.outcome, Vok_Extraction_Outcome::completed) << result.status.message ();
  EXPECT_GT (rows.size (), 10u);
}
}
