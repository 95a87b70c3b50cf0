// The read report's statement translation over a small store: each decoded
// statement runs and must return what a hand-written SQLite query returns
// on the same data; statements that cannot run are refused with a message
// that names the fault; client text never becomes SQL.
#include "sapsim/dictionary.h"
#include "sapsim/read/record_encoder.h"
#include "sapsim/read/record_layout.h"
#include "sapsim/read/select_request.h"
#include "sapsim/read/sql_builder.h"
#include "sapsim/read/sql_functions.h"
#include "sapsim/sqlite_statement.h"
#include "sapsim/store.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Rows = std::vector<std::vector<std::string>>;
using Lines = std::vector<std::string>;

class Statements : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new vurude::test::TempDir;
        sapsim::StoreOptions options;
        options.bookings = 400;
        std::string error;
        store_ = sapsim::Store::open(dir_->path(), options, error).release();
        ASSERT_NE(store_, nullptr) << error;
        reader_ = store_->open_reader(error).release();
        ASSERT_NE(reader_, nullptr) << error;
        ASSERT_TRUE(sapsim::SqlFunctions::install(reader_, error)) << error;
    }
    static void TearDownTestSuite()
    {
        sqlite3_close(reader_);
        delete store_;
        delete dir_;
    }

    // Decodes and translates; false with the message when refused.
    static bool build(const Lines& jdata, const Lines& mdata, sapsim::SqlPlan& plan, std::string& error,
                      const std::string& client = "100")
    {
        sapsim::SelectRequest request;
        if (!sapsim::SelectRequestParser::parse(jdata, mdata, request, error))
            return false;
        sapsim::SqlBuilder builder([](std::string_view name) { return sapsim::Store::read_table(reader_, name); }, client);
        return builder.build(request, plan, error);
    }

    static Rows rows_of(sapsim::Statement& s)
    {
        Rows rows;
        while (s.step() == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int i = 0; i < s.column_count(); ++i)
                row.push_back(s.column_type(i) == SQLITE_NULL ? "<null>" : s.column_text(i));
            rows.push_back(std::move(row));
        }
        return rows;
    }

    // The rows of a translated statement; fails the test when it is refused.
    static Rows run(const Lines& jdata, const Lines& mdata, const std::string& client = "100")
    {
        sapsim::SqlPlan plan;
        std::string error;
        EXPECT_TRUE(build(jdata, mdata, plan, error, client)) << error;
        sapsim::Statement s;
        if (!s.prepare(reader_, plan.sql)) {
            ADD_FAILURE() << sqlite3_errmsg(reader_) << "\n" << plan.sql;
            return {};
        }
        for (size_t i = 0; i < plan.parameters.size(); ++i) {
            const sapsim::FieldValue& v = plan.parameters[i];
            const int index = static_cast<int>(i) + 1;
            if (v.kind == sapsim::FieldValue::integer)
                s.bind_int(index, v.int_value);
            else if (v.kind == sapsim::FieldValue::real)
                s.bind_double(index, v.real_value);
            else if (v.kind == sapsim::FieldValue::blob)
                s.bind_blob(index, v.text_value.data(), static_cast<int>(v.text_value.size()));
            else
                s.bind_text(index, v.text_value);
        }
        return rows_of(s);
    }

    static Rows reference(const std::string& sql)
    {
        sapsim::Statement s;
        EXPECT_TRUE(s.prepare(reader_, sql)) << sqlite3_errmsg(reader_) << "\n" << sql;
        return rows_of(s);
    }

    static Rows sorted(Rows rows)
    {
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    static vurude::test::TempDir* dir_;
    static sapsim::Store* store_;
    static sqlite3* reader_;
};

vurude::test::TempDir* Statements::dir_ = nullptr;
sapsim::Store* Statements::store_ = nullptr;
sqlite3* Statements::reader_ = nullptr;

const Lines flight_fields = {"SFLIGHT,CARRID,,,,", "SFLIGHT,CONNID,,,,", "SFLIGHT,FLDATE,,,,"};

struct WhereCase {
    const char* label;
    Lines where;             // element lines of the W section
    std::string reference;   // the same condition in SQLite over SFLIGHT
    std::string alias = "";  // alias of SFLIGHT in the T line
};

void PrintTo(const WhereCase& c, std::ostream* os)
{
    *os << c.label;
}

class WhereConditions : public Statements, public ::testing::WithParamInterface<WhereCase> {};

TEST_P(WhereConditions, SelectTheRowsSqliteSelects)
{
    const WhereCase& c = GetParam();
    Lines jdata = {"sselect", "T,SFLIGHT," + c.alias + ",", "W," + std::to_string(c.where.size())};
    jdata.insert(jdata.end(), c.where.begin(), c.where.end());
    const Rows expected = reference("SELECT CARRID, CONNID, FLDATE FROM SFLIGHT WHERE MANDT = '100' AND (" + c.reference + ")");
    EXPECT_EQ(sorted(run(jdata, flight_fields)), sorted(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Operators, WhereConditions,
    ::testing::Values(
        WhereCase{"EqWord", {"CARRID EQ 'LH'"}, "CARRID = 'LH'"},
        WhereCase{"EqSymbolLowerCaseField", {"carrid = 'LH'"}, "CARRID = 'LH'"},
        WhereCase{"NeWord", {"CARRID NE 'LH'"}, "CARRID <> 'LH'"},
        WhereCase{"NeSymbols", {"CARRID <> 'LH' AND CARRID != 'AA' AND CARRID >< 'AF'"}, "CARRID NOT IN ('LH', 'AA', 'AF')"},
        WhereCase{"LtGtWords", {"SEATSOCC LT 2 OR SEATSOCC GT 3"}, "SEATSOCC < 2 OR SEATSOCC > 3"},
        WhereCase{"LeGeWords", {"SEATSOCC LE 2 AND SEATSOCC GE 2"}, "SEATSOCC = 2"},
        WhereCase{"LeGeSymbols", {"SEATSOCC <= 2 AND SEATSOCC >= 2 AND SEATSOCC =< 2 AND SEATSOCC => 2"}, "SEATSOCC = 2"},
        WhereCase{"PackedComparesAsNumber", {"PRICE > 1000"}, "CAST(PRICE AS REAL) > 1000"},
        WhereCase{"PackedAgainstDecimalText", {"PRICE <= '999.5'"}, "CAST(PRICE AS REAL) <= 999.5"},
        WhereCase{"NumericTextZeroFilled", {"CONNID = 17"}, "CONNID = '0017'"},
        WhereCase{"NumericTextFromText", {"CONNID = '17'"}, "CONNID = '0017'"},
        WhereCase{"Between", {"FLDATE BETWEEN '20260201' AND '20260301'"}, "FLDATE BETWEEN '20260201' AND '20260301'"},
        WhereCase{"NotBetween", {"SEATSOCC NOT BETWEEN 1 AND 2"}, "SEATSOCC NOT BETWEEN 1 AND 2"},
        WhereCase{"In", {"CARRID IN ('LH', 'AA')"}, "CARRID IN ('LH', 'AA')"},
        WhereCase{"NotIn", {"CARRID NOT IN ('LH','AA')"}, "CARRID NOT IN ('LH', 'AA')"},
        WhereCase{"LikePercent", {"PLANETYPE LIKE 'A3%'"}, "PLANETYPE GLOB 'A3*'"},
        WhereCase{"LikeUnderscore", {"PLANETYPE LIKE '7_7-%'"}, "PLANETYPE GLOB '7?7-*'"},
        WhereCase{"LikeIsCaseSensitive", {"PLANETYPE LIKE 'a3%'"}, "0"},
        WhereCase{"LikeEscape", {"PLANETYPE LIKE 'A319#-1%' ESCAPE '#'"}, "PLANETYPE GLOB 'A319-1*'"},
        WhereCase{"NotLike", {"PLANETYPE NOT LIKE '%-%'"}, "PLANETYPE NOT GLOB '*-*'"},
        WhereCase{"IsNull", {"CARRID IS NULL"}, "0"},
        WhereCase{"IsNotNull", {"PRICE IS NOT NULL"}, "1"},
        WhereCase{"AndBindsTighterThanOr",
                  {"CARRID = 'AA' OR CARRID = 'LH' AND CURRENCY = 'EUR'"},
                  "CARRID = 'AA' OR (CARRID = 'LH' AND CURRENCY = 'EUR')"},
        WhereCase{"NotBindsTighterThanAnd", {"NOT CARRID = 'AA' AND CURRENCY = 'USD'"}, "CARRID <> 'AA' AND CURRENCY = 'USD'"},
        WhereCase{"Parentheses",
                  {"( CARRID = 'AA' OR CARRID = 'LH' ) AND CURRENCY = 'EUR'"},
                  "CARRID IN ('AA', 'LH') AND CURRENCY = 'EUR'"},
        WhereCase{"LinesJoinIntoOneCondition", {"CARRID = 'LH'", "AND SEATSOCC > 1"}, "CARRID = 'LH' AND SEATSOCC > 1"},
        WhereCase{"AliasTilde", {"F~CARRID = 'LH'"}, "CARRID = 'LH'", "F"},
        WhereCase{"TableTildeWithAlias", {"SFLIGHT~CARRID = 'LH'"}, "CARRID = 'LH'", "F"},
        WhereCase{"FieldAgainstField", {"SEATSOCC < SEATSMAX"}, "SEATSOCC < SEATSMAX"},
        WhereCase{"SignedNumber", {"SEATSOCC > -1 AND SEATSOCC < +3"}, "SEATSOCC < 3"},
        WhereCase{"QuoteInLiteral", {"PLANETYPE <> 'A''380'"}, "1"},
        WhereCase{"BackQuotedLiteral", {"CARRID = `LH` OR PLANETYPE = `A``380`"}, "CARRID = 'LH'"}),
    [](const auto& test) { return std::string(test.param.label); });

struct RefusedCase {
    const char* label;
    Lines jdata;
    Lines mdata;
    std::string message;  // part of the error
};

void PrintTo(const RefusedCase& c, std::ostream* os)
{
    *os << c.label;
}

class RefusedStatements : public Statements, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedStatements, NameTheFault)
{
    sapsim::SqlPlan plan;
    std::string error;
    EXPECT_FALSE(build(GetParam().jdata, GetParam().mdata, plan, error)) << plan.sql;
    EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
    EXPECT_LE(error.size(), 200u) << "an EMSG holds 200 characters";
}

Lines where(const std::string& text)
{
    return {"sselect", "T,SCARR,,", "W,1", text};
}

const Lines carrier_fields = {"SCARR,CARRID,,,,"};

INSTANTIATE_TEST_SUITE_P(
    Faults, RefusedStatements,
    ::testing::Values(
        RefusedCase{"UnknownField", where("CARID = 'LH'"), carrier_fields, "unknown field CARID"},
        RefusedCase{"UnterminatedLiteral", where("CARRID = 'LH"), carrier_fields, "unterminated literal 'LH (JDATA line 4"},
        RefusedCase{"CommentAfterInjection", where("CARRID = 'X' OR 1=1 --"), carrier_fields, "expected AND, OR or the end of the condition, found -"},
        RefusedCase{"SecondStatement", where("CARRID = 'LH'; DROP TABLE SCARR"), carrier_fields, "unexpected character ';'"},
        RefusedCase{"DoubleQuotes", where("\"CARRID\" = 'LH'"), carrier_fields, "unexpected character '\"'"},
        RefusedCase{"MissingOperator", where("CARRID 'LH'"), carrier_fields, "expected a comparison"},
        RefusedCase{"MissingAnd", where("CARRID = 'LH' CURRCODE = 'EUR'"), carrier_fields, "expected AND, OR or the end"},
        RefusedCase{"AggregateInWhere", where("COUNT( * ) > 1"), carrier_fields, "aggregate COUNT(*) is not possible here"},
        RefusedCase{"UnknownAlias", where("X~CARRID = 'LH'"), carrier_fields, "unknown table or alias X"},
        RefusedCase{"TextForNumber", {"sselect", "T,SFLIGHT,,", "W,1", "SEATSMAX = 'many'"}, flight_fields, "is not a number"},
        RefusedCase{"LikeOnPacked", {"sselect", "T,SFLIGHT,,", "W,1", "PRICE LIKE '1%'"}, flight_fields,
                    "LIKE needs a character field"},
        RefusedCase{"OpenParenthesis", where("( CARRID = 'LH'"), carrier_fields, "expected ')'"},
        RefusedCase{"EmptyInList", where("CARRID IN ( )"), carrier_fields, "expected a field or a value"},
        RefusedCase{"DeepNesting", where(std::string(70, '(')), carrier_fields, "nested deeper than 64"},
        RefusedCase{"UnknownTable", {"sselect", "T,NOSUCH,,"}, {"NOSUCH,*"}, "table NOSUCH does not exist"},
        RefusedCase{"ShortSection", {"sselect", "T,SCARR,,", "W,3", "CARRID = 'LH'"}, carrier_fields, "announces 3 lines"},
        RefusedCase{"UnknownKind", {"select", "T,SCARR,,"}, carrier_fields, "expected sselect, nselect or gselect"},
        RefusedCase{"UnknownMdataField", {"sselect", "T,SCARR,,"}, {"SCARR,CARRNAM,,,,"}, "unknown field CARRNAM in table SCARR"},
        RefusedCase{"UnknownAggregate", {"sselect", "T,SCARR,,"}, {"SCARR,CARRID,,,median,"}, "aggregate 'median'"},
        RefusedCase{"SumOfText", {"sselect", "T,SCARR,,"}, {"SCARR,CARRNAME,,,sum,"}, "SUM needs a numeric field"},
        RefusedCase{"JoinWithoutOn", {"gselect", "T,SCARR,,", "T,SPFLI,,inner"}, carrier_fields, "joined without an on condition"},
        RefusedCase{"OnOfFirstTable", {"gselect", "T,SCARR,,", "O,1", "CARRID = 'LH'"}, carrier_fields, "belongs to a table joined"},
        RefusedCase{"AmbiguousField", {"gselect", "T,SCARR,,", "T,SPFLI,,", "O,1", "SPFLI~CARRID = SCARR~CARRID", "W,1", "CARRID = 'LH'"},
                    carrier_fields, "field CARRID is in SCARR and SPFLI"},
        RefusedCase{"OnSeesOnlyEarlierTables", {"gselect", "T,SCARR,,", "T,SPFLI,,", "O,1", "SPFLI~CARRID = SFLIGHT~CARRID", "T,SFLIGHT,,", "O,1", "SFLIGHT~CARRID = SPFLI~CARRID"},
                    carrier_fields, "unknown table or alias SFLIGHT"},
        RefusedCase{"SameTableTwiceWithoutAlias", {"gselect", "T,SCARR,,", "T,SCARR,,", "O,1", "CARRID = 'LH'"}, carrier_fields,
                    "SCARR names two tables"},
        RefusedCase{"FieldNeitherGroupedNorAggregated", {"gselect", "T,SFLIGHT,,"}, {"SFLIGHT,CARRID,,,,", "SFLIGHT,*,,,count,"},
                    "field CARRID is neither in the group by nor aggregated"},
        RefusedCase{"OrderByUngroupedField", {"gselect", "T,SFLIGHT,,", "GB,1", "CARRID", "OB,1", "CONNID"},
                    {"SFLIGHT,CARRID,,,,"}, "order by: field CONNID is neither"},
        RefusedCase{"HavingOnUngroupedField", {"gselect", "T,SFLIGHT,,", "GB,1", "CARRID", "H,1", "CONNID > 17"},
                    {"SFLIGHT,CARRID,,,,"}, "having: field CONNID is neither"},
        RefusedCase{"NestedOrderBy", {"nselect", "T,SCARR,,", "T,SPFLI,,", "OB,1", "CONNID"}, carrier_fields, "not part of a nested select"},
        RefusedCase{"LaterTableInNestedWhere", {"nselect", "T,SCARR,,", "W,1", "SPFLI~CARRID = 'LH'", "T,SPFLI,,"}, carrier_fields,
                    "where of statement 1: unknown table or alias SPFLI"},
        RefusedCase{"EverythingSuppressed", {"sselect", "T,SCARR,,"}, {"SCARR,CARRID,,,,Y"}, "every field is suppressed"}),
    [](const auto& test) { return std::string(test.param.label); });

TEST_F(Statements, InjectionAttemptsStayLiterals)
{
    for (const std::string text : {"CARRNAME = 'X'' OR 1=1 --'", "CARRNAME = 'Lufthansa''; DROP TABLE SCARR; --'",
                                   "CARRID IN ('LH'') OR (''1''=''1')"}) {
        EXPECT_TRUE(run(where(text), carrier_fields).empty()) << text;
    }
    EXPECT_EQ(run(where("CARRNAME = 'Lufthansa'"), carrier_fields), (Rows{{"LH"}})) << "the table is still there";
}

struct QueryCase {
    const char* label;
    Lines jdata;
    Lines mdata;
    std::string reference;  // SQLite over the store
    bool ordered;           // the statement sorts; compare in order
};

void PrintTo(const QueryCase& c, std::ostream* os)
{
    *os << c.label;
}

class Queries : public Statements, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(Queries, ReturnWhatSqliteReturns)
{
    const QueryCase& c = GetParam();
    const Rows got = run(c.jdata, c.mdata);
    const Rows expected = reference(c.reference);
    ASSERT_FALSE(expected.empty()) << "a case that selects nothing tests little";
    EXPECT_EQ(c.ordered ? got : sorted(got), c.ordered ? expected : sorted(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Statements, Queries,
    ::testing::Values(
        QueryCase{"InnerJoin",
                  {"gselect", "T,SPFLI,P,", "T,SFLIGHT,F,inner", "O,1", "F~CARRID = P~CARRID AND F~CONNID = P~CONNID", "W,1",
                   "F~SEATSOCC > 0 AND P~COUNTRYFR = 'US'"},
                  {"P,CITYFROM,,,,", "F,FLDATE,,,,", "F,SEATSOCC,,,,"},
                  "SELECT P.CITYFROM, F.FLDATE, F.SEATSOCC FROM SPFLI P JOIN SFLIGHT F ON F.CARRID = P.CARRID AND "
                  "F.CONNID = P.CONNID AND F.MANDT = '100' WHERE P.MANDT = '100' AND F.SEATSOCC > 0 AND P.COUNTRYFR = 'US'",
                  false},
        QueryCase{"SelfJoinFieldsWithoutTableReadTheLastOne",
                  {"gselect", "T,SPFLI,A,", "T,SPFLI,B,inner", "O,1", "B~CITYFROM = A~CITYTO"},
                  {"SPFLI,CARRID,,,,", "A,CONNID,,,,"},
                  "SELECT B.CARRID, A.CONNID FROM SPFLI A JOIN SPFLI B ON B.CITYFROM = A.CITYTO AND B.MANDT = '100' "
                  "WHERE A.MANDT = '100'",
                  false},
        QueryCase{"LeftJoinKeepsUnmatchedRowsAsNull",
                  {"gselect", "T,SCARR,,", "T,SPFLI,,left", "O,1", "SPFLI~CARRID = SCARR~CARRID AND SPFLI~DISTANCE > 9000"},
                  {"SCARR,CARRID,,,,", "SPFLI,CONNID,,,,", "SPFLI,DISTANCE,,,,"},
                  "SELECT C.CARRID, P.CONNID, P.DISTANCE FROM SCARR C LEFT JOIN SPFLI P ON P.CARRID = C.CARRID AND "
                  "CAST(P.DISTANCE AS REAL) > 9000 AND P.MANDT = '100' WHERE C.MANDT = '100'",
                  false},
        QueryCase{"AggregatesGroupByHavingOrderBy",
                  {"gselect", "T,SBOOK,,", "W,1", "CANCELLED <> 'X'", "GB,1", "CARRID", "H,1", "COUNT( * ) > 20", "OB,1",
                   "CARRID DESCENDING"},
                  {"SBOOK,CARRID,,,,", "SBOOK,*,,,count,", "SBOOK,LOCCURAM,,,sum,", "SBOOK,ORDER_DATE,,,min,",
                   "SBOOK,LUGGWEIGHT,,,max,", "SBOOK,CUSTOMID,,Y,count,"},
                  "SELECT CARRID, COUNT(*), printf('%.2f', SUM(CAST(LOCCURAM AS REAL))), MIN(ORDER_DATE), "
                  "MAX(CAST(LUGGWEIGHT AS REAL)), COUNT(DISTINCT CUSTOMID) FROM SBOOK WHERE MANDT = '100' AND "
                  "CANCELLED <> 'X' GROUP BY CARRID HAVING COUNT(*) > 20 ORDER BY CARRID DESC",
                  true},
        QueryCase{"OrderByColumnAlias",
                  {"gselect", "T,SFLIGHT,,", "GB,1", "CARRID", "OB,1", "seats DESCENDING, CARRID"},
                  {"SFLIGHT,CARRID,,,,", "SFLIGHT,SEATSOCC,seats,,sum,"},
                  "SELECT CARRID, SUM(SEATSOCC) AS S FROM SFLIGHT WHERE MANDT = '100' GROUP BY CARRID ORDER BY S DESC, CARRID",
                  true},
        QueryCase{"HavingOnPackedSum",
                  {"gselect", "T,SFLIGHT,,", "GB,1", "CARRID", "H,1", "SUM( PAYMENTSUM ) > 10000"},
                  {"SFLIGHT,CARRID,,,,"},
                  "SELECT CARRID FROM SFLIGHT WHERE MANDT = '100' GROUP BY CARRID HAVING SUM(CAST(PAYMENTSUM AS REAL)) > 10000",
                  false},
        QueryCase{"OrderByPrimaryKey",
                  {"sselect", "T,SPFLI,,", "OB,1", "PRIMARY KEY"},
                  {"SPFLI,CARRID,,,,", "SPFLI,CONNID,,,,"},
                  "SELECT CARRID, CONNID FROM SPFLI WHERE MANDT = '100' ORDER BY CARRID, CONNID",
                  true},
        QueryCase{"DistinctStatement",
                  {"sselect,Y", "T,SFLIGHT,,"},
                  {"SFLIGHT,CARRID,,,,", "SFLIGHT,PLANETYPE,,,,"},
                  "SELECT DISTINCT CARRID, PLANETYPE FROM SFLIGHT WHERE MANDT = '100'",
                  false},
        QueryCase{"DistinctField",
                  {"sselect", "T,SFLIGHT,,"},
                  {"SFLIGHT,CURRENCY,,Y,,"},
                  "SELECT DISTINCT CURRENCY FROM SFLIGHT WHERE MANDT = '100'",
                  false},
        QueryCase{"AllFieldsWithoutTheClient",
                  {"sselect", "T,SCARR,,"},
                  {"SCARR,*"},
                  "SELECT CARRID, CARRNAME, CURRCODE, URL FROM SCARR WHERE MANDT = '100'",
                  false},
        QueryCase{"NestedStatementsReferToEarlierRows",
                  {"nselect", "T,SCARR,C,", "W,1", "CURRCODE = 'EUR'", "T,SPFLI,,", "W,1", "CARRID = C~CARRID",
                   "T,SFLIGHT,,", "W,2", "CARRID = SPFLI~CARRID AND CONNID = SPFLI~CONNID", "AND SEATSOCC > 0"},
                  {"C,CARRID,,,,Y", "C,CARRNAME,,,,", "SPFLI,CITYTO,,,,", "SFLIGHT,FLDATE,,,,"},
                  "SELECT C.CARRNAME, P.CITYTO, F.FLDATE FROM SCARR C, SPFLI P, SFLIGHT F WHERE C.MANDT = '100' AND "
                  "P.MANDT = '100' AND F.MANDT = '100' AND C.CURRCODE = 'EUR' AND P.CARRID = C.CARRID AND F.CARRID = "
                  "P.CARRID AND F.CONNID = P.CONNID AND F.SEATSOCC > 0 ORDER BY C.CARRID, P.CONNID, F.FLDATE",
                  true}),
    [](const auto& test) { return std::string(test.param.label); });

TEST_F(Statements, EveryClientDependentTableIsReadInTheLogonClient)
{
    const Lines jdata = {"gselect", "T,SCARR,,", "T,SPFLI,,left", "O,1", "SPFLI~CARRID = SCARR~CARRID"};
    const Lines mdata = {"SCARR,CARRID,,,,", "SPFLI,MANDT,,,,", "SCARR,MANDT,,,,"};
    const Rows client200 = run(jdata, mdata, "200");
    ASSERT_EQ(client200.size(), 12u) << "4 carriers with 3 connections each";
    for (const auto& row : client200)
        EXPECT_EQ(row[1] + row[2], "200200");
}

TEST_F(Statements, MetadataDescribesTheRecord)
{
    sapsim::SqlPlan plan;
    std::string error;
    ASSERT_TRUE(build({"gselect", "T,SFLIGHT,,", "GB,1", "CARRID"},
                      {"SFLIGHT,CARRID,carrier,,,", "SFLIGHT,*,,,COUNT,", "SFLIGHT,PRICE,,,sum,", "SFLIGHT,PRICE,,,avg,",
                       "SFLIGHT,FLDATE,,,max,"},
                      plan, error))
        << error;
    EXPECT_EQ(plan.layout.metadata_lines(),
              (Lines{"R,54,5", "F,carrier,C,6,0,0,Airline code", "F,COUNT(*),8,8,0,6,Number of rows",
                     "F,SUM(PRICE),P,16,2,14,Airfare", "F,AVG(PRICE),F,8,0,30,Airfare", "F,MAX(FLDATE),D,16,0,38,Flight date"}));
    EXPECT_EQ(plan.table_name, "SFLIGHT");
}

TEST(RecordLayout, MetadataLinesStayBelow256Characters)
{
    sapsim::RecordLayout layout;
    layout.add("AMOUNT", sapsim::ValueType{'P', 8, 2}, "Amount, in " + std::string(300, 'x'));
    const Lines lines = layout.metadata_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].size(), 255u);
    EXPECT_EQ(lines[1].rfind("F,AMOUNT,P,8,2,0,Amount  in xxx", 0), 0u) << "commas in the text become blanks";
}

TEST(StoredValues, EqualValuesAreEqualInTheStore)
{
    struct Case {
        char type;
        int length;
        int decimals;
        const char* input;
        std::string stored;
    };
    const Case cases[] = {
        {'N', 4, 0, "42", "0042"},        {'N', 4, 0, "0042", "0042"},    {'P', 3, 2, "-012.5", "-12.50"},
        {'P', 3, 2, "7", "7.00"},         {'P', 3, 2, "-0", "0.00"},      {'P', 3, 2, "+.5", "0.50"},
        {'P', 2, 0, "-7", "-7"},          {'X', 3, 0, "0A", std::string("\x0A\0\0", 3)},
    };
    for (const Case& c : cases) {
        const sapsim::FieldDef field{"F", 1, false, c.type, c.length, c.decimals, ""};
        sapsim::FieldValue value;
        std::string error;
        ASSERT_TRUE(sapsim::convert_field_value(field, c.input, value, error)) << c.input << ": " << error;
        EXPECT_EQ(value.text_value, c.stored) << c.type << " '" << c.input << "'";
    }
}

struct PackedCase {
    const char* text;
    int decimals;
    std::vector<unsigned char> bytes;  // empty: refused
};

TEST(PackedNumbers, EncodeDigitsSignAndRounding)
{
    const PackedCase cases[] = {
        {"123.45", 2, {0x12, 0x34, 0x5C}},       {"-1.5", 2, {0x00, 0x15, 0x0D}},  {"0", 0, {0x0C}},
        {"1.005", 2, {0x10, 0x1C}},              {"-0.001", 2, {0x00, 0x0C}},      {"007", 0, {0x00, 0x7C}},
        {"12", 2, {0x01, 0x20, 0x0C}},           {"1000", 0, {}},                   {"9.995", 2, {}},
        {"abc", 0, {}},                          {"", 0, {}},                       {"1.2.3", 2, {}},
        {"-999", 0, {0x99, 0x9D}},
    };
    for (const PackedCase& c : cases) {
        const size_t size = c.bytes.empty() ? 2 : c.bytes.size();
        std::vector<unsigned char> out(size, 0xEE);
        const bool ok = sapsim::RecordEncoder::packed(c.text, std::string(c.text).size(), c.decimals, out.data(),
                                                      static_cast<int>(size));
        EXPECT_EQ(ok, !c.bytes.empty()) << c.text;
        if (ok) {
            EXPECT_EQ(out, c.bytes) << c.text;
        }
    }
}

TEST(SapLike, WildcardsEscapeAndCase)
{
    struct Case {
        const char* value;
        const char* pattern;
        char32_t escape;
        bool match;
    };
    const Case cases[] = {
        {"ABC", "A%", 0, true},        {"ABC", "a%", 0, false},     {"ABC", "A_C", 0, true},
        {"AC", "A_C", 0, false},       {"A%C", "A#%C", '#', true},  {"ABC", "A#%C", '#', false},
        {"A_C", "A#_C", '#', true},    {"ABC", "A#_C", '#', false}, {"\xc3\xa4" "bc", "_bc", 0, true},
        {"", "%", 0, true},            {"x", "", 0, false},         {"ABCABD", "%AB_", 0, true},
        {"ABCABD", "%AB_C", 0, false}, {"AB", "%%%B", 0, true},     {"A#", "A#", '#', true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sapsim::SqlFunctions::like(c.value, c.pattern, c.escape), c.match) << c.value << " LIKE " << c.pattern;
}

} // namespace
