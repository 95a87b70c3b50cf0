// Store: dictionary, client filtering, logon check, generator determinism, CSV loading.
#include "sapsim/dictionary.h"
#include "sapsim/store.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using sapsim::FieldDef;
using sapsim::LogonCheck;
using sapsim::Store;
using sapsim::StoreOptions;
using sapsim::TableDef;

constexpr std::int64_t small_bookings = 3000;

std::unique_ptr<Store> open_store(const std::string& folder, std::int64_t bookings = small_bookings)
{
    StoreOptions options;
    options.bookings = bookings;
    std::string error;
    auto store = Store::open(folder, options, error);
    EXPECT_TRUE(store) << error;
    return store;
}

// A hash over every row of a table in one client, to compare stores.
std::size_t table_digest(Store& store, const std::string& table, const std::string& client, std::int64_t& rows)
{
    std::size_t digest = 0;
    rows = 0;
    std::string error;
    EXPECT_TRUE(store.select_rows(table, client, [&](const std::vector<std::string>& values) {
        for (const std::string& v : values)
            digest = digest * 1000003u ^ std::hash<std::string>{}(v);
        ++rows;
        return true;
    }, error)) << error;
    return digest;
}

class StoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new vurude::test::TempDir;
        store_ = open_store(dir_->path()).release();
    }
    static void TearDownTestSuite()
    {
        delete store_;
        delete dir_;
    }
    static vurude::test::TempDir* dir_;
    static Store* store_;
};
vurude::test::TempDir* StoreTest::dir_ = nullptr;
Store* StoreTest::store_ = nullptr;

TEST_F(StoreTest, DictionaryDescribesSampleTables)
{
    ASSERT_TRUE(store_->created());
    const auto sbook = store_->table("sbook");  // names are case-insensitive
    ASSERT_TRUE(sbook);
    EXPECT_EQ(sbook->name, "SBOOK");
    EXPECT_TRUE(sbook->client_dependent);
    ASSERT_GE(sbook->fields.size(), 5u);
    EXPECT_EQ(sbook->fields[0].name, "MANDT");
    EXPECT_EQ(sbook->fields[4].name, "BOOKID");
    EXPECT_TRUE(sbook->fields[4].key);
    for (size_t i = 0; i < sbook->fields.size(); ++i)
        EXPECT_EQ(sbook->fields[i].position, static_cast<int>(i) + 1);
    const auto price = store_->table("SFLIGHT")->fields[4];
    EXPECT_EQ(price.name, "PRICE");
    EXPECT_EQ(price.type, 'P');
    EXPECT_EQ(price.length, 8);
    EXPECT_EQ(price.decimals, 2);
    EXPECT_FALSE(store_->table("T000")->client_dependent);
    EXPECT_FALSE(store_->table("NO_SUCH_TABLE"));
    const auto names = store_->table_names();
    for (const char* t : {"T000", "USR02", "SCARR", "SPFLI", "SFLIGHT", "SBOOK", "MARA", "MAKT"})
        EXPECT_NE(std::find(names.begin(), names.end(), t), names.end()) << t;
}

TEST_F(StoreTest, ClientDependentTablesShowOnlyTheLogonClient)
{
    struct Case {
        const char* table;
        const char* client;
        std::int64_t rows;
    };
    const Case cases[] = {
        {"SBOOK", "100", small_bookings}, {"SBOOK", "200", 2000}, {"SBOOK", "000", 0}, {"SCARR", "100", 10},
        {"SCARR", "200", 4},              {"MARA", "100", 500},    {"MAKT", "200", 100}, {"T000", "999", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.table) + " in " + c.client);
        EXPECT_EQ(store_->count_rows(c.table, c.client), c.rows);
        std::int64_t seen = 0;
        std::string error;
        const bool dependent = store_->table(c.table)->client_dependent;
        ASSERT_TRUE(store_->select_rows(c.table, c.client, [&](const std::vector<std::string>& v) {
            if (dependent) {
                EXPECT_EQ(v[0], c.client);
            }
            ++seen;
            return true;
        }, error));
        EXPECT_EQ(seen, c.rows);
    }
    std::string error;
    EXPECT_FALSE(store_->select_rows("NOPE", "100", [](const auto&) { return true; }, error));
    EXPECT_NE(error.find("NOPE"), std::string::npos);
}

TEST_F(StoreTest, FlightTotalsMatchTheirBookings)
{
    // SEATSOCC of every flight counts its bookings: the generator keeps the model consistent.
    std::int64_t occupied = 0;
    std::string error;
    ASSERT_TRUE(store_->select_rows("SFLIGHT", "100", [&](const std::vector<std::string>& v) {
        occupied += std::stoll(v[8]);
        EXPECT_GE(std::stoll(v[7]), std::stoll(v[8]));
        return true;
    }, error));
    EXPECT_EQ(occupied, small_bookings);
}

TEST_F(StoreTest, LogonChecksClientUserAndPassword)
{
    struct Case {
        const char* client;
        const char* user;
        const char* password;
        LogonCheck expected;
    };
    const Case cases[] = {
        {"100", "DEMO", "demo", LogonCheck::ok},
        {"100", "demo", "demo", LogonCheck::ok},  // user names in any case
        {"100", "DEMO", "DEMO", LogonCheck::bad_credentials},  // passwords exactly
        {"100", "DEMO", "", LogonCheck::bad_credentials},
        {"100", "NOBODY", "demo", LogonCheck::bad_credentials},
        {"200", "DEMO", "demo", LogonCheck::bad_credentials},  // users belong to a client
        {"200", "DEMO", "demo200", LogonCheck::ok},
        {"999", "DEMO", "demo", LogonCheck::unknown_client},
        {"", "DEMO", "demo", LogonCheck::unknown_client},
        {"100", "LOCKED", "locked", LogonCheck::user_locked},
        {"100", "LOCKED", "wrong", LogonCheck::bad_credentials},  // a lock reveals nothing without the password
        {"000", "ADMIN", "admin", LogonCheck::ok},
    };
    for (const Case& c : cases)
        EXPECT_EQ(store_->check_logon(c.client, c.user, c.password), c.expected)
            << c.client << "/" << c.user << "/" << c.password;
}

TEST(StoreGenerator, SameOptionsGiveTheSameRows)
{
    vurude::test::TempDir a, b, c;
    auto first = open_store(a.path());
    auto second = open_store(b.path());
    auto other = open_store(c.path(), small_bookings + 7);
    for (const char* table : {"SCARR", "SPFLI", "SFLIGHT", "SBOOK", "MARA", "MAKT"}) {
        for (const char* client : {"100", "200"}) {
            SCOPED_TRACE(std::string(table) + " " + client);
            std::int64_t rows1 = 0, rows2 = 0;
            EXPECT_EQ(table_digest(*first, table, client, rows1), table_digest(*second, table, client, rows2));
            EXPECT_EQ(rows1, rows2);
            EXPECT_GT(rows1, 0);
        }
    }
    EXPECT_EQ(other->count_rows("SBOOK", "100"), small_bookings + 7);
}

TEST(StoreGenerator, ReopeningKeepsTheData)
{
    vurude::test::TempDir dir;
    open_store(dir.path());
    StoreOptions options;
    options.bookings = 10;  // applies only to a new store
    std::string error;
    auto again = Store::open(dir.path(), options, error);
    ASSERT_TRUE(again) << error;
    EXPECT_FALSE(again->created());
    EXPECT_EQ(again->count_rows("SBOOK", "100"), small_bookings);
}

TEST(StoreGenerator, RefusesAFileThatIsNoStore)
{
    vurude::test::TempDir dir;
    std::ofstream(dir.path() + "/" + Store::file_name) << "this is not a database";
    std::string error;
    EXPECT_FALSE(Store::open(dir.path(), StoreOptions{}, error));
    EXPECT_FALSE(error.empty());
}

TEST(TableDefinition, ChecksNamesTypesAndPositions)
{
    const auto f = [](const char* name, int pos, bool key, char type, int len, int dec = 0) {
        return FieldDef{name, pos, key, type, len, dec, ""};
    };
    struct Case {
        const char* what;
        TableDef table;
        const char* error;  // nullptr: valid
    };
    const std::vector<Case> cases = {
        {"valid", {"ZT", true, "", {f("MANDT", 1, true, 'C', 3), f("ID", 2, true, 'N', 4), f("AMOUNT", 3, false, 'P', 8, 2)}}, nullptr},
        {"lower-case name", {"zt", false, "", {f("ID", 1, true, 'C', 3)}}, "invalid table name"},
        {"no fields", {"ZT", false, "", {}}, "no fields"},
        {"gap in positions", {"ZT", false, "", {f("A", 1, true, 'C', 3), f("B", 3, false, 'C', 3)}}, "positions"},
        {"key after data", {"ZT", false, "", {f("A", 1, false, 'C', 3), f("B", 2, true, 'C', 3)}}, "key fields must come first"},
        {"duplicate field", {"ZT", false, "", {f("A", 1, true, 'C', 3), f("A", 2, false, 'C', 3)}}, "duplicate"},
        {"unknown type", {"ZT", false, "", {f("A", 1, true, 'Q', 3)}}, "unknown ABAP type"},
        {"wrong int length", {"ZT", false, "", {f("A", 1, true, 'I', 8)}}, "has length 4"},
        {"decimals on char", {"ZT", false, "", {f("A", 1, true, 'C', 3, 1)}}, "only packed"},
        {"packed too long", {"ZT", false, "", {f("A", 1, true, 'P', 17)}}, "packed length"},
        {"client table without MANDT", {"ZT", true, "", {f("ID", 1, true, 'C', 3)}}, "MANDT"},
    };
    for (const Case& c : cases) {
        std::string error;
        const bool ok = sapsim::validate_table_def(c.table, error);
        if (c.error == nullptr)
            EXPECT_TRUE(ok) << c.what << ": " << error;
        else
            EXPECT_TRUE(!ok && error.find(c.error) != std::string::npos) << c.what << ": " << error;
    }
}

TEST(FieldValues, ConvertTextByType)
{
    struct Case {
        char type;
        int length;
        int decimals;
        const char* input;
        bool ok;
    };
    const Case cases[] = {
        {'C', 3, 0, "abc", true},        {'C', 3, 0, "abcd", false},      {'C', 3, 0, "\xc3\xa4\xc3\xb6\xc3\xbc", true},
        {'N', 4, 0, "0042", true},       {'N', 4, 0, "42a", false},       {'N', 4, 0, "12345", false},
        {'D', 8, 0, "20260131", true},   {'D', 8, 0, "2026-01-31", false}, {'T', 6, 0, "235959", true},
        {'T', 6, 0, "2359", false},      {'P', 3, 2, "123.45", true},     {'P', 3, 2, "-1.5", true},
        {'P', 3, 2, "1234.5", false},    {'P', 3, 2, "1.234", false},     {'P', 3, 2, "1.2.3", false},
        {'X', 2, 0, "0aFF", true},       {'X', 2, 0, "0aF", false},       {'X', 2, 0, "zz00", false},
        {'I', 4, 0, "-2147483648", true}, {'I', 4, 0, "2147483648", false}, {'s', 2, 0, "40000", false},
        {'b', 1, 0, "255", true},        {'b', 1, 0, "-1", false},        {'F', 8, 0, "1.5e3", true},
        {'F', 8, 0, "x", false},         {'C', 3, 0, "", true},
    };
    for (const Case& c : cases) {
        const FieldDef field{"F", 1, false, c.type, c.length, c.decimals, ""};
        sapsim::FieldValue value;
        std::string error;
        EXPECT_EQ(sapsim::convert_field_value(field, c.input, value, error), c.ok) << c.type << " '" << c.input << "' " << error;
    }
}

// CSV loading: each case writes a dictionary and data files into a fresh store.
class CsvLoad : public ::testing::Test {
protected:
    void SetUp() override { store_ = open_store(dir_.path() + "/store", 10); }

    std::string write(const std::string& name, const std::string& content)
    {
        const std::string path = dir_.path() + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    vurude::test::TempDir dir_;
    std::unique_ptr<Store> store_;
};

const std::string zcity_dictionary = "TABNAME,FIELDNAME,POSITION,KEYFLAG,INTTYPE,LENG,DECIMALS,DDTEXT\n"
                                     "ZCITY,MANDT,1,X,C,3,0,Client\n"
                                     "ZCITY,CITY,2,X,C,20,0,City\n"
                                     "ZCITY,PEOPLE,3,,I,4,0,\"Population, approximately\"\n"
                                     "ZCITY,AREA,4,,P,6,2,Area\n";

TEST_F(CsvLoad, LoadsDictionaryAndQuotedData)
{
    const std::string dd = write("dd.csv", zcity_dictionary);
    const std::string data = write("ZCITY.csv", "MANDT,CITY,PEOPLE,AREA\r\n"
                                                "100,Berlin,3850000,891.12\r\n"
                                                "100,\"Frankfurt, Main\",770000,248.31\r\n"
                                                "200,\"Say \"\"Hi\"\"\",1,\n");
    std::string error;
    ASSERT_TRUE(store_->load_csv(dd, {data}, error)) << error;
    const auto table = store_->table("ZCITY");
    ASSERT_TRUE(table);
    EXPECT_TRUE(table->client_dependent);
    EXPECT_EQ(table->fields[2].text, "Population, approximately");
    std::vector<std::string> cities;
    ASSERT_TRUE(store_->select_rows("ZCITY", "100", [&](const std::vector<std::string>& v) {
        cities.push_back(v[1]);
        return true;
    }, error));
    EXPECT_EQ(cities, (std::vector<std::string>{"Berlin", "Frankfurt, Main"}));
    ASSERT_TRUE(store_->select_rows("ZCITY", "200", [&](const std::vector<std::string>& v) {
        EXPECT_EQ(v[1], "Say \"Hi\"");
        EXPECT_EQ(v[3], "");
        return true;
    }, error));
}

TEST_F(CsvLoad, ErrorsNameTheFaultAndLoadNothing)
{
    struct Case {
        const char* what;
        std::string dictionary;  // empty: none
        std::string data_name;
        std::string data;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"bad dictionary header", "TABNAME,FIELD\nZCITY,MANDT\n", "ZCITY.csv", "MANDT\n", "first line"},
        {"dictionary type", "TABNAME,FIELDNAME,POSITION,KEYFLAG,INTTYPE,LENG,DECIMALS,DDTEXT\nZX,A,1,X,Q,3,0,\n", "ZX.csv", "A\n", "unknown ABAP type"},
        {"existing table", "TABNAME,FIELDNAME,POSITION,KEYFLAG,INTTYPE,LENG,DECIMALS,DDTEXT\nSBOOK,A,1,X,C,3,0,\n", "SBOOK.csv", "A\n", "already exists"},
        {"unknown table", "", "ZNONE.csv", "A\nx\n", "no table ZNONE"},
        {"unknown field", zcity_dictionary, "ZCITY.csv", "MANDT,CITY,TOWN\n100,A,B\n", "no field 'TOWN'"},
        {"missing key", zcity_dictionary, "ZCITY.csv", "MANDT,PEOPLE\n100,5\n", "key field CITY"},
        {"too long", zcity_dictionary, "ZCITY.csv", "MANDT,CITY\n100,Llanfairpwllgwyngyllgogerychwyrndrobwllllantysiliogogogoch\n", "line 2"},
        {"bad number", zcity_dictionary, "ZCITY.csv", "MANDT,CITY,PEOPLE\n100,A,1\n100,B,many\n", "line 3"},
        {"field count", zcity_dictionary, "ZCITY.csv", "MANDT,CITY\n100,A,extra\n", "expected 2 fields"},
        {"duplicate key", zcity_dictionary, "ZCITY.csv", "MANDT,CITY\n100,A\n100,A\n", "UNIQUE"},
        {"open quote", zcity_dictionary, "ZCITY.csv", "MANDT,CITY\n100,\"A\n", "unterminated"},
        {"text after quote", zcity_dictionary, "ZCITY.csv", "MANDT,CITY\n100,\"A\"B\n", "after a closing quote"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<std::filesystem::path> dd;
        if (!c.dictionary.empty())
            dd = write("dd.csv", c.dictionary);
        const std::string data = write(c.data_name, c.data);
        std::string error;
        EXPECT_FALSE(store_->load_csv(dd, {data}, error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_FALSE(store_->table("ZCITY")) << "a failed load left table ZCITY behind";
        EXPECT_FALSE(store_->table("ZX"));
    }
    EXPECT_EQ(store_->count_rows("SBOOK", "100"), 10);
}

} // namespace
