// Many threads with their own handles, and malformed frames on raw sockets.
#include "loopback.h"
#include "sapsim_process.h"

#include "sapsim/text.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <thread>

namespace {

using sapsim_test::field;
using sapsim_test::SapsimProcess;
using sapsim_test::trimmed;

constexpr RFC_PARAMETER end_parameters{nullptr, 0, 0, 0, nullptr};
constexpr RFC_TABLE end_tables{nullptr, 0, 0, 0, nullptr, 0, 0};

class Robustness : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RfcInit();
        sim_ = new SapsimProcess;
    }
    static void TearDownTestSuite() { delete sim_; }
    void SetUp() override { ASSERT_TRUE(sim_->ok()) << sim_->error(); }

    static RFC_RC ping(RFC_HANDLE h)
    {
        RFC_PARAMETER none[] = {end_parameters};
        RFC_TABLE tables[] = {end_tables};
        SAP_UC* exception = nullptr;
        return RfcCallReceive(h, u"RFC_PING", none, none, tables, &exception);
    }

    static SapsimProcess* sim_;
};
SapsimProcess* Robustness::sim_ = nullptr;

TEST_F(Robustness, TenThreadsWithTheirOwnHandles)
{
    constexpr int threads = 10, calls = 25;
    std::atomic<int> good_calls{0}, right_errors{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            const RFC_HANDLE h = sim_->open_demo();
            if (h == RFC_HANDLE_NULL)
                return;
            for (int i = 0; i < calls; ++i) {
                std::u16string text = field("thread " + std::to_string(t) + " call " + std::to_string(i), 20), back(20, u'?');
                std::int32_t number = t * 1000 + i, number_back = -1;
                RFC_PARAMETER exporting[] = {{u"I_CHAR", 0, RFCTYPE_CHAR, 40, text.data()},
                                             {u"I_INT", 0, RFCTYPE_INT, 4, &number}, end_parameters};
                RFC_PARAMETER importing[] = {{u"E_CHAR", 0, RFCTYPE_CHAR, 40, back.data()},
                                             {u"E_INT", 0, RFCTYPE_INT, 4, &number_back}, end_parameters};
                RFC_TABLE tables[] = {end_tables};
                SAP_UC* exception = nullptr;
                if (RfcCallReceive(h, u"Z_SIM_ECHO", exporting, importing, tables, &exception) == RFC_OK && back == text &&
                    number_back == number)
                    ++good_calls;
            }
            RfcClose(h);
            // The last error belongs to the thread that made the failing call.
            const std::string client = "9" + std::to_string(t) + "0";
            RFC_ERROR_INFO_EX ignored{};
            if (sim_->open(client, "DEMO", "demo", &ignored) == RFC_HANDLE_NULL &&
                trimmed(sapsim_test::last_error().message, RFC_ERROR_MESSAGE_LN).find("Client " + client) != std::string::npos)
                ++right_errors;
        });
    }
    for (std::thread& w : workers)
        w.join();
    EXPECT_EQ(good_calls, threads * calls);
    EXPECT_EQ(right_errors, threads);
}

// Frame header of the wire protocol: type, three zero bytes, payload length (LE).
std::string frame(unsigned char type, const std::string& payload, std::uint32_t announced)
{
    std::string f(8, '\0');
    f[0] = static_cast<char>(type);
    for (int i = 0; i < 4; ++i)
        f[4 + i] = static_cast<char>((announced >> (8 * i)) & 0xFF);
    return f + payload;
}

std::string frame(unsigned char type, const std::string& payload)
{
    return frame(type, payload, static_cast<std::uint32_t>(payload.size()));
}

// A logon HELLO as the library sends it: magic, version 1.0, kind 1, eight texts.
std::string hello(std::uint16_t major)
{
    std::string p = "VRFC";
    p += static_cast<char>(major & 0xFF);
    p += static_cast<char>(major >> 8);
    p += std::string("\0\0", 2);
    p += '\x01';
    for (const char* text : {"100", "DEMO", "demo", "E", "", "rawhost", "rawtest", ""}) {
        const size_t n = std::strlen(text);
        p += static_cast<char>(n);
        p += '\0';
        for (size_t i = 0; i < n; ++i) {
            p += text[i];
            p += '\0';
        }
    }
    return frame(1, p);
}

TEST_F(Robustness, MalformedFramesDropOnlyTheirConnection)
{
    const RFC_HANDLE bystander = sim_->open_demo();
    ASSERT_NE(bystander, RFC_HANDLE_NULL);
    struct Case {
        const char* what;
        std::string bytes;
        bool half_close;  // send, then shut down our sending side
    };
    const std::vector<Case> cases = {
        {"text instead of frames", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", false},
        {"unknown frame type", frame(0xEE, "xyz"), false},
        {"oversized length", frame(1, "", 0xFFFFFFF0u), false},
        {"bad magic", frame(1, "XXXX\x01\x00\x00\x00\x01"), false},
        {"unsupported version", hello(99), false},
        {"truncated frame", frame(1, "VRFC", 100), true},
        {"call before logon", frame(4, std::string(16, '\x01')), false},
        {"garbage after logon", hello(1) + frame(0xEE, std::string(64, '\xFF')), false},
        {"bad call after logon", hello(1) + frame(4, std::string(3, '\x7F')), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int fd = vurude::test::connect_loopback(sim_->port());
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(vurude::test::send_all(fd, c.bytes));
        if (c.half_close)
            shutdown(fd, SHUT_WR);
        EXPECT_TRUE(vurude::test::wait_for_close(fd, std::chrono::seconds(20))) << "sapsim kept the connection";
        close(fd);
        EXPECT_EQ(ping(bystander), RFC_OK) << "another connection suffered";
    }
    // After a logon, sapsim itself sees the bad data and logs why it dropped the connection.
    EXPECT_TRUE(sim_->process().wait_for_stderr("malformed data", std::chrono::seconds(20))) << sim_->process().stderr_text();
    const RFC_HANDLE fresh = sim_->open_demo();
    EXPECT_NE(fresh, RFC_HANDLE_NULL);
    EXPECT_EQ(ping(fresh), RFC_OK);
    RfcClose(fresh);
    RfcClose(bystander);
    EXPECT_TRUE(sim_->process().running());
}

TEST_F(Robustness, StopsCleanlyOnSigterm)
{
    SapsimProcess own;
    ASSERT_TRUE(own.ok()) << own.error();
    const RFC_HANDLE h = own.open_demo();
    ASSERT_NE(h, RFC_HANDLE_NULL);
    const int status = own.process().stop(std::chrono::seconds(20));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(own.process().stderr_text().find("stopped"), std::string::npos);
    EXPECT_NE(ping(h), RFC_OK);
    RfcClose(h);
}

TEST(CommandLine, LoadedCsvTablesAreServed)
{
    RfcInit();
    vurude::test::TempDir dir;
    const std::string data = dir.path() + "/data";
    std::ofstream(dir.path() + "/dd.csv") << "TABNAME,FIELDNAME,POSITION,KEYFLAG,INTTYPE,LENG,DECIMALS,DDTEXT\n"
                                             "ZCITY,MANDT,1,X,C,3,0,Client\n"
                                             "ZCITY,CITY,2,X,C,20,0,City\n";
    std::ofstream(dir.path() + "/ZCITY.csv") << "MANDT,CITY\n100,Berlin\n100,Hamburg\n200,Zurich\n";
    std::ofstream(dir.path() + "/BAD.csv") << "MANDT\n100\n";
    struct Step {
        std::vector<std::string> args;
        int exit_code;
        const char* message;
    };
    const std::vector<Step> steps = {
        {{"--bookings", "10", "--port", "0"}, -1, "listening on port"},  // only to create the store quickly
        {{"load", "--data", data, dir.path() + "/BAD.csv"}, 1, "no table BAD"},
        {{"load", "--data", data, "--dictionary", dir.path() + "/dd.csv", dir.path() + "/ZCITY.csv"}, 0, "loaded 1 data file"},
        {{"--log-level", "loud"}, 2, "unknown log level"},
        {{"--sysid", "TOOLONG"}, 2, "3 characters"},
        {{"call", "--port", "1"}, 2, "--program is required"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args.front());
        std::vector<std::string> argv = {SAPSIM_EXE};
        argv.insert(argv.end(), step.args.begin(), step.args.end());
        if (step.args.front() == "--bookings")
            argv.insert(argv.end(), {"--data", data});
        vurude::test::ChildProcess child;
        std::string error;
        ASSERT_TRUE(child.start(argv, error)) << error;
        if (step.exit_code < 0) {
            EXPECT_GT(child.wait_for_port(std::chrono::seconds(30)), 0) << child.stderr_text();
            continue;  // the destructor stops it
        }
        const std::optional<int> status = child.wait_exit(std::chrono::seconds(30));
        ASSERT_TRUE(status);
        EXPECT_EQ(WEXITSTATUS(*status), step.exit_code) << child.stdout_text() << child.stderr_text();
        EXPECT_NE((child.stdout_text() + child.stderr_text()).find(step.message), std::string::npos)
            << child.stdout_text() << child.stderr_text();
    }

    // The loaded table is served, filtered by the logon client.
    vurude::test::ChildProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start({SAPSIM_EXE, "--data", data, "--port", "0"}, error)) << error;
    const int port = sim.wait_for_port(std::chrono::seconds(30));
    ASSERT_GT(port, 0);
    const std::u16string connect = sapsim::to_utf16("ashost=\"127.0.0.1\" gwserv=\"" + std::to_string(port) +
                                                    "\" client=\"100\" user=\"DEMO\" passwd=\"demo\"");
    RFC_ERROR_INFO_EX info{};
    const RFC_HANDLE h = RfcOpenEx(connect.c_str(), &info);
    ASSERT_NE(h, RFC_HANDLE_NULL);
    std::u16string table = field("ZCITY", 30);
    RFC_PARAMETER exporting[] = {{u"QUERY_TABLE", 0, RFCTYPE_CHAR, 60, table.data()}, end_parameters};
    RFC_PARAMETER none[] = {end_parameters};
    RFC_TABLE tables[] = {{u"DATA", 0, RFCTYPE_CHAR, 0, nullptr, 0, 0}, end_tables};
    SAP_UC* exception = nullptr;
    ASSERT_EQ(RfcCallReceive(h, u"Z_SIM_READ_TABLE", exporting, none, tables, &exception), RFC_OK);
    ASSERT_EQ(ItFill(tables[0].ithandle), 2u);
    EXPECT_EQ(trimmed(static_cast<const char16_t*>(ItGetLine(tables[0].ithandle, 2)), 23), "100Hamburg");
    ItDelete(tables[0].ithandle);
    RfcClose(h);
}

// A start or command that cannot succeed fails before it writes anything:
// run in an empty folder without --data, it leaves the folder empty.
TEST(CommandLine, RefusedStartsLeaveTheFolderEmpty)
{
    // A port some other program listens on.
    const int held = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(held, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(held, 1), 0);
    ASSERT_EQ(getsockname(held, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string held_port = std::to_string(ntohs(address.sin_port));

    vurude::test::TempDir csv;
    std::ofstream(csv.path() + "/ZCITY.csv") << "MANDT,CITY\n100,Berlin\n";
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string message;
    };
    // --bookings keeps a start that wrongly creates the store short.
    const std::vector<Case> cases = {
        {{"--host", "localhost", "--bookings", "10"}, 2, "'localhost' is not a numeric IPv4 address"},
        {{"--port", held_port, "--bookings", "10"}, 1, "cannot listen on 127.0.0.1:" + held_port},
        {{"--data", "elsewhere", "load", csv.path() + "/ZCITY.csv"}, 2, "--data is an option of the running system"},
        {{"load"}, 2, "give a dictionary or data files"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& arg : c.args)
            shown += arg + " ";
        SCOPED_TRACE(shown);
        vurude::test::TempDir folder;
        std::vector<std::string> argv = {"/usr/bin/env", "-C", folder.path(), SAPSIM_EXE};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        vurude::test::ChildProcess child;
        std::string error;
        ASSERT_TRUE(child.start(argv, error)) << error;
        const std::optional<int> status = child.wait_exit(std::chrono::seconds(60));
        ASSERT_TRUE(status);
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == c.exit_code) << *status << child.stderr_text();
        EXPECT_NE(child.stderr_text().find(c.message), std::string::npos) << child.stderr_text();
        EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
    }
    close(held);
}

} // namespace
