// The described function modules against a running sapsim. The test plays
// the VOK server: it calls the modules directly, with parameters and tables
// as a function request in mode Y passes them, and through the dialog module
// as a function request in mode N does, and it serves the callbacks the
// modules make (data chunks, parameter tables, metadata).
#include "function_caller.h"
#include "read_caller.h"
#include "sapsim_process.h"

#include "sapsim/sqlite_statement.h"
#include "sapsim/text.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using sapsim_test::CallTable;
using sapsim_test::FunctionCaller;
using sapsim_test::int4;
using sapsim_test::int4_of;
using sapsim_test::Lines;
using sapsim_test::SapsimProcess;
using sapsim_test::split;
using sapsim_test::text_of;
using sapsim_test::utf16;
using Rows = std::vector<std::vector<std::string>>;

constexpr RFC_PARAMETER end_parameters{nullptr, 0, 0, 0, nullptr};
constexpr RFC_TABLE end_tables{nullptr, 0, 0, 0, nullptr, 0, 0};

const std::string grp = "Z_VOK_GET_REQUEST_PARAMETERS";
const std::string genprog = "Z_VOK_GENPROG";
const std::string mdata = "Z_VOK_MDATA";
const std::string chunk = "Z_VOK_DATA_CHUNK";
const std::string getptab = "Z_VOK_GET_PARAMETER_TABLE";
const std::string own_handle = FunctionCaller::own_handle;

// The FIELD lines of one table of interface lines.
Lines fields_of(const Lines& interface, const std::string& table)
{
    Lines out;
    for (const std::string& line : interface)
        if (line.rfind("FIELD," + table + ",", 0) == 0)
            out.push_back(line);
    return out;
}

// FIELD lines as the "F,..." metadata lines that decode_record reads.
Lines as_metadata(const Lines& field_lines)
{
    Lines out;
    for (const std::string& line : field_lines)
        out.push_back("F," + line.substr(line.find(',', 6) + 1));
    return out;
}

Rows decode(const Lines& field_lines, const Lines& records)
{
    Rows rows;
    for (const std::string& record : records)
        rows.push_back(sapsim_test::decode_record(as_metadata(field_lines), record));
    return rows;
}

// Rows of a query on the store of a running sapsim, as text.
Rows query_store(const SapsimProcess& sim, const std::string& sql)
{
    sqlite3* db = nullptr;
    Rows rows;
    if (sqlite3_open_v2((sim.data_path() + "/sapsim.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sapsim::Statement s;
        EXPECT_TRUE(s.prepare(db, sql)) << sqlite3_errmsg(db) << "\n" << sql;
        while (s.step() == SQLITE_ROW) {
            rows.emplace_back();
            for (int i = 0; i < s.column_count(); ++i)
                rows.back().push_back(s.column_text(i));
        }
    } else {
        ADD_FAILURE() << "cannot open the store";
    }
    sqlite3_close(db);
    return rows;
}

bool ping(RFC_HANDLE handle)
{
    RFC_PARAMETER none[] = {end_parameters};
    RFC_TABLE no_tables[] = {end_tables};
    SAP_UC* exception = nullptr;
    return RfcCallReceive(handle, u"RFC_PING", none, none, no_tables, &exception) == RFC_OK;
}

const std::vector<std::string> all_modules = {"Z_VOK_ECHO",         "Z_VOK_FLIGHT_LIST", "Z_VOK_BOOKING_READ",
                                              "Z_VOK_READ_TABLE",   "Z_VOK_STREAM_TABLE", "Z_VOK_TABLE_FETCH",
                                              "Z_VOK_RAISE",        "Z_VOK_ABORT"};

// One sapsim for the suite; each test logs on anew.
class VokFunction : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RfcInit();
        sim_ = new SapsimProcess;
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

    // The interface lines of a module, as mode N with metadata asks for them.
    Lines interface_of(const std::string& module)
    {
        FunctionCaller server(handle_);
        EXPECT_EQ(server.dialog("M", module), RFC_OK) << module;
        return server.metadata;
    }

    static SapsimProcess* sim_;
    RFC_HANDLE handle_ = RFC_HANDLE_NULL;
};

SapsimProcess* VokFunction::sim_ = nullptr;

// ---------------------------------------------------------------- interfaces

TEST_F(VokFunction, InterfaceLinesOfTheFlightList)
{
    EXPECT_EQ(interface_of("Z_VOK_FLIGHT_LIST"),
              (Lines{"FUNCTION,Z_VOK_FLIGHT_LIST,Flights of airlines in a date range",
                     "PARAMETER,AIRLINE,E,C,6,0,X,Airline code (default LH)",
                     "PARAMETER,FROM_DATE,E,D,16,0,X,First flight date (initial: no limit)",
                     "PARAMETER,TO_DATE,E,D,16,0,X,Last flight date (initial: no limit)",
                     "PARAMETER,MAX_ROWS,E,I,4,0,X,Most flights returned (0: all)",
                     "PARAMETER,COUNT,I,I,4,0,,Flights returned",
                     "PARAMETER,CARRNAME,I,C,40,0,,Name of the airline AIRLINE",
                     "TABLE,CARRIERS,6,ZVOK_S_CARRID,Y,Further airlines whose flights are listed",
                     "FIELD,CARRIERS,CARRID,C,6,0,0,Airline code",
                     "TABLE,FLIGHTS,85,ZVOK_S_FLIGHT,N,The flights by airline  connection and date",
                     "FIELD,FLIGHTS,CARRID,C,6,0,0,Airline code",
                     "FIELD,FLIGHTS,CONNID,N,8,0,6,Flight connection",
                     "FIELD,FLIGHTS,FLDATE,D,16,0,14,Flight date",
                     "FIELD,FLIGHTS,PRICE,P,8,2,30,Airfare",
                     "FIELD,FLIGHTS,CURRENCY,C,10,0,38,Local currency of airline",
                     "FIELD,FLIGHTS,PLANETYPE,C,20,0,48,Aircraft type",
                     "FIELD,FLIGHTS,SEATSMAX,I,4,0,68,Maximum capacity",
                     "FIELD,FLIGHTS,SEATSOCC,I,4,0,72,Occupied seats",
                     "FIELD,FLIGHTS,PAYMENTSUM,P,9,2,76,Total of current bookings",
                     "EXCEPTION,INVALID_DATE,FROM_DATE or TO_DATE is no date or FROM_DATE lies after TO_DATE",
                     "EXCEPTION,TOO_MANY_ROWS,More flights than a table may return: give MAX_ROWS"}));
}

size_t fixed_bytes(char type)
{
    switch (type) {
    case 'D': return 16;
    case 'T': return 12;
    case 'I': return 4;
    case 's': return 2;
    case 'b': return 1;
    case 'F': return 8;
    default: return 0;
    }
}

class VokFunctionInterface : public VokFunction, public ::testing::WithParamInterface<std::string> {};

// What a client relies on to build its calls from the lines: their order and
// items, sizes that fit the types, fields inside their lines.
TEST_P(VokFunctionInterface, LinesFollowTheInterfaceFormat)
{
    const Lines lines = interface_of(GetParam());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().rfind("FUNCTION," + GetParam() + ",", 0), 0u) << lines.front();
    const std::map<std::string, size_t> items = {{"PARAMETER", 8}, {"TABLE", 6}, {"FIELD", 8}, {"EXCEPTION", 3}};
    const std::vector<std::string> order = {"FUNCTION", "PARAMETER", "TABLE", "EXCEPTION"};
    size_t stage = 0, line_bytes = 0, field_end = 0;
    std::string table;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        SCOPED_TRACE(line);
        EXPECT_LT(line.size(), 256u);
        Lines f = split(line);
        if (line.back() == ',')
            f.push_back("");
        ASSERT_TRUE(items.count(f[0]));
        EXPECT_EQ(f.size(), items.at(f[0]));
        if (f[0] == "FIELD") {
            ASSERT_EQ(f[1], table) << "a FIELD line follows its TABLE line";
            const size_t bytes = std::stoul(f[4]), offset = std::stoul(f[6]);
            EXPECT_GE(offset, field_end);
            EXPECT_LE(offset + bytes, line_bytes);
            if (fixed_bytes(f[3][0]) != 0) {
                EXPECT_EQ(bytes, fixed_bytes(f[3][0]));
            }
            field_end = offset + bytes;
            continue;
        }
        const size_t at = std::find(order.begin(), order.end(), f[0]) - order.begin();
        EXPECT_GE(at, stage) << "out of order";
        stage = at;
        if (f[0] == "PARAMETER") {
            EXPECT_TRUE(f[2] == "E" || f[2] == "I");
            EXPECT_TRUE(f[6] == "X" || f[6].empty());
            if (fixed_bytes(f[3][0]) != 0) {
                EXPECT_EQ(std::stoul(f[4]), fixed_bytes(f[3][0]));
            }
        } else if (f[0] == "TABLE") {
            table = f[1];
            line_bytes = std::stoul(f[2]);
            field_end = 0;
            EXPECT_TRUE(f[4] == "Y" || f[4] == "N");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Modules, VokFunctionInterface, ::testing::ValuesIn(all_modules),
                         [](const auto& test) { return test.param; });

struct UnknownCase {
    const char* label;
    std::string func_flag;
    std::string function;
};

void PrintTo(const UnknownCase& c, std::ostream* os)
{
    *os << c.label;
}

class VokFunctionUnknown : public VokFunction, public ::testing::WithParamInterface<UnknownCase> {};

TEST_P(VokFunctionUnknown, RaisesFunctionNotFoundAfterTheProgram)
{
    FunctionCaller server(handle_);
    EXPECT_EQ(server.dialog(GetParam().func_flag, GetParam().function, "Y"), RFC_EXCEPTION);
    EXPECT_EQ(server.exception, "FUNCTION_NOT_FOUND");
    EXPECT_EQ(server.callbacks, (Lines{grp, genprog}));
    ASSERT_FALSE(server.program.empty());
    EXPECT_EQ(server.program.back(),
              "* Function module " + GetParam().function + " not found: the module raises FUNCTION_NOT_FOUND");
    EXPECT_TRUE(ping(handle_)) << "the connection stays usable";
}

INSTANTIATE_TEST_SUITE_P(Requests, VokFunctionUnknown,
                         ::testing::Values(UnknownCase{"Metadata", "M", "BAPI_USER_GET_DETAIL"},
                                           UnknownCase{"Data", "D", "BAPI_USER_GET_DETAIL"},
                                           UnknownCase{"Both", "B", "Z_VOK_NOTHING"},
                                           UnknownCase{"Neither", " ", "BAPI_USER_GET_DETAIL"},
                                           UnknownCase{"ModuleWithoutDescription", "M", "RFC_PING"},
                                           UnknownCase{"NameInLowerCase", "M", "z_vok_echo"}),
                         [](const auto& test) { return std::string(test.param.label); });

// ---------------------------------------------------------------- mode N

struct FlagCase {
    const char* label;
    std::string func_flag;
    Lines callbacks;
    bool metadata;
    bool rows;
};

void PrintTo(const FlagCase& c, std::ostream* os)
{
    *os << c.label;
}

class VokFunctionDialog : public VokFunction, public ::testing::WithParamInterface<FlagCase> {};

// The flight list with its defaults lists the flights of LH: 156 lines of 85
// bytes, 117 to a chunk of at most 10000 bytes.
TEST_P(VokFunctionDialog, FlightListByFlag)
{
    FunctionCaller server(handle_);
    ASSERT_EQ(server.dialog(GetParam().func_flag, "Z_VOK_FLIGHT_LIST"), RFC_OK)
        << sapsim_test::describe(sapsim_test::last_error());
    EXPECT_EQ(server.callbacks, GetParam().callbacks);
    EXPECT_EQ(!server.metadata.empty(), GetParam().metadata);
    if (GetParam().metadata) {
        EXPECT_EQ(server.metadata, interface_of("Z_VOK_FLIGHT_LIST"));
    }
    if (!GetParam().rows) {
        EXPECT_TRUE(server.chunks.empty());
        return;
    }
    const Lines fields = fields_of(interface_of("Z_VOK_FLIGHT_LIST"), "FLIGHTS");
    ASSERT_EQ(server.chunks.size(), 2u);
    for (size_t c = 0; c < 2; ++c) {
        EXPECT_EQ(server.chunks[c].dhandle, own_handle);
        EXPECT_EQ(server.chunks[c].table_name, "FLIGHTS");
        EXPECT_EQ(server.chunks[c].line_bytes, 85u);
        EXPECT_EQ(server.chunks[c].end_of_data, c == 1 ? 'X' : ' ');
        EXPECT_EQ(server.chunks[c].mtab, c == 0 ? fields : Lines{}) << "FIELD lines come with the first chunk";
    }
    EXPECT_EQ(server.chunks[0].rows.size(), 117u);
    EXPECT_EQ(decode(fields, server.rows()),
              query_store(*sim_, "SELECT CARRID, CONNID, FLDATE, PRICE, CURRENCY, PLANETYPE, SEATSMAX, SEATSOCC, "
                                 "PAYMENTSUM FROM SFLIGHT WHERE MANDT = '100' AND CARRID = 'LH' ORDER BY CONNID, FLDATE"));
}

INSTANTIATE_TEST_SUITE_P(Flags, VokFunctionDialog,
                         ::testing::Values(FlagCase{"Metadata", "M", {grp, mdata}, true, false},
                                           FlagCase{"Both", "B", {grp, mdata, chunk, chunk}, true, true},
                                           FlagCase{"Data", "D", {grp, chunk, chunk}, false, true},
                                           FlagCase{"Neither", " ", {grp}, false, false}),
                         [](const auto& test) { return std::string(test.param.label); });

TEST_F(VokFunction, DialogProgramLinesNameTheModule)
{
    FunctionCaller server(handle_);
    ASSERT_EQ(server.dialog("B", "Z_VOK_ECHO", "Y"), RFC_OK);
    EXPECT_EQ(server.callbacks, (Lines{grp, genprog, mdata}));
    EXPECT_EQ(server.program, (Lines{"* /VOK/Z_VOK_DIALOG: request B (data and metadata)",
                                     "* System SIM, client 100, user DEMO",
                                     "* Read report /VOK/Z_VOK_READ, variant none", "* Function Z_VOK_ECHO",
                                     "* Block size 00000000", "* Data handle " + own_handle,
                                     "* Function module Z_VOK_ECHO: Connection test: echoes a text",
                                     "* Its interface follows",
                                     "* It runs with its default parameters; its tables follow as data chunks"}));
}

// Every returned table in interface order, input-only ones left out; only
// the very last chunk ends the data.
TEST_F(VokFunction, DialogStreamsEveryReturnedTable)
{
    FunctionCaller server(handle_);
    ASSERT_EQ(server.dialog("D", "Z_VOK_READ_TABLE"), RFC_OK) << sapsim_test::describe(sapsim_test::last_error());
    // FIELDS: 5 lines (MANDT CARRID CARRNAME CURRCODE URL); DATA: the 10
    // airlines of client 100 in lines of 1024 bytes, 9 to a chunk.
    const Lines interface = interface_of("Z_VOK_READ_TABLE");
    ASSERT_EQ(server.chunks.size(), 3u);
    const std::vector<std::tuple<std::string, size_t, char, Lines>> expected = {
        {"FIELDS", 5, ' ', fields_of(interface, "FIELDS")},
        {"DATA", 9, ' ', fields_of(interface, "DATA")},
        {"DATA", 1, 'X', {}}};
    for (size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(server.chunks[c].table_name, std::get<0>(expected[c]));
        EXPECT_EQ(server.chunks[c].rows.size(), std::get<1>(expected[c]));
        EXPECT_EQ(server.chunks[c].end_of_data, std::get<2>(expected[c]));
        EXPECT_EQ(server.chunks[c].mtab, std::get<3>(expected[c]));
    }

    // An empty returned table still goes, as one chunk without rows.
    FunctionCaller fetch(handle_);
    ASSERT_EQ(fetch.dialog("D", "Z_VOK_TABLE_FETCH"), RFC_OK);
    EXPECT_EQ(fetch.callbacks, (Lines{grp, getptab, chunk}));
    ASSERT_EQ(fetch.chunks.size(), 1u);
    EXPECT_EQ(fetch.chunks[0].table_name, "FETCHED");
    EXPECT_TRUE(fetch.chunks[0].rows.empty());
    EXPECT_EQ(fetch.chunks[0].end_of_data, 'X');
    ASSERT_EQ(fetch.fetches.size(), 1u);
    EXPECT_EQ(fetch.fetches[0], std::make_pair(std::string("INPUT"), own_handle)) << "the request's data handle";
}

TEST_F(VokFunction, DialogRunsTheModuleOnItsOwnConnection)
{
    // FUNC_FLAG blank runs the module and sends nothing back ...
    FunctionCaller quiet(handle_);
    ASSERT_EQ(quiet.dialog(" ", "Z_VOK_ECHO"), RFC_OK);
    EXPECT_EQ(quiet.callbacks, (Lines{grp}));
    // ... the count of the connection shows that it ran.
    FunctionCaller direct(handle_);
    direct.received_sizes = {{"CALLS", 4}};
    ASSERT_EQ(direct.call("Z_VOK_ECHO"), RFC_OK);
    EXPECT_EQ(int4_of(direct.received["CALLS"]), 2);

    // The stream goes to the request's data handle without a DHANDLE of its own.
    FunctionCaller stream(handle_);
    ASSERT_EQ(stream.dialog("D", "Z_VOK_STREAM_TABLE"), RFC_OK);
    ASSERT_FALSE(stream.chunks.empty());
    EXPECT_EQ(stream.chunks.front().dhandle, own_handle);
    EXPECT_EQ(stream.chunks.front().table_name, "SCARR");
    EXPECT_EQ(stream.chunks.back().end_of_data, 'X');
    EXPECT_EQ(stream.rows().size(), 10u);
}

TEST_F(VokFunction, DialogEndsAsTheModuleEnds)
{
    FunctionCaller raised(handle_);
    EXPECT_EQ(raised.dialog("D", "Z_VOK_RAISE"), RFC_EXCEPTION);
    EXPECT_EQ(raised.exception, "RAISED");
    EXPECT_TRUE(raised.chunks.empty());

    FunctionCaller killed(handle_);
    killed.raise_at_chunk = 1;
    killed.chunk_exception = "KILLED_BY_VOK";
    EXPECT_EQ(killed.dialog("B", "Z_VOK_FLIGHT_LIST"), RFC_EXCEPTION);
    EXPECT_EQ(killed.exception, "KILLED_BY_VOK");
    EXPECT_EQ(killed.callbacks, (Lines{grp, mdata, chunk}));
    EXPECT_TRUE(ping(handle_));

    FunctionCaller failed(handle_);
    EXPECT_EQ(failed.dialog("D", "Z_VOK_ABORT"), RFC_SYS_EXCEPTION);
    EXPECT_EQ(sapsim_test::trimmed(sapsim_test::last_error().key, RFC_ERROR_KEY_LN), "COMPUTE_INT_ZERODIVIDE");
    EXPECT_FALSE(ping(handle_)) << "a system failure ends the connection";
}

// ---------------------------------------------------------------- mode Y

TEST_F(VokFunction, EchoCountsTheCallsOfItsConnection)
{
    const auto echo = [](RFC_HANDLE handle, const std::string& text, std::string& answer) {
        FunctionCaller server(handle);
        server.sent = {{"TEXT", utf16(text, text.size())}};
        server.received_sizes = {{"ECHO", 160}, {"CALLS", 4}};
        EXPECT_EQ(server.call("Z_VOK_ECHO"), RFC_OK) << sapsim_test::describe(sapsim_test::last_error());
        answer = server.received["ECHO"];
        return int4_of(server.received["CALLS"]);
    };
    std::string answer;
    EXPECT_EQ(echo(handle_, "Hello, system", answer), 1);
    EXPECT_EQ(answer, utf16("Hello, system", 80)) << "a shorter value is padded with blanks";
    EXPECT_EQ(echo(handle_, "again", answer), 2) << "the state stays with the connection";
    EXPECT_EQ(text_of(answer), "again");

    const RFC_HANDLE other = sim_->open_demo();
    ASSERT_NE(other, RFC_HANDLE_NULL);
    EXPECT_EQ(echo(other, "elsewhere", answer), 1) << "another connection counts for itself";
    RfcClose(other);
    EXPECT_EQ(echo(handle_, "third", answer), 3);
}

const std::string flight_columns = "CARRID, CONNID, FLDATE, PRICE, CURRENCY, PLANETYPE, SEATSMAX, SEATSOCC, PAYMENTSUM";

// A flight list call as the server makes it for a client's document.
FunctionCaller flight_list(RFC_HANDLE handle, const Lines& interface, const std::string& airline)
{
    FunctionCaller server(handle);
    server.sent = {{"AIRLINE", utf16(airline, 3)}};
    server.received_sizes = {{"COUNT", 4}, {"CARRNAME", 40}};
    server.tables = {CallTable{"CARRIERS", 6, {}, fields_of(interface, "CARRIERS")},
                     CallTable{"FLIGHTS", 85, {}, fields_of(interface, "FLIGHTS")}};
    return server;
}

TEST_F(VokFunction, FlightListReturnsTwoValuesAndTheFlights)
{
    const Lines interface = interface_of("Z_VOK_FLIGHT_LIST");
    FunctionCaller server = flight_list(handle_, interface, "LH");
    server.sent.push_back({"MAX_ROWS", int4(3), false});
    ASSERT_EQ(server.call("Z_VOK_FLIGHT_LIST"), RFC_OK) << sapsim_test::describe(sapsim_test::last_error());
    EXPECT_EQ(int4_of(server.received["COUNT"]), 3);
    EXPECT_EQ(text_of(server.received["CARRNAME"]), "Lufthansa");
    EXPECT_EQ(decode(fields_of(interface, "FLIGHTS"), server.returned["FLIGHTS"]),
              query_store(*sim_, "SELECT " + flight_columns +
                                     " FROM SFLIGHT WHERE MANDT = '100' AND CARRID = 'LH' ORDER BY CONNID, FLDATE LIMIT 3"));
    EXPECT_TRUE(server.callbacks.empty());
}

TEST_F(VokFunction, FlightListReadsItsInputTableAndDateRange)
{
    const Lines interface = interface_of("Z_VOK_FLIGHT_LIST");
    FunctionCaller server = flight_list(handle_, interface, "LH");
    server.tables[0].lines = {utf16("AA", 3), utf16("LH", 3), utf16("QF", 3)};
    server.sent.push_back({"FROM_DATE", utf16("20260301", 8)});
    server.sent.push_back({"TO_DATE", utf16("20260331", 8)});
    ASSERT_EQ(server.call("Z_VOK_FLIGHT_LIST"), RFC_OK) << sapsim_test::describe(sapsim_test::last_error());
    const Rows expected = query_store(*sim_, "SELECT " + flight_columns +
                                                 " FROM SFLIGHT WHERE MANDT = '100' AND CARRID IN ('AA', 'LH', 'QF')"
                                                 " AND FLDATE BETWEEN '20260301' AND '20260331'"
                                                 " ORDER BY CARRID, CONNID, FLDATE");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(decode(fields_of(interface, "FLIGHTS"), server.returned["FLIGHTS"]), expected);
    EXPECT_EQ(int4_of(server.received["COUNT"]), static_cast<int>(expected.size()));
    EXPECT_EQ(server.returned["CARRIERS"].size(), 3u) << "the input table is read, not changed";
}

TEST_F(VokFunction, FlightListOfNoFlightsReturnsAnEmptyTable)
{
    const Lines interface = interface_of("Z_VOK_FLIGHT_LIST");
    FunctionCaller server = flight_list(handle_, interface, "XX");
    server.tables[0].lines = {utf16("YY", 3)};
    ASSERT_EQ(server.call("Z_VOK_FLIGHT_LIST"), RFC_OK);
    EXPECT_EQ(int4_of(server.received["COUNT"]), 0);
    EXPECT_EQ(text_of(server.received["CARRNAME"]), "");
    EXPECT_TRUE(server.returned["FLIGHTS"].empty());
}

TEST_F(VokFunction, FlightListRefusesADateRangeTheWrongWayRound)
{
    FunctionCaller server = flight_list(handle_, interface_of("Z_VOK_FLIGHT_LIST"), "LH");
    server.sent.push_back({"FROM_DATE", utf16("20260401", 8)});
    server.sent.push_back({"TO_DATE", utf16("20260301", 8)});
    EXPECT_EQ(server.call("Z_VOK_FLIGHT_LIST"), RFC_EXCEPTION);
    EXPECT_EQ(server.exception, "INVALID_DATE");
    EXPECT_TRUE(ping(handle_));
}

// Lines of another length than the module's, as a client's intlen may give
// them: the module reads them in its own layout.
TEST_F(VokFunction, StructuredLinesOfAnotherLengthAreRead)
{
    FunctionCaller server = flight_list(handle_, interface_of("Z_VOK_FLIGHT_LIST"), "");
    server.tables[0] = CallTable{"CARRIERS", 4, {utf16("QF", 2)}, {"FIELD,CARRIERS,CARRID,C,4,0,0,Airline code"}};
    ASSERT_EQ(server.call("Z_VOK_FLIGHT_LIST"), RFC_OK);
    EXPECT_EQ(int4_of(server.received["COUNT"]), 156);
}

TEST_F(VokFunction, BookingReadReturnsTheBookingsOfTheFlightsAsked)
{
    const Lines interface = interface_of("Z_VOK_BOOKING_READ");
    const Rows flights = query_store(*sim_, "SELECT DISTINCT CARRID, CONNID, FLDATE FROM SBOOK WHERE MANDT = '100' "
                                            "ORDER BY CARRID DESC, CONNID, FLDATE LIMIT 2");
    ASSERT_EQ(flights.size(), 2u);
    FunctionCaller server(handle_);
    server.received_sizes = {{"COUNT", 4}};
    CallTable keys{"FLIGHT_KEYS", 30, {}, fields_of(interface, "FLIGHT_KEYS")};
    for (const auto& f : flights)
        keys.lines.push_back(utf16(f[0], 3) + utf16(f[1], 4) + utf16(f[2], 8));
    server.tables = {keys, CallTable{"BOOKINGS", 164, {}, fields_of(interface, "BOOKINGS")}};
    ASSERT_EQ(server.call("Z_VOK_BOOKING_READ"), RFC_OK) << sapsim_test::describe(sapsim_test::last_error());
    const Rows expected = query_store(
        *sim_, "SELECT CARRID, CONNID, FLDATE, BOOKID, CUSTOMID, CLASS, LUGGWEIGHT, WUNIT, FORCURAM, FORCURKEY, "
               "ORDER_DATE, CANCELLED, PASSNAME FROM SBOOK WHERE MANDT = '100' AND ((CARRID = '" + flights[0][0] +
               "' AND CONNID = '" + flights[0][1] + "' AND FLDATE = '" + flights[0][2] + "') OR (CARRID = '" +
               flights[1][0] + "' AND CONNID = '" + flights[1][1] + "' AND FLDATE = '" + flights[1][2] +
               "')) ORDER BY CARRID, CONNID, FLDATE, BOOKID");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(decode(fields_of(interface, "BOOKINGS"), server.returned["BOOKINGS"]), expected);
    EXPECT_EQ(int4_of(server.received["COUNT"]), static_cast<int>(expected.size()));
}

struct LimitCase {
    const char* label;
    std::optional<std::int32_t> max_rows;  // nullopt: not sent
    int rows;
};

void PrintTo(const LimitCase& c, std::ostream* os)
{
    *os << c.label;
}

class VokFunctionBookingLimit : public VokFunction, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(VokFunctionBookingLimit, WithoutKeysAllFlightsUpToMaxRows)
{
    FunctionCaller server(handle_);
    if (GetParam().max_rows)
        server.sent = {{"MAX_ROWS", int4(*GetParam().max_rows), false}};
    server.received_sizes = {{"COUNT", 4}};
    server.tables = {CallTable{"BOOKINGS", 164, {}, {}}};
    ASSERT_EQ(server.call("Z_VOK_BOOKING_READ"), RFC_OK);
    EXPECT_EQ(int4_of(server.received["COUNT"]), GetParam().rows);
    EXPECT_EQ(server.returned["BOOKINGS"].size(), static_cast<size_t>(GetParam().rows));
}

INSTANTIATE_TEST_SUITE_P(MaxRows, VokFunctionBookingLimit,
                         ::testing::Values(LimitCase{"Default", std::nullopt, 100}, LimitCase{"Some", 7, 7},
                                           LimitCase{"All", 0, 1000}),
                         [](const auto& test) { return std::string(test.param.label); });

// A read-table call as the server makes it.
FunctionCaller read_table(RFC_HANDLE handle, const std::string& table, const Lines& fields, const Lines& options)
{
    FunctionCaller server(handle);
    server.sent = {{"QUERY_TABLE", utf16(table, 30)}};
    server.tables = {CallTable{"OPTIONS", 144, {}, {}}, CallTable{"FIELDS", 206, {}, {}},
                     CallTable{"DATA", 1024, {}, {}}};
    for (const std::string& f : fields)
        server.tables[1].lines.push_back(utf16(f, 103));
    for (const std::string& o : options)
        server.tables[0].lines.push_back(utf16(o, 72));
    return server;
}

Lines texts(const Lines& lines)
{
    Lines out;
    for (const std::string& line : lines)
        out.push_back(text_of(line));
    return out;
}

TEST_F(VokFunction, ReadTableReturnsRowsAsTextWithTheirFields)
{
    FunctionCaller server = read_table(handle_, "scarr", {"CARRID", "CARRNAME"}, {"CARRID LIKE 'A%'", "OR CARRID = 'LH'"});
    server.sent.push_back({"DELIMITER", utf16("|", 1)});
    ASSERT_EQ(server.call("Z_VOK_READ_TABLE"), RFC_OK) << sapsim_test::describe(sapsim_test::last_error());
    EXPECT_EQ(texts(server.returned["FIELDS"]),
              (Lines{"CARRID                        000000000003CAirline code",
                     "CARRNAME                      000004000020CAirline name"}));
    EXPECT_EQ(texts(server.returned["DATA"]), (Lines{"AA |American Airlines", "AC |Air Canada", "AF |Air France",
                                                     "AZ |Alitalia", "LH |Lufthansa"}));
}

TEST_F(VokFunction, ReadTableSkipsAndCountsRows)
{
    FunctionCaller all = read_table(handle_, "SCARR", {"CARRID"}, {});
    ASSERT_EQ(all.call("Z_VOK_READ_TABLE"), RFC_OK);
    ASSERT_EQ(all.returned["DATA"].size(), 10u);

    FunctionCaller some = read_table(handle_, "SCARR", {"CARRID"}, {});
    some.sent.push_back({"ROWSKIPS", int4(2), false});
    some.sent.push_back({"ROWCOUNT", int4(3), false});
    ASSERT_EQ(some.call("Z_VOK_READ_TABLE"), RFC_OK);
    EXPECT_EQ(some.returned["DATA"], Lines(all.returned["DATA"].begin() + 2, all.returned["DATA"].begin() + 5));

    FunctionCaller none = read_table(handle_, "SCARR", {}, {});
    none.sent.push_back({"NO_DATA", utf16("X", 1)});
    ASSERT_EQ(none.call("Z_VOK_READ_TABLE"), RFC_OK);
    EXPECT_TRUE(none.returned["DATA"].empty());
    EXPECT_EQ(none.returned["FIELDS"].size(), 5u) << "all fields, the client included";
}

struct ReadErrorCase {
    const char* label;
    std::string table;
    Lines fields, options;
    std::string exception;
};

void PrintTo(const ReadErrorCase& c, std::ostream* os)
{
    *os << c.label;
}

class VokFunctionReadErrors : public VokFunction, public ::testing::WithParamInterface<ReadErrorCase> {};

TEST_P(VokFunctionReadErrors, RaisesTheClassicExceptions)
{
    FunctionCaller server = read_table(handle_, GetParam().table, GetParam().fields, GetParam().options);
    EXPECT_EQ(server.call("Z_VOK_READ_TABLE"), RFC_EXCEPTION);
    EXPECT_EQ(server.exception, GetParam().exception);
    EXPECT_TRUE(ping(handle_));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, VokFunctionReadErrors,
    ::testing::Values(ReadErrorCase{"NoTable", "ZNOTHING", {}, {}, "TABLE_NOT_AVAILABLE"},
                      ReadErrorCase{"UnknownField", "SCARR", {"CARRID", "CARNAME"}, {}, "FIELD_NOT_VALID"},
                      ReadErrorCase{"BadCondition", "SCARR", {}, {"CARRID = "}, "OPTION_NOT_VALID"},
                      ReadErrorCase{"UnknownFieldInCondition", "SCARR", {}, {"CARID = 'LH'"}, "OPTION_NOT_VALID"},
                      ReadErrorCase{"InjectedSql", "SCARR", {}, {"CARRID = 'LH'; DROP TABLE SCARR"},
                                    "OPTION_NOT_VALID"}),
    [](const auto& test) { return std::string(test.param.label); });

// A table whose rows take 607 characters: the read table refuses the row as
// the classic module does, a select reads it.
TEST_F(VokFunction, ReadTableKeepsTheClassicRowLimitThatSelectsDoNotHave)
{
    vurude::test::TempDir files;
    std::ofstream(files.path() + "/dict.csv") << "TABNAME,FIELDNAME,POSITION,KEYFLAG,INTTYPE,LENG,DECIMALS,DDTEXT\n"
                                                 "ZWIDE,MANDT,1,X,C,3,0,Client\n"
                                                 "ZWIDE,ID,2,X,N,4,0,Number\n"
                                                 "ZWIDE,NOTE,3,,C,300,0,Note\n"
                                                 "ZWIDE,MEMO,4,,C,300,0,Memo\n";
    std::ofstream(files.path() + "/ZWIDE.csv") << "MANDT,ID,NOTE,MEMO\n100,1,first,memo one\n100,2,second,memo two\n";
    vurude::test::ChildProcess load;
    std::string error;
    ASSERT_TRUE(load.start({SAPSIM_EXE, "load", "--data", sim_->data_path(), "--dictionary",
                            files.path() + "/dict.csv", files.path() + "/ZWIDE.csv"},
                           error))
        << error;
    const std::optional<int> status = load.wait_exit(std::chrono::seconds(60));
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << load.stderr_text();

    FunctionCaller whole = read_table(handle_, "ZWIDE", {}, {});
    EXPECT_EQ(whole.call("Z_VOK_READ_TABLE"), RFC_EXCEPTION);
    EXPECT_EQ(whole.exception, "DATA_BUFFER_EXCEEDED");

    FunctionCaller part = read_table(handle_, "ZWIDE", {"ID", "NOTE"}, {});
    ASSERT_EQ(part.call("Z_VOK_READ_TABLE"), RFC_OK);
    EXPECT_EQ(texts(part.returned["DATA"]), (Lines{"0001first", "0002second"}));

    sapsim_test::ReadCaller select(handle_);
    select.jdata = {"sselect", "T,ZWIDE,,"};
    select.mdata = {"ZWIDE,*"};
    ASSERT_EQ(select.call(), RFC_OK) << sapsim_test::describe(sapsim_test::last_error());
    ASSERT_EQ(select.records().size(), 2u);
    EXPECT_EQ(sapsim_test::decode_record(select.metadata, select.records()[1]),
              (Lines{"0002", "second", "memo two"}));
}

// ---------------------------------------------------------------- callbacks

FunctionCaller stream_call(RFC_HANDLE handle, const std::string& dhandle, std::int32_t block_size)
{
    FunctionCaller server(handle);
    server.sent = {{"QUERY_TABLE", utf16("SCARR", 5)}, {"DHANDLE", utf16(dhandle, dhandle.size())},
                   {"BLOCKSIZE", int4(block_size), false}};
    server.received_sizes = {{"ROWS", 4}, {"CHUNKS", 4}};
    return server;
}

// SCARR records take 566 bytes: a block of 1200 bytes holds two.
TEST_F(VokFunction, StreamSendsChunksToTheHandleItIsGiven)
{
    const std::string other = "0043000055D1C0A85678";
    FunctionCaller server = stream_call(handle_, other, 1200);
    ASSERT_EQ(server.call("Z_VOK_STREAM_TABLE"), RFC_OK) << sapsim_test::describe(sapsim_test::last_error());
    ASSERT_EQ(server.chunks.size(), 5u);
    ASSERT_FALSE(server.chunks[0].mtab.empty());
    for (size_t c = 0; c < server.chunks.size(); ++c) {
        EXPECT_EQ(server.chunks[c].dhandle, other);
        EXPECT_EQ(server.chunks[c].table_name, "SCARR");
        EXPECT_EQ(server.chunks[c].rows.size(), 2u);
        EXPECT_EQ(server.chunks[c].end_of_data, c + 1 == server.chunks.size() ? 'X' : ' ');
        if (c > 0) {
            EXPECT_TRUE(server.chunks[c].mtab.empty());
        }
    }
    EXPECT_EQ(server.chunks[0].mtab, (Lines{"FIELD,SCARR,CARRID,C,6,0,0,Airline code",
                                            "FIELD,SCARR,CARRNAME,C,40,0,6,Airline name",
                                            "FIELD,SCARR,CURRCODE,C,10,0,46,Local currency of airline",
                                            "FIELD,SCARR,URL,C,510,0,56,Airline URL"}));
    EXPECT_EQ(decode(server.chunks[0].mtab, server.rows()),
              query_store(*sim_, "SELECT CARRID, CARRNAME, CURRCODE, URL FROM SCARR WHERE MANDT = '100' ORDER BY CARRID"));
    EXPECT_EQ(int4_of(server.received["ROWS"]), 10);
    EXPECT_EQ(int4_of(server.received["CHUNKS"]), 5);

    FunctionCaller counted = stream_call(handle_, other, 0);
    counted.sent.push_back({"ROWCOUNT", int4(3), false});
    ASSERT_EQ(counted.call("Z_VOK_STREAM_TABLE"), RFC_OK);
    ASSERT_EQ(counted.chunks.size(), 1u);
    EXPECT_EQ(counted.chunks[0].rows.size(), 3u);
    EXPECT_EQ(counted.chunks[0].end_of_data, 'X');
}

struct StreamStopCase {
    const char* label;
    int raise_at_chunk;
    std::string exception;
};

void PrintTo(const StreamStopCase& c, std::ostream* os)
{
    *os << c.label;
}

class VokFunctionStreamStop : public VokFunction, public ::testing::WithParamInterface<StreamStopCase> {};

TEST_P(VokFunctionStreamStop, AnExceptionOfTheServerEndsTheStream)
{
    FunctionCaller server = stream_call(handle_, "9999UNKNOWN", 1200);
    server.raise_at_chunk = GetParam().raise_at_chunk;
    server.chunk_exception = GetParam().exception;
    EXPECT_EQ(server.call("Z_VOK_STREAM_TABLE"), RFC_EXCEPTION);
    EXPECT_EQ(server.exception, GetParam().exception);
    EXPECT_EQ(server.chunks.size(), static_cast<size_t>(GetParam().raise_at_chunk)) << "nothing after the exception";
    EXPECT_TRUE(ping(handle_));
}

INSTANTIATE_TEST_SUITE_P(Exceptions, VokFunctionStreamStop,
                         ::testing::Values(StreamStopCase{"UnknownHandle", 1, "INVALID_DATA_HANDLE"},
                                           StreamStopCase{"DataConnectionGone", 3, "KILLED_BY_VOK"}),
                         [](const auto& test) { return std::string(test.param.label); });

TEST_F(VokFunction, StreamWithoutHandleRaisesNoDataHandle)
{
    FunctionCaller server = stream_call(handle_, "", 0);
    EXPECT_EQ(server.call("Z_VOK_STREAM_TABLE"), RFC_EXCEPTION);
    EXPECT_EQ(server.exception, "NO_DATA_HANDLE");
    EXPECT_TRUE(server.callbacks.empty());
}

TEST_F(VokFunction, TableFetchAsksTheCallerForARequestTable)
{
    const Lines interface = interface_of("Z_VOK_TABLE_FETCH");
    FunctionCaller server(handle_);
    server.sent = {{"TABNAME", utf16("INPUT", 5)}, {"DHANDLE", utf16(own_handle, own_handle.size())}};
    server.received_sizes = {{"LINES", 4}, {"LINE_BYTES", 4}};
    server.tables = {CallTable{"INPUT", 144, {utf16("first", 72), utf16("second", 72), utf16("third", 72)},
                               fields_of(interface, "INPUT")},
                     CallTable{"FETCHED", 512, {}, fields_of(interface, "FETCHED")}};
    ASSERT_EQ(server.call("Z_VOK_TABLE_FETCH"), RFC_OK) << sapsim_test::describe(sapsim_test::last_error());
    EXPECT_EQ(server.callbacks, (Lines{getptab}));
    ASSERT_EQ(server.fetches.size(), 1u);
    EXPECT_EQ(server.fetches[0], std::make_pair(std::string("INPUT"), own_handle));
    EXPECT_EQ(int4_of(server.received["LINES"]), 3);
    EXPECT_EQ(int4_of(server.received["LINE_BYTES"]), 144);
    EXPECT_EQ(server.returned["FETCHED"],
              (Lines{utf16("first", 256), utf16("second", 256), utf16("third", 256)}));

    FunctionCaller refused(handle_);
    refused.fetch_exception = "NO_SUCH_TABLE";
    EXPECT_EQ(refused.call("Z_VOK_TABLE_FETCH"), RFC_EXCEPTION);
    EXPECT_EQ(refused.exception, "NO_SUCH_TABLE") << "the caller's exception is raised again";
}

// ---------------------------------------------------------------- endings

struct RaiseCase {
    const char* label;
    std::optional<std::string> exception;  // nullopt: not sent
    std::string raised;
};

void PrintTo(const RaiseCase& c, std::ostream* os)
{
    *os << c.label;
}

class VokFunctionRaise : public VokFunction, public ::testing::WithParamInterface<RaiseCase> {};

TEST_P(VokFunctionRaise, RaisesTheNamedException)
{
    FunctionCaller server(handle_);
    if (GetParam().exception)
        server.sent = {{"EXCEPTION", utf16(*GetParam().exception, 30)}};
    EXPECT_EQ(server.call("Z_VOK_RAISE"), RFC_EXCEPTION);
    EXPECT_EQ(server.exception, GetParam().raised);
    EXPECT_TRUE(ping(handle_)) << "an exception leaves the connection usable";
}

INSTANTIATE_TEST_SUITE_P(Names, VokFunctionRaise,
                         ::testing::Values(RaiseCase{"Default", std::nullopt, "RAISED"},
                                           RaiseCase{"Blank", "", "RAISED"},
                                           RaiseCase{"Listed", "NOT_FOUND", "NOT_FOUND"},
                                           RaiseCase{"Other", "ANY_OTHER", "ANY_OTHER"}),
                         [](const auto& test) { return std::string(test.param.label); });

TEST_F(VokFunction, AbortEndsTheConnectionAndANewOneStartsAfresh)
{
    FunctionCaller first(handle_);
    first.received_sizes = {{"CALLS", 4}};
    ASSERT_EQ(first.call("Z_VOK_ECHO"), RFC_OK);

    FunctionCaller server(handle_);
    server.sent = {{"KEY", utf16("ZVOK_DUMP", 9)}, {"MESSAGE", utf16("Stopped on purpose", 18)}};
    EXPECT_EQ(server.call("Z_VOK_ABORT"), RFC_SYS_EXCEPTION);
    const RFC_ERROR_INFO_EX error = sapsim_test::last_error();
    EXPECT_EQ(sapsim_test::trimmed(error.key, RFC_ERROR_KEY_LN), "ZVOK_DUMP");
    EXPECT_EQ(sapsim_test::trimmed(error.message, RFC_ERROR_MESSAGE_LN), "Stopped on purpose");
    EXPECT_FALSE(ping(handle_));

    RfcClose(handle_);
    handle_ = sim_->open_demo();
    ASSERT_NE(handle_, RFC_HANDLE_NULL);
    FunctionCaller again(handle_);
    again.received_sizes = {{"CALLS", 4}};
    ASSERT_EQ(again.call("Z_VOK_ECHO"), RFC_OK);
    EXPECT_EQ(int4_of(again.received["CALLS"]), 1) << "the new connection has a state of its own";
}

} // namespace
