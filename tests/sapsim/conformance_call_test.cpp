// Conformance of logon, calls, every parameter type and table, exceptions,
// system failure and abort against a running sapsim.
#include "sapsim_process.h"

#include "sapsim/rfcsi.h"
#include "sapsim/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using sapsim_test::field;
using sapsim_test::SapsimProcess;
using sapsim_test::trimmed;

constexpr RFC_PARAMETER no_parameters[] = {{nullptr, 0, 0, 0, nullptr}};
constexpr RFC_TABLE no_tables[] = {{nullptr, 0, 0, 0, nullptr, 0, 0}};

class Conformance : public ::testing::Test {
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

    RFC_RC ping()
    {
        RFC_PARAMETER none[] = {no_parameters[0]};
        RFC_TABLE tables[] = {no_tables[0]};
        SAP_UC* exception = nullptr;
        return RfcCallReceive(handle_, u"RFC_PING", none, none, tables, &exception);
    }

    static SapsimProcess* sim_;
    RFC_HANDLE handle_ = RFC_HANDLE_NULL;
};
SapsimProcess* Conformance::sim_ = nullptr;

TEST_F(Conformance, LogonChecksClientUserAndPassword)
{
    struct Case {
        const char* client;
        const char* user;
        const char* password;
        bool ok;
        const char* message;
    };
    const Case cases[] = {
        {"100", "DEMO", "demo", true, ""},
        {"100", "demo", "demo", true, ""},
        {"200", "DEMO", "demo200", true, ""},
        {"100", "DEMO", "wrong", false, "Name or password is incorrect"},
        {"100", "NOBODY", "demo", false, "Name or password is incorrect"},
        {"999", "DEMO", "demo", false, "Client 999 is not available"},
        {"100", "LOCKED", "locked", false, "User is locked"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.client) + "/" + c.user);
        RFC_ERROR_INFO_EX error{};
        const RFC_HANDLE h = sim_->open(c.client, c.user, c.password, &error);
        if (c.ok) {
            EXPECT_NE(h, RFC_HANDLE_NULL) << sapsim_test::describe(error);
            RfcClose(h);
            continue;
        }
        EXPECT_EQ(h, RFC_HANDLE_NULL);
        EXPECT_EQ(error.group, RFC_ERROR_LOGON_FAILURE);
        EXPECT_NE(trimmed(error.message, RFC_ERROR_MESSAGE_LN).find(c.message), std::string::npos)
            << sapsim_test::describe(error);
        EXPECT_EQ(sapsim_test::last_error().group, RFC_ERROR_LOGON_FAILURE);
    }
    // A password never appears in the log, also not a wrong one.
    EXPECT_EQ(sim_->process().stderr_text().find("wrong"), std::string::npos);
}

TEST_F(Conformance, AttributesCarryCodePagesAndTheSystem)
{
    RFC_ATTRIBUTES a{};
    ASSERT_EQ(RfcGetAttributes(handle_, &a), RFC_OK);
    const auto* record = reinterpret_cast<const SAP_UC*>(&a);
    EXPECT_EQ(trimmed(record + 302, 4), "4103");
    EXPECT_EQ(trimmed(record + 345, 4), "4103");
    EXPECT_EQ(trimmed(a.sysid, 8), "SIM");
    EXPECT_EQ(trimmed(a.systnr, 2), "00");
    EXPECT_EQ(trimmed(a.client, 3), "100");
    EXPECT_FALSE(trimmed(a.partner_host, 100).empty());
    SAP_UC own[RFC_CODEPAGE_LN + 1] = {}, partner[RFC_CODEPAGE_LN + 1] = {};
    ASSERT_EQ(RfcGetCodePagesInfo(handle_, own, partner), RFC_OK);
    EXPECT_EQ(sapsim::to_utf8(own), "4103");
    EXPECT_EQ(sapsim::to_utf8(partner), "4103");
    int major = 0, minor = -1, patch = -1;
    EXPECT_EQ(RfcGetPatchLevel(&major, &minor, &patch), RFC_OK);
    EXPECT_GE(major, 1);
    SAP_UC versions[256] = {};
    EXPECT_GT(RfcGetAllLibVersions(versions, 256), 0u);

    // What sapsim sees of the same connection.
    char16_t client[3], user[12], own_cp[4], partner_cp[4];
    RFC_PARAMETER importing[] = {{u"CLIENT", 0, RFCTYPE_CHAR, sizeof client, client},
                                 {u"USER", 0, RFCTYPE_CHAR, sizeof user, user},
                                 {u"OWN_CODEPAGE", 0, RFCTYPE_CHAR, sizeof own_cp, own_cp},
                                 {u"PARTNER_CODEPAGE", 0, RFCTYPE_CHAR, sizeof partner_cp, partner_cp},
                                 no_parameters[0]};
    RFC_PARAMETER none[] = {no_parameters[0]};
    RFC_TABLE tables[] = {no_tables[0]};
    SAP_UC* exception = nullptr;
    ASSERT_EQ(RfcCallReceive(handle_, u"Z_SIM_ATTRIBUTES", none, importing, tables, &exception), RFC_OK);
    EXPECT_EQ(trimmed(client, 3), "100");
    EXPECT_EQ(trimmed(user, 12), "DEMO");
    EXPECT_EQ(trimmed(own_cp, 4), "4103");
    EXPECT_EQ(trimmed(partner_cp, 4), "4103");
}

TEST_F(Conformance, SystemInfoFillsRfcsi)
{
    // The full structure, and the 400-byte prefix a caller may ask for.
    for (const unsigned bytes : {static_cast<unsigned>(sapsim::Rfcsi::chars * 2), 400u}) {
        SCOPED_TRACE(bytes);
        std::u16string rfcsi(bytes / 2, u'#');
        RFC_PARAMETER importing[] = {{u"RFCSI_EXPORT", 0, RFCTYPE_CHAR, bytes, rfcsi.data()}, no_parameters[0]};
        RFC_PARAMETER none[] = {no_parameters[0]};
        RFC_TABLE tables[] = {no_tables[0]};
        SAP_UC* exception = nullptr;
        ASSERT_EQ(RfcCallReceive(handle_, u"RFC_SYSTEM_INFO", none, importing, tables, &exception), RFC_OK);
        size_t count = 0;
        const sapsim::RfcsiField* fields = sapsim::Rfcsi::fields(count);
        const auto value = [&](const char* name) {
            for (size_t i = 0; i < count; ++i)
                if (std::strcmp(fields[i].name, name) == 0 && fields[i].offset + fields[i].length <= rfcsi.size())
                    return trimmed(rfcsi.data() + fields[i].offset, fields[i].length);
            return std::string("<absent>");
        };
        EXPECT_EQ(value("RFCPROTO"), "011");
        EXPECT_EQ(value("RFCCHARTYP"), "4103");
        EXPECT_EQ(value("RFCINTTYP"), "LIT");
        EXPECT_EQ(value("RFCFLOTYP"), "IE3");
        EXPECT_EQ(value("RFCSYSID"), "SIM");
        EXPECT_EQ(value("RFCDBSYS"), "SQLITE");
        EXPECT_EQ(value("RFCOPSYS"), "Linux");
        EXPECT_FALSE(value("RFCHOST").empty());
        EXPECT_FALSE(value("RFCIPADDR").empty());
        EXPECT_EQ(rfcsi.find(u'#'), std::u16string::npos) << "the whole buffer is written";
    }
}

struct EchoValues {
    std::u16string chr = field("Grüße, 世界", 20);
    std::u16string date = u"20260131";
    unsigned char bcd[8] = {0x00, 0x00, 0x00, 0x01, 0x23, 0x45, 0x67, 0x8D};  // -12345.678 at 3 decimals
    std::u16string time = u"235959";
    unsigned char raw[16] = {0x00, 0xFF, 0x10, 0x80, 0x7F, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B};
    std::u16string num = u"0123456789";
    double flt = -1.25e-300;
    std::int32_t i4 = -2147483647 - 1;
    std::int16_t i2 = -32768;
    std::uint8_t i1 = 255;
};

std::vector<RFC_PARAMETER> echo_parameters(const char* prefix, EchoValues& v)
{
    static const std::u16string names[] = {u"CHAR", u"DATE", u"BCD", u"TIME", u"RAW", u"NUM", u"FLOAT", u"INT", u"INT2", u"INT1"};
    static std::u16string full[2][10];
    const int p = prefix[0] == 'I' ? 0 : 1;
    for (int i = 0; i < 10; ++i)
        full[p][i] = std::u16string(prefix[0] == 'I' ? u"I_" : u"E_") + names[i];
    return {{full[p][0].c_str(), 0, RFCTYPE_CHAR, static_cast<unsigned>(v.chr.size() * 2), v.chr.data()},
            {full[p][1].c_str(), 0, RFCTYPE_DATE, 16, v.date.data()},
            {full[p][2].c_str(), 0, RFCTYPE_BCD, sizeof v.bcd, v.bcd},
            {full[p][3].c_str(), 0, RFCTYPE_TIME, 12, v.time.data()},
            {full[p][4].c_str(), 0, RFCTYPE_BYTE, sizeof v.raw, v.raw},
            {full[p][5].c_str(), 0, RFCTYPE_NUM, 20, v.num.data()},
            {full[p][6].c_str(), 0, RFCTYPE_FLOAT, sizeof v.flt, &v.flt},
            {full[p][7].c_str(), 0, RFCTYPE_INT, sizeof v.i4, &v.i4},
            {full[p][8].c_str(), 0, RFCTYPE_INT2, sizeof v.i2, &v.i2},
            {full[p][9].c_str(), 0, RFCTYPE_INT1, sizeof v.i1, &v.i1},
            no_parameters[0]};
}

TEST_F(Conformance, EchoReturnsEveryTypeAndTable)
{
    EchoValues sent, received;
    received.chr.assign(20, u'?');
    received.date.assign(8, u'?');
    received.time.assign(6, u'?');
    received.num.assign(10, u'?');
    std::memset(received.bcd, 0xEE, sizeof received.bcd);
    std::memset(received.raw, 0xEE, sizeof received.raw);
    received.flt = 0;
    received.i4 = received.i2 = 0;
    received.i1 = 0;

    ITAB_H echo = ItCreate(u"ECHOTAB", 10, 0, 0);
    for (const char* row : {"row one...", "row two...", "row three."})
        std::memcpy(ItAppLine(echo), row, 10);
    std::int32_t rows = 0, width = 0;
    auto exporting = echo_parameters("I", sent);
    auto importing = echo_parameters("E", received);
    importing.insert(importing.end() - 1, {RFC_PARAMETER{u"E_ROWS", 0, RFCTYPE_INT, 4, &rows},
                                           RFC_PARAMETER{u"E_WIDTH", 0, RFCTYPE_INT, 4, &width}});
    RFC_TABLE tables[] = {{u"ECHOTAB", 0, RFCTYPE_BYTE, 10, echo, RFC_ITMODE_BYREFERENCE, 0},
                          {u"COPYTAB", 0, RFCTYPE_BYTE, 0, nullptr, RFC_ITMODE_BYREFERENCE, 0},
                          no_tables[0]};
    SAP_UC* exception = nullptr;
    ASSERT_EQ(RfcCallReceive(handle_, u"Z_SIM_ECHO", exporting.data(), importing.data(), tables, &exception), RFC_OK)
        << sapsim_test::describe(sapsim_test::last_error());

    EXPECT_EQ(received.chr, sent.chr);
    EXPECT_EQ(received.date, sent.date);
    EXPECT_EQ(0, std::memcmp(received.bcd, sent.bcd, sizeof sent.bcd));
    EXPECT_EQ(received.time, sent.time);
    EXPECT_EQ(0, std::memcmp(received.raw, sent.raw, sizeof sent.raw));
    EXPECT_EQ(received.num, sent.num);
    EXPECT_EQ(received.flt, sent.flt);
    EXPECT_EQ(received.i4, sent.i4);
    EXPECT_EQ(received.i2, sent.i2);
    EXPECT_EQ(received.i1, sent.i1);
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(width, 10);

    ASSERT_EQ(ItFill(echo), 3u);
    EXPECT_EQ(0, std::memcmp(ItGetLine(echo, 2), "row two...", 10));
    ASSERT_NE(tables[1].ithandle, nullptr);
    EXPECT_EQ(tables[1].newitab, 1);
    EXPECT_EQ(ItLeng(tables[1].ithandle), 10u);
    ASSERT_EQ(ItFill(tables[1].ithandle), 3u);
    EXPECT_EQ(0, std::memcmp(ItGetLine(tables[1].ithandle, 1), "row three.", 10));
    EXPECT_EQ(0, std::memcmp(ItGetLine(tables[1].ithandle, 3), "row one...", 10));
    ItDelete(tables[1].ithandle);
    ItDelete(echo);
}

TEST_F(Conformance, StructuredTableLinesTravelUnchanged)
{
    // A line type installed as a structure: NAME C(8), QTY I, PRICE F.
    const RFC_UNICODE_TYPE_ELEMENT elements[] = {
        {u"NAME", RFCTYPE_CHAR, 0, 8, 0, 16, 0, 32, 0},
        {u"QTY", RFCTYPE_INT, 0, 4, 8, 4, 16, 4, 32},
        {u"PRICE", RFCTYPE_FLOAT, 0, 8, 16, 8, 24, 8, 40},
    };
    RFC_TYPEHANDLE line_type = 0;
    ASSERT_EQ(RfcInstallUnicodeStructure(u"ZSIM_ORDER", elements, 3, 0, 0, &line_type), RFC_OK)
        << sapsim_test::describe(sapsim_test::last_error());
    struct Line {
        char16_t name[8];
        std::int32_t qty;
        std::int32_t pad;
        double price;
    };
    static_assert(sizeof(Line) == 32);
    ITAB_H orders = ItCreate(u"ECHOTAB", sizeof(Line), 0, 0);
    for (int i = 0; i < 3; ++i) {
        auto* line = static_cast<Line*>(ItAppLine(orders));
        const std::u16string name = field("ITEM" + std::to_string(i), 8);
        std::memcpy(line->name, name.data(), sizeof line->name);
        line->qty = 10 * i - 5;
        line->price = 0.5 + i;
    }
    static_cast<Line*>(ItGupLine(orders, 2))->qty = 4711;  // changed in place before sending
    RFC_PARAMETER none[] = {no_parameters[0]};
    RFC_TABLE tables[] = {{u"ECHOTAB", 0, line_type, sizeof(Line), orders, RFC_ITMODE_BYREFERENCE, 0},
                          {u"COPYTAB", 0, line_type, sizeof(Line), nullptr, RFC_ITMODE_BYREFERENCE, 0}, no_tables[0]};
    SAP_UC* exception = nullptr;
    ASSERT_EQ(RfcCallReceive(handle_, u"Z_SIM_ECHO", none, none, tables, &exception), RFC_OK);
    ASSERT_EQ(ItFill(tables[1].ithandle), 3u);
    Line copy{};
    ASSERT_EQ(ItCpyLine(tables[1].ithandle, 2, &copy), 0);  // COPYTAB is ECHOTAB reversed
    EXPECT_EQ(copy.qty, 4711);
    EXPECT_EQ(copy.price, 1.5);
    ASSERT_EQ(ItCpyLine(tables[1].ithandle, 3, &copy), 0);
    EXPECT_EQ(trimmed(copy.name, 8), "ITEM0");
    EXPECT_EQ(copy.qty, -5);
    EXPECT_NE(ItCpyLine(tables[1].ithandle, 4, &copy), 0);
    ItDelete(tables[1].ithandle);
    ItDelete(orders);
}

TEST_F(Conformance, ShortValuesArePaddedAndEmptyTablesTravel)
{
    // I_CHAR of 3 characters reaches a 20-character field: blanks follow.
    // I_RAW of 2 bytes reaches a 16-byte field: zeros follow.
    std::u16string chr = u"abc";
    unsigned char raw[2] = {0xAB, 0xCD};
    std::u16string echoed(20, u'?');
    unsigned char raw_back[16];
    std::memset(raw_back, 0xEE, sizeof raw_back);
    std::int32_t rows = -1;
    RFC_PARAMETER exporting[] = {{u"I_CHAR", 0, RFCTYPE_CHAR, 6, chr.data()}, {u"I_RAW", 0, RFCTYPE_BYTE, 2, raw},
                                 no_parameters[0]};
    RFC_PARAMETER importing[] = {{u"E_CHAR", 0, RFCTYPE_CHAR, 40, echoed.data()},
                                 {u"E_RAW", 0, RFCTYPE_BYTE, 16, raw_back},
                                 {u"E_ROWS", 0, RFCTYPE_INT, 4, &rows},
                                 no_parameters[0]};
    ITAB_H empty = ItCreate(u"ECHOTAB", 40, 0, 0);
    RFC_TABLE tables[] = {{u"ECHOTAB", 0, RFCTYPE_CHAR, 40, empty, RFC_ITMODE_BYREFERENCE, 0}, no_tables[0]};
    SAP_UC* exception = nullptr;
    ASSERT_EQ(RfcCallReceive(handle_, u"Z_SIM_ECHO", exporting, importing, tables, &exception), RFC_OK);
    EXPECT_EQ(echoed, field("abc", 20));
    const unsigned char expected_raw[16] = {0xAB, 0xCD};
    EXPECT_EQ(0, std::memcmp(raw_back, expected_raw, 16));
    EXPECT_EQ(rows, 0);
    EXPECT_EQ(ItFill(empty), 0u);
    ItDelete(empty);
}

TEST_F(Conformance, ExceptionsWithAndWithoutTables)
{
    struct Case {
        const char* exception;
        bool with_tables;
        const char* expected;
    };
    const Case cases[] = {{"NOT_FOUND", true, "NOT_FOUND"}, {"NO_AUTHORITY", false, "NO_AUTHORITY"}, {"", false, "Z_SIM_RAISED"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        std::u16string name = field(c.exception, 30), message = field("material 4711 missing", 80);
        std::u16string flag = c.with_tables ? u"X" : u" ";
        RFC_PARAMETER exporting[] = {{u"EXCEPTION", 0, RFCTYPE_CHAR, 60, name.data()},
                                     {u"MESSAGE", 0, RFCTYPE_CHAR, 160, message.data()},
                                     {u"WITH_TABLES", 0, RFCTYPE_CHAR, 2, flag.data()},
                                     no_parameters[0]};
        RFC_PARAMETER none[] = {no_parameters[0]};
        ITAB_H messages = ItCreate(u"MESSAGES", 160, 0, 0);
        std::u16string first = field("first line", 80);
        std::memcpy(ItAppLine(messages), first.data(), 160);
        RFC_TABLE tables[] = {{u"MESSAGES", 0, RFCTYPE_CHAR, 160, messages, RFC_ITMODE_BYREFERENCE, 0}, no_tables[0]};
        SAP_UC* exception = nullptr;
        ASSERT_EQ(RfcCallReceive(handle_, u"Z_SIM_RAISE", exporting, none, tables, &exception), RFC_EXCEPTION);
        ASSERT_NE(exception, nullptr);
        EXPECT_EQ(sapsim::to_utf8(exception), c.expected);
        if (c.with_tables) {
            ASSERT_EQ(ItFill(messages), 2u);
            EXPECT_EQ(trimmed(static_cast<const char16_t*>(ItGetLine(messages, 2)), 80), "material 4711 missing");
        }
        ItDelete(messages);
        // An exception ends the call, not the connection.
        EXPECT_EQ(ping(), RFC_OK);
    }
}

TEST_F(Conformance, SystemFailureAndAbortEndTheConnection)
{
    struct Case {
        const char* function;
        const char* parameter;
        const char* value;
        const char* key;
        const char* message;
    };
    const Case cases[] = {
        {"Z_SIM_FAIL", "MESSAGE", "", "COMPUTE_INT_ZERODIVIDE", "Division by 0"},
        {"Z_SIM_FAIL", "KEY", "MY_DUMP", "MY_DUMP", "Division by 0"},
        {"Z_SIM_ABORT", "TEXT", "stopped by operator", "", "stopped by operator"},
        {"Z_SIM_NO_SUCH_MODULE", "X", "", "FU_NOT_FOUND", "Z_SIM_NO_SUCH_MODULE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.function) + " " + c.value);
        const RFC_HANDLE h = sim_->open_demo();
        ASSERT_NE(h, RFC_HANDLE_NULL);
        const std::u16string parameter = sapsim::to_utf16(c.parameter), function = sapsim::to_utf16(c.function);
        std::u16string value = field(c.value, 80);
        RFC_PARAMETER exporting[] = {{parameter.c_str(), 0, RFCTYPE_CHAR, 160, value.data()}, no_parameters[0]};
        RFC_PARAMETER none[] = {no_parameters[0]};
        RFC_TABLE tables[] = {no_tables[0]};
        SAP_UC* exception = nullptr;
        EXPECT_EQ(RfcCallReceive(h, function.c_str(), exporting, none, tables, &exception), RFC_SYS_EXCEPTION);
        const RFC_ERROR_INFO_EX error = sapsim_test::last_error();
        EXPECT_EQ(error.group, RFC_ERROR_SYSTEM_FAILURE) << sapsim_test::describe(error);
        if (*c.key != '\0') {
            EXPECT_EQ(trimmed(error.key, RFC_ERROR_KEY_LN), c.key);
        }
        EXPECT_NE(trimmed(error.message, RFC_ERROR_MESSAGE_LN).find(c.message), std::string::npos) << sapsim_test::describe(error);
        // The conversation is over: the next call fails at once.
        EXPECT_EQ(RfcCallReceive(h, u"RFC_PING", none, none, tables, &exception), RFC_FAILURE);
        RfcClose(h);
    }
    EXPECT_EQ(ping(), RFC_OK) << "other connections are not affected";
}

TEST_F(Conformance, ReadTableRefusesWhatItCannotRead)
{
    struct Case {
        const char* table;
        std::int32_t rowcount;
        const char* exception;
    };
    // The suite's sapsim holds 1000 bookings: TOO_MANY_ROWS is not reachable here.
    const Case cases[] = {{"NO_SUCH_TABLE", 0, "TABLE_NOT_AVAILABLE"}, {"USR02", 0, nullptr}, {"SBOOK", 5, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        std::u16string table = field(c.table, 30);
        std::int32_t rowcount = c.rowcount;
        RFC_PARAMETER exporting[] = {{u"QUERY_TABLE", 0, RFCTYPE_CHAR, 60, table.data()},
                                     {u"ROWCOUNT", 0, RFCTYPE_INT, 4, &rowcount}, no_parameters[0]};
        RFC_PARAMETER none[] = {no_parameters[0]};
        RFC_TABLE tables[] = {{u"DATA", 0, RFCTYPE_CHAR, 0, nullptr, 0, 0}, no_tables[0]};
        SAP_UC* exception = nullptr;
        const RFC_RC rc = RfcCallReceive(handle_, u"Z_SIM_READ_TABLE", exporting, none, tables, &exception);
        if (c.exception != nullptr) {
            ASSERT_EQ(rc, RFC_EXCEPTION);
            EXPECT_EQ(sapsim::to_utf8(exception), c.exception);
        } else {
            ASSERT_EQ(rc, RFC_OK);
            EXPECT_GT(ItFill(tables[0].ithandle), 0u);
            EXPECT_LE(ItFill(tables[0].ithandle), c.rowcount > 0 ? static_cast<unsigned>(c.rowcount) : 100u);
        }
        if (tables[0].ithandle != nullptr)
            ItDelete(tables[0].ithandle);
    }
}

TEST_F(Conformance, ReadTableFiltersByLogonClient)
{
    for (const auto& [client, user, password, carriers] :
         {std::tuple{"100", "DEMO", "demo", 10u}, std::tuple{"200", "DEMO", "demo200", 4u}}) {
        SCOPED_TRACE(client);
        const RFC_HANDLE h = sim_->open(client, user, password);
        ASSERT_NE(h, RFC_HANDLE_NULL);
        std::u16string table = field("SCARR", 30);
        RFC_PARAMETER exporting[] = {{u"QUERY_TABLE", 0, RFCTYPE_CHAR, 60, table.data()}, no_parameters[0]};
        RFC_PARAMETER none[] = {no_parameters[0]};
        RFC_TABLE tables[] = {{u"FIELDS", 0, RFCTYPE_CHAR, 0, nullptr, 0, 0}, {u"DATA", 0, RFCTYPE_CHAR, 0, nullptr, 0, 0},
                              no_tables[0]};
        SAP_UC* exception = nullptr;
        ASSERT_EQ(RfcCallReceive(h, u"Z_SIM_READ_TABLE", exporting, none, tables, &exception), RFC_OK);
        EXPECT_EQ(ItFill(tables[0].ithandle), 5u);
        ASSERT_EQ(ItFill(tables[1].ithandle), carriers);
        for (unsigned i = 1; i <= carriers; ++i)
            EXPECT_EQ(trimmed(static_cast<const char16_t*>(ItGetLine(tables[1].ithandle, i)), 3), client);
        ItDelete(tables[0].ithandle);
        ItDelete(tables[1].ithandle);
        RfcClose(h);
    }
}

} // namespace
