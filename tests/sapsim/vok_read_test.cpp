// The read report against a running sapsim: the test calls the dialog module
// with a select statement and serves its callbacks as the VOK server does
// (read_caller.h), then compares the records with what SQLite returns for
// the same query on the store.
#include "read_caller.h"
#include "sapsim_process.h"

#include "sapsim/sqlite_statement.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using sapsim_test::ReadCaller;
using sapsim_test::SapsimProcess;
using Rows = std::vector<std::vector<std::string>>;
using Lines = std::vector<std::string>;

const std::string grp = "Z_VOK_GET_REQUEST_PARAMETERS";
const std::string genprog = "Z_VOK_GENPROG";
const std::string mdata = "Z_VOK_MDATA";
const std::string chunk = "Z_VOK_DATA_CHUNK";

// Rows of a query on the store of a running sapsim, as text.
Rows query_store(const SapsimProcess& sim, const std::string& sql)
{
    sqlite3* db = nullptr;
    Rows rows;
    if (sqlite3_open_v2((sim.data_path() + "/sapsim.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open the store";
        sqlite3_close(db);
        return rows;
    }
    {
        sapsim::Statement s;
        EXPECT_TRUE(s.prepare(db, sql)) << sqlite3_errmsg(db) << "\n" << sql;
        while (s.step() == SQLITE_ROW) {
            rows.emplace_back();
            for (int i = 0; i < s.column_count(); ++i)
                rows.back().push_back(s.column_text(i));
        }
    }
    sqlite3_close(db);
    return rows;
}

Rows decoded(const ReadCaller& caller)
{
    Rows rows;
    for (const std::string& record : caller.records())
        rows.push_back(sapsim_test::decode_record(caller.metadata, record));
    return rows;
}

bool ping(RFC_HANDLE handle)
{
    RFC_PARAMETER none[] = {{nullptr, 0, 0, 0, nullptr}};
    RFC_TABLE no_tables[] = {{nullptr, 0, 0, 0, nullptr, 0, 0}};
    SAP_UC* exception = nullptr;
    return RfcCallReceive(handle, u"RFC_PING", none, none, no_tables, &exception) == RFC_OK;
}

// One sapsim for the suite, with a second name of the read report; each test logs on anew.
class VokRead : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RfcInit();
        sim_ = new SapsimProcess({"--read-report", "zmy_read"});
    }
    static void TearDownTestSuite()
    {
        delete sim_;
        sim_ = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(sim_->ok()) << sim_->error();
        handle_ = sim_->open_demo();
        ASSERT_NE(handle_, RFC_HANDLE_NULL) << sapsim_test::describe(sapsim_test::last_error());
    }
    void TearDown() override { RfcClose(handle_); }

    ReadCaller select(const Lines& jdata, const Lines& fields, const std::string& func_flag = "B")
    {
        ReadCaller caller(handle_);
        caller.func_flag = func_flag;
        caller.jdata = jdata;
        caller.mdata = fields;
        return caller;
    }

    static SapsimProcess* sim_;
    RFC_HANDLE handle_ = RFC_HANDLE_NULL;
};

SapsimProcess* VokRead::sim_ = nullptr;

const Lines lufthansa_flights = {"sselect", "T,SFLIGHT,,", "W,1", "CARRID = 'LH'"};
const Lines flight_keys = {"SFLIGHT,CARRID,,,,", "SFLIGHT,CONNID,,,,", "SFLIGHT,FLDATE,,,,"};

TEST_F(VokRead, SselectSendsMetadataThenTheRowsOfTheStore)
{
    ReadCaller caller = select(lufthansa_flights, {"SFLIGHT,CARRID,,,,", "SFLIGHT,CONNID,,,,", "SFLIGHT,FLDATE,,,,",
                                                   "SFLIGHT,PRICE,,,,", "SFLIGHT,PLANETYPE,,,,", "SFLIGHT,SEATSMAX,,,,",
                                                   "SFLIGHT,PAYMENTSUM,,,,"});
    ASSERT_EQ(caller.call(), RFC_OK) << sapsim_test::describe(sapsim_test::last_error());
    ASSERT_GE(caller.callbacks.size(), 3u);
    EXPECT_EQ(Lines(caller.callbacks.begin(), caller.callbacks.begin() + 3), (Lines{grp, mdata, chunk}));
    EXPECT_EQ(caller.metadata,
              (Lines{"R,71,7", "F,CARRID,C,6,0,0,Airline code", "F,CONNID,N,8,0,6,Flight connection",
                     "F,FLDATE,D,16,0,14,Flight date", "F,PRICE,P,8,2,30,Airfare",
                     "F,PLANETYPE,C,20,0,38,Aircraft type", "F,SEATSMAX,I,4,0,58,Maximum capacity",
                     "F,PAYMENTSUM,P,9,2,62,Total of current bookings"}));
    const Rows expected = query_store(*sim_, "SELECT CARRID, CONNID, FLDATE, PRICE, PLANETYPE, SEATSMAX, PAYMENTSUM FROM "
                                             "SFLIGHT WHERE MANDT = '100' AND CARRID = 'LH' ORDER BY CONNID, FLDATE");
    ASSERT_EQ(expected.size(), 156u);
    EXPECT_EQ(decoded(caller), expected);
    for (const sapsim_test::Chunk& c : caller.chunks) {
        EXPECT_EQ(c.dhandle, caller.dhandle);
        EXPECT_EQ(c.table_name, "SFLIGHT");
        EXPECT_EQ(c.line_bytes, 71u);
        EXPECT_EQ(c.emsg, "");
    }
    EXPECT_EQ(caller.chunks.back().end_of_data, 'X');
}

struct RecordCase {
    const char* label;
    Lines jdata;
    Lines mdata;
    std::string reference;  // SQLite over the store, formatted as the records decode
};

void PrintTo(const RecordCase& c, std::ostream* os)
{
    *os << c.label;
}

class VokReadRecords : public VokRead, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(VokReadRecords, DecodeToWhatSqliteReturns)
{
    ReadCaller caller = select(GetParam().jdata, GetParam().mdata);
    ASSERT_EQ(caller.call(), RFC_OK) << sapsim_test::describe(sapsim_test::last_error());
    ASSERT_FALSE(caller.chunks.empty());
    EXPECT_EQ(caller.chunks.back().emsg, "");
    const Rows expected = query_store(*sim_, GetParam().reference);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(decoded(caller), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Statements, VokReadRecords,
    ::testing::Values(
        RecordCase{"EveryTypeOfField",
                   {"gselect", "T,MARA,M,", "T,SPFLI,P,inner", "O,1", "P~CONNID = '0017' AND P~CARRID = 'AA'", "W,1",
                    "M~MATNR LIKE '%10000_'", "OB,1", "M~MATNR"},
                   {"M,MATNR,,,,", "M,ERSDA,,,,", "M,NTGEW,,,,", "M,RAWID,,,,", "P,DEPTIME,,,,", "P,FLTIME,,,,",
                    "P,DISTANCE,,,,", "P,PERIOD,,,,"},
                   "SELECT M.MATNR, M.ERSDA, M.NTGEW, hex(M.RAWID), P.DEPTIME, P.FLTIME, P.DISTANCE, P.PERIOD FROM MARA M "
                   "JOIN SPFLI P ON P.CONNID = '0017' AND P.CARRID = 'AA' AND P.MANDT = '100' WHERE M.MANDT = '100' AND "
                   "M.MATNR LIKE '%10000_' ORDER BY M.MATNR"},
        RecordCase{"LeftJoinWithoutMatchGivesInitialValues",
                   {"gselect", "T,SCARR,C,", "T,SPFLI,P,left", "O,1", "P~CARRID = C~CARRID AND P~DISTANCE > 9000", "OB,1",
                    "C~CARRID P~CONNID"},
                   {"C,CARRID,,,,", "P,CONNID,,,,", "P,DISTANCE,,,,", "P,DEPTIME,,,,", "P,CITYTO,,,,", "P,PERIOD,,,,"},
                   "SELECT C.CARRID, IFNULL(P.CONNID, '0000'), IFNULL(P.DISTANCE, '0.0'), IFNULL(P.DEPTIME, '000000'), "
                   "IFNULL(P.CITYTO, ''), IFNULL(P.PERIOD, 0) FROM SCARR C LEFT JOIN SPFLI P ON P.CARRID = C.CARRID AND "
                   "CAST(P.DISTANCE AS REAL) > 9000 AND P.MANDT = '100' WHERE C.MANDT = '100' ORDER BY C.CARRID, P.CONNID"},
        RecordCase{"AggregatesGroupedAndSorted",
                   {"gselect", "T,SBOOK,,", "GB,1", "CARRID CLASS", "H,1", "COUNT(*) > 5", "OB,1", "CARRID, CLASS DESCENDING"},
                   {"SBOOK,CARRID,,,,", "SBOOK,CLASS,,,,", "SBOOK,*,n,,count,", "SBOOK,LOCCURAM,,,sum,",
                    "SBOOK,LOCCURAM,,,avg,", "SBOOK,LUGGWEIGHT,,,max,", "SBOOK,BOOKID,,,min,"},
                   "SELECT CARRID, CLASS, COUNT(*), printf('%.2f', SUM(CAST(LOCCURAM AS REAL))), "
                   "printf('%.4f', AVG(CAST(LOCCURAM AS REAL))), printf('%.4f', MAX(CAST(LUGGWEIGHT AS REAL))), "
                   "MIN(BOOKID) FROM SBOOK WHERE MANDT = '100' GROUP BY CARRID, CLASS HAVING COUNT(*) > 5 "
                   "ORDER BY CARRID, CLASS DESC"},
        RecordCase{"DistinctRows",
                   {"sselect,Y", "T,SFLIGHT,,", "OB,1", "CURRENCY"},
                   {"SFLIGHT,CURRENCY,,,,"},
                   "SELECT DISTINCT CURRENCY FROM SFLIGHT WHERE MANDT = '100' ORDER BY CURRENCY"},
        RecordCase{"NestedSelect",
                   {"nselect", "T,SCARR,,", "W,1", "CARRID IN ('LH', 'AA')", "T,SPFLI,,", "W,1", "CARRID = SCARR~CARRID"},
                   {"SCARR,CARRID,,,,Y", "SCARR,CARRNAME,airline,,,", "SPFLI,CONNID,,,,", "SPFLI,CITYTO,,,,"},
                   "SELECT C.CARRNAME, P.CONNID, P.CITYTO FROM SCARR C JOIN SPFLI P ON P.CARRID = C.CARRID AND "
                   "P.MANDT = '100' WHERE C.MANDT = '100' AND C.CARRID IN ('LH', 'AA') ORDER BY C.CARRID, P.CONNID"}),
    [](const auto& test) { return std::string(test.param.label); });

TEST_F(VokRead, MetadataOnlyAsksNoData)
{
    ReadCaller caller = select({"sselect", "T,SCARR,,"}, {"SCARR,*"}, "M");
    ASSERT_EQ(caller.call(), RFC_OK);
    EXPECT_EQ(caller.callbacks, (Lines{grp, mdata}));
    EXPECT_EQ(caller.metadata, (Lines{"R,566,4", "F,CARRID,C,6,0,0,Airline code", "F,CARRNAME,C,40,0,6,Airline name",
                                      "F,CURRCODE,C,10,0,46,Local currency of airline", "F,URL,C,510,0,56,Airline URL"}));
}

TEST_F(VokRead, DataOnlyAndNeitherFlag)
{
    ReadCaller data = select({"sselect", "T,SCARR,,"}, {"SCARR,CARRID,,,,"}, "D");
    ASSERT_EQ(data.call(), RFC_OK);
    EXPECT_EQ(data.callbacks, (Lines{grp, chunk}));
    EXPECT_EQ(data.records().size(), 10u);

    // Neither data nor metadata: the statement is checked, nothing is sent.
    ReadCaller neither = select({"sselect", "T,SCARR,,"}, {"SCARR,CARRID,,,,"}, " ");
    ASSERT_EQ(neither.call(), RFC_OK);
    EXPECT_EQ(neither.callbacks, (Lines{grp}));
}

struct ChunkCase {
    const char* label;
    std::string blocksize;
    size_t rows_per_chunk;
};

void PrintTo(const ChunkCase& c, std::ostream* os)
{
    *os << c.label;
}

class VokReadChunks : public VokRead, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(VokReadChunks, HoldAtMostTheBlockSizeAndEndOnce)
{
    // 156 records of 30 bytes.
    ReadCaller caller = select(lufthansa_flights, flight_keys, "D");
    caller.blocksize = GetParam().blocksize;
    ASSERT_EQ(caller.call(), RFC_OK);
    const size_t rows = GetParam().rows_per_chunk;
    ASSERT_EQ(caller.chunks.size(), (156 + rows - 1) / rows);
    for (size_t i = 0; i < caller.chunks.size(); ++i) {
        const sapsim_test::Chunk& c = caller.chunks[i];
        const bool last = i + 1 == caller.chunks.size();
        EXPECT_EQ(c.rows.size(), last ? 156 - rows * i : rows) << "chunk " << i;
        EXPECT_EQ(c.end_of_data, last ? 'X' : ' ') << "chunk " << i;
    }
    const Rows expected = query_store(*sim_, "SELECT CARRID, CONNID, FLDATE FROM SFLIGHT WHERE MANDT = '100' AND "
                                             "CARRID = 'LH' ORDER BY CONNID, FLDATE");
    caller.metadata = {"F,CARRID,C,6,0,0,", "F,CONNID,N,8,0,6,", "F,FLDATE,D,16,0,14,"};
    EXPECT_EQ(decoded(caller), expected);
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, VokReadChunks,
                         ::testing::Values(ChunkCase{"TenRecords", "00000300", 10},
                                           ChunkCase{"BelowOneRecord", "00000029", 1},
                                           ChunkCase{"ExactMultipleHasNoEmptyLastChunk", "00000390", 13},
                                           ChunkCase{"AllInOne", "00004680", 156},
                                           ChunkCase{"LargerThanTheResult", "99999999", 156},
                                           ChunkCase{"NotANumberTakesTheDefault", "", 333}),
                         [](const auto& test) { return std::string(test.param.label); });

TEST_F(VokRead, NoRowsIsOneLastChunkWithoutRecords)
{
    ReadCaller caller = select({"sselect", "T,SFLIGHT,,", "W,1", "CARRID = 'XX'"}, flight_keys);
    ASSERT_EQ(caller.call(), RFC_OK);
    ASSERT_EQ(caller.chunks.size(), 1u);
    EXPECT_TRUE(caller.chunks[0].rows.empty());
    EXPECT_EQ(caller.chunks[0].end_of_data, 'X');
    EXPECT_EQ(caller.metadata.size(), 4u);
}

TEST_F(VokRead, BadStatementEndsTheDataWithEmsg)
{
    ReadCaller caller = select({"sselect", "T,SFLIGHT,,", "W,1", "CARID = 'LH'"}, flight_keys);
    ASSERT_EQ(caller.call(), RFC_OK);
    EXPECT_EQ(caller.callbacks, (Lines{grp, chunk}));
    ASSERT_EQ(caller.chunks.size(), 1u);
    EXPECT_EQ(caller.chunks[0].emsg, "where: unknown field CARID (tables SFLIGHT)");
    EXPECT_EQ(caller.chunks[0].end_of_data, 'X');
    EXPECT_TRUE(caller.chunks[0].rows.empty());
    EXPECT_TRUE(ping(handle_));
}

TEST_F(VokRead, BadStatementWithoutDataEndsInASystemFailure)
{
    ReadCaller caller = select({"sselect", "T,NOSUCH,,"}, {"NOSUCH,*"}, "M");
    EXPECT_EQ(caller.call(), RFC_SYS_EXCEPTION);
    const RFC_ERROR_INFO_EX error = sapsim_test::last_error();
    EXPECT_EQ(sapsim_test::trimmed(error.key, RFC_ERROR_KEY_LN), "STATEMENT_ERROR");
    EXPECT_EQ(sapsim_test::trimmed(error.message, RFC_ERROR_MESSAGE_LN), "JDATA line 2: table NOSUCH does not exist");
    EXPECT_EQ(caller.callbacks, (Lines{grp}));
}

TEST_F(VokRead, KilledByVokStopsTheExtraction)
{
    ReadCaller caller = select(lufthansa_flights, flight_keys, "D");
    caller.blocksize = "00000300";
    caller.kill_at_chunk = 2;
    EXPECT_EQ(caller.call(), RFC_EXCEPTION);
    EXPECT_EQ(caller.exception, "KILLED_BY_VOK");
    EXPECT_EQ(caller.chunks.size(), 2u) << "no chunk after the exception";
    EXPECT_TRUE(sim_->process().wait_for_stderr("stopped by KILLED_BY_VOK", std::chrono::seconds(30)))
        << sim_->process().stderr_text();
    EXPECT_NE(sim_->process().stderr_text().find("10 rows of 30 bytes in 1 chunks, "), std::string::npos)
        << "only the answered chunk counts";
    EXPECT_TRUE(ping(handle_)) << "the connection stays usable";
}

TEST_F(VokRead, ProgramLinesShowTheStatementAndItsValues)
{
    ReadCaller caller = select({"sselect", "T,SCARR,,", "W,1", "CARRNAME LIKE 'L%'"}, {"SCARR,CARRID,,,,"}, "D");
    caller.debug = "Y";
    ASSERT_EQ(caller.call(), RFC_OK);
    EXPECT_EQ(caller.callbacks, (Lines{grp, genprog, chunk}));
    const Lines tail(caller.program.end() - 5, caller.program.end());
    EXPECT_EQ(tail, (Lines{"* Read report /VOK/Z_VOK_READ: sselect over SCARR, 1 columns, 6 bytes per record",
                           "* SQL SELECT t1.\"CARRID\" FROM \"SCARR\" AS t1 WHERE t1.\"MANDT\" = ?1 AND "
                           "(sap_like(IFNULL(t1.\"CARRNAME\", ''), ?2))",
                           "* ?1 = '100'", "* ?2 = 'L%'", "* Dialog row limit 100000 rows"}));
    EXPECT_EQ(caller.records().size(), 1u);
}

TEST_F(VokRead, ReportIsFoundByItsNames)
{
    for (const char* name : {"/vok/z_vok_read", "ZMY_READ", "zmy_read  "}) {
        ReadCaller caller = select({"sselect", "T,SCARR,,"}, {"SCARR,CARRID,,,,"}, "D");
        caller.abapprog = name;
        EXPECT_EQ(caller.call(), RFC_OK) << name;
        EXPECT_EQ(caller.records().size(), 10u) << name;
    }
    ReadCaller unknown = select({"sselect", "T,SCARR,,"}, {"SCARR,CARRID,,,,"}, "D");
    unknown.abapprog = "ZOTHER_READ";
    unknown.debug = "Y";
    EXPECT_EQ(unknown.call(), RFC_EXCEPTION);
    EXPECT_EQ(unknown.exception, "REPORT_NOT_FOUND");
    EXPECT_EQ(unknown.callbacks, (Lines{grp, genprog}));
    ASSERT_FALSE(unknown.program.empty());
    EXPECT_EQ(unknown.program.back(), "* Read report ZOTHER_READ not found: the module raises REPORT_NOT_FOUND");
}

TEST_F(VokRead, RowsComeFromTheLogonClient)
{
    const RFC_HANDLE training = sim_->open("200", "DEMO", "demo200");
    ASSERT_NE(training, RFC_HANDLE_NULL);
    ReadCaller caller(training);
    caller.jdata = {"sselect", "T,SCARR,,"};
    caller.mdata = {"SCARR,CARRID,,,,"};
    ASSERT_EQ(caller.call(), RFC_OK);
    EXPECT_EQ(decoded(caller), query_store(*sim_, "SELECT CARRID FROM SCARR WHERE MANDT = '200' ORDER BY CARRID"));
    EXPECT_EQ(caller.records().size(), 4u);
    RfcClose(training);
}

// A system whose dialogs may read 156 rows.
class VokReadRowLimit : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RfcInit();
        sim_ = new SapsimProcess({"--dialog-row-limit", "156"});
    }
    static void TearDownTestSuite()
    {
        delete sim_;
        sim_ = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(sim_->ok()) << sim_->error();
        handle_ = sim_->open_demo();
        ASSERT_NE(handle_, RFC_HANDLE_NULL);
    }
    void TearDown() override { RfcClose(handle_); }

    static SapsimProcess* sim_;
    RFC_HANDLE handle_ = RFC_HANDLE_NULL;
};

SapsimProcess* VokReadRowLimit::sim_ = nullptr;

TEST_F(VokReadRowLimit, ExceedingTheLimitRaisesBeforeAnythingIsSent)
{
    ReadCaller caller(handle_);
    caller.jdata = {"sselect", "T,SFLIGHT,,", "W,1", "CARRID IN ('LH', 'AA')"};
    caller.mdata = flight_keys;
    EXPECT_EQ(caller.call(), RFC_EXCEPTION);
    EXPECT_EQ(caller.exception, "DIALOG_ROWLIMIT_EXCEEDED");
    EXPECT_EQ(caller.callbacks, (Lines{grp}));
}

TEST_F(VokReadRowLimit, TheLimitItselfIsAllowed)
{
    ReadCaller caller(handle_);
    caller.jdata = lufthansa_flights;
    caller.mdata = flight_keys;
    ASSERT_EQ(caller.call(), RFC_OK);
    EXPECT_EQ(caller.records().size(), 156u);
}

TEST_F(VokReadRowLimit, DialogFlagXAndMetadataOnlyAreNotLimited)
{
    ReadCaller unlimited(handle_);
    unlimited.jdata = {"sselect", "T,SFLIGHT,,"};
    unlimited.mdata = flight_keys;
    unlimited.dialog_flag = "X";
    ASSERT_EQ(unlimited.call(), RFC_OK);
    EXPECT_EQ(unlimited.records().size(), 1560u);

    ReadCaller metadata(handle_);
    metadata.jdata = {"sselect", "T,SFLIGHT,,"};
    metadata.mdata = flight_keys;
    metadata.func_flag = "M";
    ASSERT_EQ(metadata.call(), RFC_OK);
    EXPECT_EQ(metadata.callbacks, (Lines{grp, mdata}));
}

TEST(VokReadOptions, BadValuesAreRefused)
{
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--dialog-row-limit", "-1"},
                                                 std::vector<std::string>{"--read-report", "Z READ"},
                                                 std::vector<std::string>{"--read-report", std::string(41, 'Z')}}) {
        vurude::test::TempDir data;
        vurude::test::ChildProcess child;
        std::vector<std::string> argv = {SAPSIM_EXE, "--data", data.path(), "--port", "0"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string error;
        ASSERT_TRUE(child.start(argv, error)) << error;
        const std::optional<int> status = child.wait_exit(std::chrono::seconds(30));
        ASSERT_TRUE(status);
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 2) << args[0] << " " << args[1];
    }
}

} // namespace
