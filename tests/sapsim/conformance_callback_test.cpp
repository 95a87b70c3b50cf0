// Calls back into the caller: nesting, exceptions of callbacks, and a partner
// that dies in the middle of a call.
#include "sapsim_process.h"

#include "sapsim/text.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

namespace {

using sapsim_test::field;
using sapsim_test::SapsimProcess;
using sapsim_test::trimmed;

constexpr RFC_PARAMETER end_parameters{nullptr, 0, 0, 0, nullptr};
constexpr RFC_TABLE end_tables{nullptr, 0, 0, 0, nullptr, 0, 0};

// The client side of Z_SIM_CALLBACK: calls it and serves the function it calls
// back with `handler`, which gets the handle, the nesting depth and DATA.
class CallbackClient {
public:
    using Handler = std::function<void(RFC_HANDLE, int depth, const std::string& data)>;

    CallbackClient(RFC_HANDLE handle, Handler handler) : handle_(handle), handler_(std::move(handler)) {}

    // Calls Z_SIM_CALLBACK naming CLIENT_FN; answer and exception are set on return.
    RFC_RC call(int depth, const std::string& data, ITAB_H lines, std::string& answer, std::string& exception_name)
    {
        std::u16string function = field("CLIENT_FN", 30), data16 = field(data, 255), answer16(255, u' ');
        RFC_PARAMETER exporting[] = {{u"FUNCTION", 0, RFCTYPE_CHAR, 60, function.data()},
                                     {u"DATA", 0, RFCTYPE_CHAR, 510, data16.data()}, end_parameters};
        RFC_PARAMETER importing[] = {{u"ANSWER", 0, RFCTYPE_CHAR, 510, answer16.data()}, end_parameters};
        RFC_TABLE tables[] = {{u"LINES", 0, RFCTYPE_CHAR, 80, lines, RFC_ITMODE_BYREFERENCE, 0}, end_tables};
        RFC_RC rc = RfcCall(handle_, u"Z_SIM_CALLBACK", exporting, tables);
        SAP_UC* exception = nullptr;
        while (rc == RFC_OK || rc == RFC_CALL) {
            rc = RfcReceive(handle_, importing, tables, &exception);
            if (rc != RFC_CALL)
                break;
            serve(depth);
        }
        answer = trimmed(answer16.data(), 255);
        exception_name = rc == RFC_EXCEPTION && exception != nullptr ? sapsim::to_utf8(exception) : "";
        return rc;
    }

    std::vector<std::string> names;  // functions sapsim called back, in order
    ITAB_H current_lines = nullptr;  // LINES of the callback being served

private:
    void serve(int depth)
    {
        SAP_UC name[RFC_FUNCNAME_LN + 1] = {};
        ASSERT_EQ(RfcGetName(handle_, name), RFC_OK);
        names.push_back(sapsim::to_utf8(name));
        std::u16string data(255, u' ');
        RFC_PARAMETER importing[] = {{u"DATA", 0, RFCTYPE_CHAR, 510, data.data()}, end_parameters};
        RFC_TABLE tables[] = {{u"LINES", 0, RFCTYPE_CHAR, 0, nullptr, RFC_ITMODE_BYREFERENCE, 0}, end_tables};
        ASSERT_EQ(RfcGetData(handle_, importing, tables), RFC_OK);
        current_lines = tables[0].ithandle;
        handler_(handle_, depth, trimmed(data.data(), 255));
        if (tables[0].newitab != 0)
            ItDelete(tables[0].ithandle);
    }

    RFC_HANDLE handle_;
    Handler handler_;
};

// Answers a callback with ANSWER and the (changed) LINES table.
void answer(RFC_HANDLE h, const std::string& text, ITAB_H lines)
{
    std::u16string a = field(text, 255);
    RFC_PARAMETER exporting[] = {{u"ANSWER", 0, RFCTYPE_CHAR, 510, a.data()}, end_parameters};
    RFC_TABLE tables[] = {{u"LINES", 0, RFCTYPE_CHAR, ItLeng(lines), lines, RFC_ITMODE_BYREFERENCE, 0}, end_tables};
    ASSERT_EQ(RfcSendData(h, exporting, tables), RFC_OK);
}

class Callbacks : public ::testing::Test {
protected:
    void SetUp() override
    {
        RfcInit();
        ASSERT_TRUE(sim_.ok()) << sim_.error();
        handle_ = sim_.open_demo();
        ASSERT_NE(handle_, RFC_HANDLE_NULL);
    }
    void TearDown() override { RfcClose(handle_); }

    SapsimProcess sim_;
    RFC_HANDLE handle_ = RFC_HANDLE_NULL;
};

TEST_F(Callbacks, NestThreeDeep)
{
    // Client -> Z_SIM_CALLBACK -> CLIENT_FN (depth 1) -> Z_SIM_CALLBACK -> CLIENT_FN (depth 2) -> ... depth 3.
    std::vector<std::string> seen;
    CallbackClient* self = nullptr;
    CallbackClient client(handle_, [&](RFC_HANDLE h, int depth, const std::string& data) {
        seen.push_back(std::to_string(depth) + ":" + data);
        ITAB_H lines = self->current_lines;
        std::string inner = "leaf";
        if (depth < 3) {
            ITAB_H own = ItCreate(u"LINES", 80, 0, 0);
            std::string exception;
            ASSERT_EQ(self->call(depth + 1, "from depth " + std::to_string(depth), own, inner, exception), RFC_OK);
            ItDelete(own);
            self->current_lines = lines;
        }
        std::u16string row = field("visited depth " + std::to_string(depth), 40);
        std::memcpy(ItAppLine(lines), row.data(), 80);
        answer(h, "d" + std::to_string(depth) + "(" + inner + ")", lines);
    });
    self = &client;

    ITAB_H lines = ItCreate(u"LINES", 80, 0, 0);
    std::u16string origin = field("origin", 40);
    std::memcpy(ItAppLine(lines), origin.data(), 80);
    std::string result, exception;
    ASSERT_EQ(client.call(1, "start", lines, result, exception), RFC_OK) << sapsim_test::describe(sapsim_test::last_error());
    EXPECT_EQ(result, "d1(d2(d3(leaf)))");
    EXPECT_EQ(seen, (std::vector<std::string>{"1:start", "2:from depth 1", "3:from depth 2"}));
    EXPECT_EQ(client.names, (std::vector<std::string>{"CLIENT_FN", "CLIENT_FN", "CLIENT_FN"}));
    ASSERT_EQ(ItFill(lines), 2u);
    EXPECT_EQ(trimmed(static_cast<const char16_t*>(ItGetLine(lines, 2)), 40), "visited depth 1");
    ItDelete(lines);
}

TEST_F(Callbacks, ExceptionOfTheCallbackReachesTheCaller)
{
    CallbackClient client(handle_, [](RFC_HANDLE h, int, const std::string&) {
        ASSERT_EQ(RfcRaise(h, u"CLIENT_SAYS_NO"), RFC_OK);
    });
    ITAB_H lines = ItCreate(u"LINES", 80, 0, 0);
    std::string result, exception;
    EXPECT_EQ(client.call(1, "x", lines, result, exception), RFC_EXCEPTION);
    EXPECT_EQ(exception, "CLIENT_SAYS_NO");
    ItDelete(lines);
}

TEST_F(Callbacks, PartnerKilledWhileWeServeItsCallback)
{
    CallbackClient client(handle_, [&](RFC_HANDLE h, int, const std::string&) {
        sim_.process().signal(SIGKILL);
        ASSERT_TRUE(sim_.process().wait_exit(std::chrono::seconds(10)));
        std::u16string a = field("too late", 255);
        RFC_PARAMETER exporting[] = {{u"ANSWER", 0, RFCTYPE_CHAR, 510, a.data()}, end_parameters};
        RFC_TABLE tables[] = {end_tables};
        RfcSendData(h, exporting, tables);  // may still reach the socket buffer
    });
    ITAB_H lines = ItCreate(u"LINES", 80, 0, 0);
    std::string result, exception;
    const RFC_RC rc = client.call(1, "x", lines, result, exception);
    EXPECT_TRUE(rc == RFC_FAILURE || rc == RFC_SYS_EXCEPTION) << rc;
    EXPECT_EQ(sapsim_test::last_error().group, RFC_ERROR_COMMUNICATION) << sapsim_test::describe(sapsim_test::last_error());
    ItDelete(lines);
}

TEST_F(Callbacks, PartnerKilledWhileWeWaitForItsAnswer)
{
    // sapsim is inside Z_SIM_ADMIN_CALL, waiting for a registered program that
    // this test serves; the program kills sapsim while our call waits.
    const std::string program = "ZKILL_" + std::to_string(getpid());
    const std::string port = std::to_string(sim_.port());
    std::u16string a = u"-a", p = sapsim::to_utf16(program), g = u"-g", host = u"127.0.0.1", x = u"-x",
                   service = sapsim::to_utf16(port);
    SAP_UC* argv[] = {a.data(), p.data(), g.data(), host.data(), x.data(), service.data(), nullptr};
    const RFC_HANDLE registered = RfcAccept(argv);
    ASSERT_NE(registered, RFC_HANDLE_NULL) << sapsim_test::describe(sapsim_test::last_error());
    std::thread program_thread([&] {
        RFC_RC rc;
        do
            rc = RfcWaitForRequest(registered, 5);
        while (rc == RFC_RETRY);
        sim_.process().signal(SIGKILL);
        sim_.process().wait_exit(std::chrono::seconds(10));
        RfcClose(registered);
    });

    std::u16string progid = field(program, 64), function = field("Z_ANYTHING", 128);
    RFC_PARAMETER exporting[] = {{u"PROGID", 0, RFCTYPE_CHAR, 128, progid.data()},
                                 {u"FUNCNAME", 0, RFCTYPE_CHAR, 256, function.data()}, end_parameters};
    RFC_PARAMETER none[] = {end_parameters};
    RFC_TABLE tables[] = {end_tables};
    SAP_UC* exception = nullptr;
    const RFC_RC rc = RfcCallReceive(handle_, u"Z_SIM_ADMIN_CALL", exporting, none, tables, &exception);
    program_thread.join();
    EXPECT_TRUE(rc == RFC_FAILURE || rc == RFC_SYS_EXCEPTION) << rc;
    EXPECT_EQ(sapsim_test::last_error().group, RFC_ERROR_COMMUNICATION) << sapsim_test::describe(sapsim_test::last_error());
}

} // namespace
