// Registered server programs: registration counts, and a call made through
// the admin path (`sapsim call`) that a program registered by this test serves.
#include "sapsim_process.h"

#include "sapsim/text.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace {

using sapsim_test::field;
using sapsim_test::SapsimProcess;
using sapsim_test::trimmed;

constexpr RFC_PARAMETER end_parameters{nullptr, 0, 0, 0, nullptr};
constexpr RFC_TABLE end_tables{nullptr, 0, 0, 0, nullptr, 0, 0};

struct Counts {
    RFC_RC rc;
    RFC_INT total = -1, init = -1, ready = -1, busy = -1;
};

class Registered : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RfcInit();
        sim_ = new SapsimProcess;
    }
    static void TearDownTestSuite() { delete sim_; }
    void SetUp() override { ASSERT_TRUE(sim_->ok()) << sim_->error(); }

    static RFC_HANDLE accept(const std::string& program)
    {
        std::u16string a = u"-a", p = sapsim::to_utf16(program), g = u"-g", host = u"127.0.0.1", x = u"-x",
                       service = sapsim::to_utf16(std::to_string(sim_->port()));
        SAP_UC* argv[] = {a.data(), p.data(), g.data(), host.data(), x.data(), service.data(), nullptr};
        return RfcAccept(argv);
    }

    static Counts counts(const std::string& program)
    {
        Counts c;
        RFC_ERROR_INFO_EX error{};
        const std::u16string p = sapsim::to_utf16(program), service = sapsim::to_utf16(std::to_string(sim_->port()));
        c.rc = RfcCheckRegisterServer(p.c_str(), u"127.0.0.1", service.c_str(), &c.total, &c.init, &c.ready, &c.busy, &error);
        return c;
    }

    // Runs `sapsim call` against the shared sapsim; returns its exit code.
    static int admin_call(const std::vector<std::string>& args, std::string& out, std::string& err)
    {
        std::vector<std::string> argv = {SAPSIM_EXE, "call", "--port", std::to_string(sim_->port())};
        argv.insert(argv.end(), args.begin(), args.end());
        vurude::test::ChildProcess child;
        std::string error;
        if (!child.start(argv, error)) {
            err = error;
            return -1;
        }
        const std::optional<int> status = child.wait_exit(std::chrono::seconds(60));
        out = child.stdout_text();
        err = child.stderr_text();
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    static SapsimProcess* sim_;
};
SapsimProcess* Registered::sim_ = nullptr;

std::string unique_program(const char* base)
{
    static int serial = 0;
    return std::string(base) + "_" + std::to_string(getpid()) + "_" + std::to_string(++serial);
}

TEST_F(Registered, CheckRegisterServerCounts)
{
    const std::string program = unique_program("ZCOUNT");
    Counts c = counts(program);
    ASSERT_EQ(c.rc, RFC_OK);
    EXPECT_EQ(c.total, 0);

    const RFC_HANDLE first = accept(program);
    const RFC_HANDLE second = accept(program);
    ASSERT_NE(first, RFC_HANDLE_NULL) << sapsim_test::describe(sapsim_test::last_error());
    ASSERT_NE(second, RFC_HANDLE_NULL);
    c = counts(program);
    EXPECT_EQ(c.total, 2);
    EXPECT_EQ(c.ready, 2);
    EXPECT_EQ(c.busy, 0);
    EXPECT_EQ(counts(unique_program("ZOTHER")).total, 0);
    EXPECT_EQ(RfcWaitForRequest(first, 1), RFC_RETRY) << "nobody calls: nothing within the wait";

    RfcClose(first);
    // The gateway drops a registration once it sees its connection closed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((c = counts(program)).total != 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(c.total, 1);
    RfcClose(second);
}

// What the registered program does with the call it receives.
enum class Behaviour { answer, raise };

struct AdminCase {
    const char* what;
    Behaviour behaviour;
    int exit_code;
    std::vector<std::string> expected_lines;
};

void PrintTo(const AdminCase& c, std::ostream* os)
{
    *os << c.what;
}

class AdminPath : public Registered, public ::testing::WithParamInterface<AdminCase> {};

TEST_P(AdminPath, RegisteredProgramServesTheAdminCall)
{
    const AdminCase& c = GetParam();
    const std::string program = unique_program("ZADMIN");
    const RFC_HANDLE registered = accept(program);
    ASSERT_NE(registered, RFC_HANDLE_NULL) << sapsim_test::describe(sapsim_test::last_error());

    std::string served_name, sysid;
    Counts while_busy;
    std::thread server([&] {
        RFC_RC rc;
        do
            rc = RfcWaitForRequest(registered, 5);
        while (rc == RFC_RETRY);
        ASSERT_EQ(rc, RFC_OK);
        SAP_UC name[RFC_LONG_FUNCNAME_LN + 1] = {};
        ASSERT_EQ(RfcGetLongNameEx(registered, name, RFC_LONG_FUNCNAME_LN + 1), RFC_OK);
        served_name = sapsim::to_utf8(name);
        std::u16string who(30, u' ');
        RFC_INT times = 0;
        RFC_PARAMETER importing[] = {{u"NAME", 0, RFCTYPE_CHAR, 60, who.data()},
                                     {u"TIMES", 0, RFCTYPE_INT, sizeof times, &times}, end_parameters};
        RFC_TABLE no_tables[] = {end_tables};
        ASSERT_EQ(RfcGetData(registered, importing, no_tables), RFC_OK);
        while_busy = counts(program);

        // The program calls back into the system while it serves the call.
        std::u16string rfcsi(245, u' ');
        RFC_PARAMETER none[] = {end_parameters};
        RFC_PARAMETER info[] = {{u"RFCSI_EXPORT", 0, RFCTYPE_CHAR, 490, rfcsi.data()}, end_parameters};
        SAP_UC* exception = nullptr;
        ASSERT_EQ(RfcCallReceive(registered, u"RFC_SYSTEM_INFO", none, info, no_tables, &exception), RFC_OK);
        sysid = trimmed(rfcsi.data() + 53, 8);

        if (c.behaviour == Behaviour::raise) {
            ASSERT_EQ(RfcRaise(registered, u"GREETING_REFUSED"), RFC_OK);
        } else {
            std::u16string greeting =
                field("Hello " + trimmed(who.data(), 30) + " from " + sysid + " (" + std::to_string(times) + " times)", 100);
            ITAB_H lines = ItCreate(u"LINES", 80, 0, 0);
            for (const char* text : {"first line", "second line"}) {
                std::u16string row = field(text, 40);
                std::memcpy(ItAppLine(lines), row.data(), 80);
            }
            RFC_PARAMETER exporting[] = {{u"GREETING", 0, RFCTYPE_CHAR, 200, greeting.data()}, end_parameters};
            RFC_TABLE tables[] = {{u"LINES", 0, RFCTYPE_CHAR, 80, lines, RFC_ITMODE_BYREFERENCE, 0}, end_tables};
            ASSERT_EQ(RfcSendData(registered, exporting, tables), RFC_OK);
            ItDelete(lines);
        }
        // One registration serves one conversation: it ends when the system closes it.
        do
            rc = RfcWaitForRequest(registered, 5);
        while (rc == RFC_RETRY);
        EXPECT_EQ(rc, RFC_FAILURE);
    });

    std::string out, err;
    const int code = admin_call({"--program", program, "--function", "Z_TEST_GREET", "--param", "NAME=World", "--int",
                                 "TIMES=-3", "--import", "GREETING", "--table", "LINES"},
                                out, err);
    server.join();
    RfcClose(registered);
    EXPECT_EQ(code, c.exit_code) << out << err;
    EXPECT_EQ(served_name, "Z_TEST_GREET");
    EXPECT_EQ(sysid, "SIM");
    EXPECT_EQ(while_busy.total, 1);
    EXPECT_EQ(while_busy.busy, 1);
    for (const std::string& line : c.expected_lines)
        EXPECT_NE(out.find(line + "\n"), std::string::npos) << "missing '" << line << "' in:\n" << out << err;
}

INSTANTIATE_TEST_SUITE_P(
    Behaviours, AdminPath,
    ::testing::Values(AdminCase{"answer", Behaviour::answer, 0,
                                {"GREETING=Hello World from SIM (-3 times)", "LINES rows=2", "LINES: first line", "LINES: second line"}},
                      AdminCase{"raise", Behaviour::raise, 2, {"exception GREETING_REFUSED"}}),
    [](const ::testing::TestParamInfo<AdminCase>& case_info) { return std::string(case_info.param.what); });

TEST_F(Registered, DemoProgramAnswersTheAdminCommand)
{
    // The by-hand path: `sapsim register` in one process, `sapsim call` in another.
    const std::string program = unique_program("ZDEMO");
    vurude::test::ChildProcess demo;
    std::string error;
    ASSERT_TRUE(demo.start({SAPSIM_EXE, "register", "--port", std::to_string(sim_->port()), "--program", program, "--once"},
                           error))
        << error;
    ASSERT_TRUE(demo.wait_for_stdout("registered at", std::chrono::seconds(30))) << demo.stderr_text();
    std::string out, err;
    EXPECT_EQ(admin_call({"--program", program, "--function", "Z_DEMO_GREET", "--param", "NAME=Tester", "--import",
                          "GREETING=100", "--table", "LINES"},
                         out, err),
              0)
        << err;
    EXPECT_NE(out.find("GREETING=Hello Tester from SIM\n"), std::string::npos) << out;
    EXPECT_NE(out.find("LINES: system SIM\n"), std::string::npos) << out;
    const std::optional<int> status = demo.wait_exit(std::chrono::seconds(30));
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_NE(demo.stdout_text().find("call of Z_DEMO_GREET"), std::string::npos);
}

TEST_F(Registered, AdminCallErrors)
{
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int exit_code;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"nobody registered", {"--program", unique_program("ZNONE"), "--function", "Z_X"}, 3, "no idle registration"},
        {"wrong password", {"--password", "nope", "--program", "ZP", "--function", "Z_X"}, 1, "Name or password is incorrect"},
        {"bad parameter", {"--program", "ZP", "--function", "Z_X", "--param", "=x"}, 4, "bad parameter"},
        {"bad integer", {"--program", "ZP", "--function", "Z_X", "--int", "N=12x"}, 4, "bad integer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string out, err;
        EXPECT_EQ(admin_call(c.args, out, err), c.exit_code) << out << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_EQ(err.find("nope"), std::string::npos) << "a password is never printed";
    }
}

} // namespace
