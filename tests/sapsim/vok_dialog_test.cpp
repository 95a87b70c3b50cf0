// The VOK dialog module against a running sapsim: the test logs on, calls the
// module with PDEST "BACK" and serves its callbacks as the VOK server does,
// with the server's parameter sizes.
#include "sapsim_process.h"

#include "sapsim/text.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <ostream>
#include <utility>

namespace {

using sapsim_test::field;
using sapsim_test::SapsimProcess;
using sapsim_test::trimmed;

constexpr RFC_PARAMETER end_parameters{nullptr, 0, 0, 0, nullptr};
constexpr RFC_TABLE end_tables{nullptr, 0, 0, 0, nullptr, 0, 0};

const std::string grp = "Z_VOK_GET_REQUEST_PARAMETERS";
const std::string genprog = "Z_VOK_GENPROG";
const std::string ssi = "Z_VOK_SEND_SYSTEM_INFO";

using Parameters = std::vector<std::pair<std::string, std::string>>;

// What a connect request answers: FUNC_FLAG "I", the read report and the variant.
Parameters logon_parameters()
{
    return {{"FUNC_FLAG", "I"}, {"ABAPPROG", "/VOK/Z_VOK_READ"}, {"VARIANT", "VOKVAR"}};
}

// The server's side of one dialog call: serves the module's callbacks with the
// sizes the server uses and records what arrived.
class DialogCaller {
public:
    explicit DialogCaller(RFC_HANDLE handle) : handle_(handle) {}

    // Answer to Z_VOK_GET_REQUEST_PARAMETERS; each value is sent at its own
    // length, as the server sends it.
    Parameters parameters = logon_parameters();
    std::vector<std::string> jdata;  // lines written into JDATA
    std::string raise_in;            // callback the caller answers with CALLER_SAYS_NO
    std::string abort_in;            // callback the caller aborts

    // Called back, in order.
    std::vector<std::string> callbacks;
    // Z_VOK_GENPROG.
    std::string rc, dhandle;
    std::vector<std::string> ltab;
    unsigned ltab_line_bytes = 0;
    // Z_VOK_SEND_SYSTEM_INFO.
    std::string sysinfo, batdest, batprid, batgwh, batgws, batgwfl, batmess;
    // Name of the exception of the call (RFC_EXCEPTION).
    std::string exception;

    RFC_RC call(const std::string& module, const std::string& pdest = "BACK", const std::string& preport = "")
    {
        const std::u16string name = sapsim::to_utf16(module), dest = sapsim::to_utf16(pdest),
                             report = sapsim::to_utf16(preport);
        std::vector<RFC_PARAMETER> exporting = {
            {u"PDEST", 0, RFCTYPE_CHAR, static_cast<unsigned>(dest.size() * 2), const_cast<char16_t*>(dest.data())}};
        if (!preport.empty())
            exporting.push_back({u"PREPORT", 0, RFCTYPE_CHAR, static_cast<unsigned>(report.size() * 2),
                                 const_cast<char16_t*>(report.data())});
        exporting.push_back(end_parameters);
        RFC_PARAMETER none[] = {end_parameters};
        RFC_TABLE no_tables[] = {end_tables};
        RFC_RC rc_call = RfcCall(handle_, name.c_str(), exporting.data(), no_tables);
        SAP_UC* raised = nullptr;
        while (rc_call == RFC_OK) {
            rc_call = RfcReceive(handle_, none, no_tables, &raised);
            if (rc_call != RFC_CALL)
                break;
            if (!serve())
                return RFC_FAILURE;
            rc_call = RFC_OK;
        }
        if (rc_call == RFC_EXCEPTION && raised != nullptr)
            exception = sapsim::to_utf8(raised);
        return rc_call;
    }

private:
    // Serves one callback; false when the connection is gone.
    bool serve()
    {
        SAP_UC raw[201] = {};
        if (RfcGetName(handle_, raw) != RFC_OK)
            return false;
        const std::string name = sapsim::to_utf8(raw);
        callbacks.push_back(name);
        if (name == abort_in) {
            RfcAbort(handle_, u"Aborted by the test");
            return false;
        }
        if (name == grp)
            return request_parameters();
        if (name == genprog)
            return program_lines();
        if (name == ssi)
            return system_info();
        RfcAbort(handle_, u"Function not supported by VOK RFC Server");
        return false;
    }

    bool answer(RFC_PARAMETER* exporting, RFC_TABLE* tables, const std::string& name)
    {
        if (name == raise_in)
            return RfcRaise(handle_, u"CALLER_SAYS_NO") == RFC_OK;
        return RfcSendData(handle_, exporting, tables) == RFC_OK;
    }

    bool request_parameters()
    {
        RFC_PARAMETER none[] = {end_parameters};
        RFC_TABLE tables[] = {{u"MDATA", 0, RFCTYPE_CHAR, 144, nullptr, RFC_ITMODE_BYREFERENCE, 0},
                              {u"JDATA", 0, RFCTYPE_CHAR, 144, nullptr, RFC_ITMODE_BYREFERENCE, 0}, end_tables};
        if (RfcGetData(handle_, none, tables) != RFC_OK)
            return false;
        for (const std::string& text : jdata) {
            const std::u16string line = field(text, 72);
            std::memcpy(ItAppLine(tables[1].ithandle), line.data(), 144);
        }
        std::vector<std::u16string> names, values;
        std::vector<RFC_PARAMETER> exporting;
        names.reserve(parameters.size());
        values.reserve(parameters.size());
        for (const auto& [n, v] : parameters) {
            names.push_back(sapsim::to_utf16(n));
            values.push_back(sapsim::to_utf16(v));
            exporting.push_back({names.back().c_str(), 0, RFCTYPE_CHAR, static_cast<unsigned>(values.back().size() * 2),
                                 values.back().data()});
        }
        exporting.push_back(end_parameters);
        const bool ok = answer(exporting.data(), tables, grp);
        ItDelete(tables[0].ithandle);
        ItDelete(tables[1].ithandle);
        return ok;
    }

    bool program_lines()
    {
        std::u16string rc16(8, u' '), dhandle16(130, u' ');
        RFC_PARAMETER importing[] = {{u"RC", 0, RFCTYPE_CHAR, 16, rc16.data()},
                                     {u"DHANDLE", 0, RFCTYPE_CHAR, 260, dhandle16.data()}, end_parameters};
        RFC_TABLE tables[] = {{u"LTAB", 0, RFCTYPE_CHAR, 510, nullptr, RFC_ITMODE_BYREFERENCE, 0}, end_tables};
        if (RfcGetData(handle_, importing, tables) != RFC_OK)
            return false;
        rc = trimmed(rc16.data(), 8);
        dhandle = trimmed(dhandle16.data(), 130);
        ltab_line_bytes = ItLeng(tables[0].ithandle);
        for (unsigned i = 1; i <= ItFill(tables[0].ithandle); ++i)
            ltab.push_back(trimmed(static_cast<const char16_t*>(ItGetLine(tables[0].ithandle, i)), ltab_line_bytes / 2));
        RFC_PARAMETER none[] = {end_parameters};
        const bool ok = answer(none, tables, genprog);
        ItDelete(tables[0].ithandle);
        return ok;
    }

    bool system_info()
    {
        std::u16string values[7] = {std::u16string(200, u' ')};
        for (int i = 1; i < 7; ++i)
            values[i] = std::u16string(i == 5 ? 1 : 250, u' ');
        const char16_t* names[7] = {u"SYSINFO", u"BATDEST", u"BATPRID", u"BATGWH", u"BATGWS", u"BATGWFL", u"BATMESS"};
        RFC_PARAMETER importing[8];
        for (int i = 0; i < 7; ++i)
            importing[i] = {names[i], 0, RFCTYPE_CHAR, static_cast<unsigned>(values[i].size() * 2), values[i].data()};
        importing[7] = end_parameters;
        RFC_TABLE no_tables[] = {end_tables};
        if (RfcGetData(handle_, importing, no_tables) != RFC_OK)
            return false;
        std::string* targets[7] = {&sysinfo, &batdest, &batprid, &batgwh, &batgws, &batgwfl, &batmess};
        for (int i = 0; i < 7; ++i)
            *targets[i] = trimmed(values[i].data(), values[i].size());
        RFC_PARAMETER none[] = {end_parameters};
        return answer(none, no_tables, ssi);
    }

    RFC_HANDLE handle_;
};

std::string short_host_name()
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    const std::string full = name;
    return full.substr(0, full.find('.'));
}

bool ping(RFC_HANDLE handle)
{
    RFC_PARAMETER none[] = {end_parameters};
    RFC_TABLE no_tables[] = {end_tables};
    SAP_UC* exception = nullptr;
    return RfcCallReceive(handle, u"RFC_PING", none, none, no_tables, &exception) == RFC_OK;
}

// One sapsim with the default options, shared by the suite; each test logs on anew.
class VokDialog : public ::testing::Test {
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

    static SapsimProcess* sim_;
    RFC_HANDLE handle_ = RFC_HANDLE_NULL;
};

SapsimProcess* VokDialog::sim_ = nullptr;

TEST_F(VokDialog, LogonGetsTheSystemInformationAndTheGatewayDefaults)
{
    // Twice on one connection: the first dialog leaves nothing behind.
    for (int round = 0; round < 2; ++round) {
        DialogCaller caller(handle_);
        ASSERT_EQ(caller.call("/VOK/Z_VOK_DIALOG"), RFC_OK) << sapsim_test::describe(sapsim_test::last_error());
        EXPECT_EQ(caller.callbacks, (std::vector<std::string>{grp, ssi}));
        EXPECT_EQ(caller.sysinfo, "SIM," + short_host_name() + ",00,100,DEMO,E,754,753,SQLITE,Linux,");
        EXPECT_EQ(caller.batdest, "VOKBATCH");
        EXPECT_EQ(caller.batprid, "VOKBATCH");
        EXPECT_EQ(caller.batgwh, "127.0.0.1");
        EXPECT_EQ(caller.batgws, std::to_string(sim_->port()));
        EXPECT_EQ(caller.batgwfl, "X");
        EXPECT_EQ(caller.batmess, "");
    }
}

struct DebugCase {
    const char* label;
    std::optional<std::string> debug;  // nullopt: DEBUG not sent, as by a connect request
    bool shows_program;
};

void PrintTo(const DebugCase& c, std::ostream* os)
{
    *os << c.label;
}

class VokDialogDebug : public VokDialog, public ::testing::WithParamInterface<DebugCase> {};

TEST_P(VokDialogDebug, ProgramLinesComeBeforeTheSystemInformation)
{
    DialogCaller caller(handle_);
    if (GetParam().debug) {
        caller.parameters.push_back({"DEBUG", *GetParam().debug});
        caller.parameters.push_back({"DHANDLE", "0007000055D1C0A81230"});
    }
    ASSERT_EQ(caller.call("/VOK/Z_VOK_DIALOG"), RFC_OK) << sapsim_test::describe(sapsim_test::last_error());
    if (!GetParam().shows_program) {
        EXPECT_EQ(caller.callbacks, (std::vector<std::string>{grp, ssi}));
        return;
    }
    EXPECT_EQ(caller.callbacks, (std::vector<std::string>{grp, genprog, ssi}));
    EXPECT_EQ(caller.rc, "0");
    EXPECT_EQ(caller.dhandle, "0007000055D1C0A81230");
    EXPECT_EQ(caller.ltab_line_bytes, 510u);
    EXPECT_EQ(caller.ltab, (std::vector<std::string>{
                               "* /VOK/Z_VOK_DIALOG: request I (logon)",
                               "* System SIM, client 100, user DEMO",
                               "* Read report /VOK/Z_VOK_READ, variant VOKVAR",
                               "* Data handle 0007000055D1C0A81230",
                               "* Nothing to run: the system information follows",
                           }));
    EXPECT_FALSE(caller.sysinfo.empty());
}

INSTANTIATE_TEST_SUITE_P(Flags, VokDialogDebug,
                         ::testing::Values(DebugCase{"NotSent", std::nullopt, false}, DebugCase{"Blank", " ", false},
                                           DebugCase{"No", "N", false}, DebugCase{"Yes", "Y", true},
                                           DebugCase{"AnyOther", "X", true}),
                         [](const auto& test) { return std::string(test.param.label); });

struct UnsupportedCase {
    const char* label;
    Parameters parameters;
    std::vector<std::string> jdata;
    std::vector<std::string> callbacks;
    std::vector<std::string> program;  // expected LTAB lines when shown
};

void PrintTo(const UnsupportedCase& c, std::ostream* os)
{
    *os << c.label;
}

class VokDialogUnsupported : public VokDialog, public ::testing::WithParamInterface<UnsupportedCase> {};

TEST_P(VokDialogUnsupported, RaisesRequestNotSupportedAfterTheProgram)
{
    DialogCaller caller(handle_);
    caller.parameters = GetParam().parameters;
    caller.jdata = GetParam().jdata;
    EXPECT_EQ(caller.call("/VOK/Z_VOK_DIALOG"), RFC_EXCEPTION);
    EXPECT_EQ(caller.exception, "REQUEST_NOT_SUPPORTED");
    EXPECT_EQ(caller.callbacks, GetParam().callbacks);
    EXPECT_EQ(caller.ltab, GetParam().program);
    EXPECT_TRUE(caller.sysinfo.empty());
    EXPECT_TRUE(ping(handle_)) << "the connection stays usable";
}

INSTANTIATE_TEST_SUITE_P(
    Requests, VokDialogUnsupported,
    ::testing::Values(
        UnsupportedCase{"StatementWithLogonFlag",
                        {{"FUNC_FLAG", "X"}, {"DEBUG", "Y"}},
                        {"sselect", "T,SCARR,,"},
                        {grp, genprog},
                        {"* /VOK/Z_VOK_DIALOG: request X (unknown)", "* System SIM, client 100, user DEMO",
                         "* Read report none, variant none", "* Statement: 2 JDATA lines, 0 MDATA lines",
                         "* Not supported by this system: the module raises REQUEST_NOT_SUPPORTED"}},
        UnsupportedCase{"FunctionWithOtherFlag", {{"FUNC_FLAG", "X"}, {"FUNC_NAME", "Z_VOK_ECHO"}}, {}, {grp}, {}},
        UnsupportedCase{"NoFuncFlag", {}, {}, {grp}, {}}),
    [](const auto& test) { return std::string(test.param.label); });

struct ExceptionCase {
    const char* label;
    std::string raise_in;
    std::vector<std::string> callbacks;
    std::string exception;
};

void PrintTo(const ExceptionCase& c, std::ostream* os)
{
    *os << c.label;
}

class VokDialogCallerRaises : public VokDialog, public ::testing::WithParamInterface<ExceptionCase> {};

TEST_P(VokDialogCallerRaises, TheDialogEndsWithAnException)
{
    DialogCaller caller(handle_);
    caller.parameters.push_back({"DEBUG", "Y"});
    caller.raise_in = GetParam().raise_in;
    EXPECT_EQ(caller.call("/VOK/Z_VOK_DIALOG"), RFC_EXCEPTION);
    EXPECT_EQ(caller.exception, GetParam().exception);
    EXPECT_EQ(caller.callbacks, GetParam().callbacks);
    EXPECT_TRUE(ping(handle_)) << "the connection stays usable";
}

INSTANTIATE_TEST_SUITE_P(
    Callbacks, VokDialogCallerRaises,
    ::testing::Values(ExceptionCase{"RequestParameters", grp, {grp}, "NO_REQUEST_PARAMETERS"},
                      ExceptionCase{"GeneratedProgram", genprog, {grp, genprog}, "CALLER_SAYS_NO"},
                      ExceptionCase{"SystemInformation", ssi, {grp, genprog, ssi}, "CALLER_SAYS_NO"}),
    [](const auto& test) { return std::string(test.param.label); });

struct ArgumentCase {
    const char* label;
    std::string pdest, preport, exception;
};

void PrintTo(const ArgumentCase& c, std::ostream* os)
{
    *os << c.label;
}

class VokDialogArguments : public VokDialog, public ::testing::WithParamInterface<ArgumentCase> {};

TEST_P(VokDialogArguments, RefusedWithoutCallingBack)
{
    DialogCaller caller(handle_);
    EXPECT_EQ(caller.call("/VOK/Z_VOK_DIALOG", GetParam().pdest, GetParam().preport), RFC_EXCEPTION);
    EXPECT_EQ(caller.exception, GetParam().exception);
    EXPECT_TRUE(caller.callbacks.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Exports, VokDialogArguments,
    ::testing::Values(ArgumentCase{"OtherDestination", "NONE", "", "DESTINATION_NOT_SUPPORTED"},
                      ArgumentCase{"NoDestination", "", "", "DESTINATION_NOT_SUPPORTED"},
                      ArgumentCase{"BatchReport", "BACK", "/VOK/Z_VOK_READ", "REQUEST_NOT_SUPPORTED"}),
    [](const auto& test) { return std::string(test.param.label); });

TEST_F(VokDialog, CallerThatAbortsACallbackEndsOnlyItsOwnConnection)
{
    DialogCaller caller(handle_);
    caller.abort_in = grp;
    EXPECT_NE(caller.call("/VOK/Z_VOK_DIALOG"), RFC_OK);
    EXPECT_TRUE(sim_->process().wait_for_stderr("callback " + grp + " failed", std::chrono::seconds(30)))
        << sim_->process().stderr_text();

    const RFC_HANDLE again = sim_->open_demo();
    ASSERT_NE(again, RFC_HANDLE_NULL);
    DialogCaller next(again);
    EXPECT_EQ(next.call("/VOK/Z_VOK_DIALOG"), RFC_OK);
    RfcClose(again);
}

// Logs on to `sim` and runs one logon dialog of `module`.
DialogCaller logon_dialog(const SapsimProcess& sim, const std::string& module, RFC_RC& rc)
{
    const RFC_HANDLE handle = sim.open_demo();
    DialogCaller caller(handle);
    rc = handle == RFC_HANDLE_NULL ? RFC_FAILURE : caller.call(module);
    RfcClose(handle);
    return caller;
}

TEST(VokDialogOptions, GatewayValuesComeFromTheCommandLine)
{
    RfcInit();
    SapsimProcess sim({"--sysid", "TST", "--batch-dest", "VOKDEST", "--batch-program", "ZVOK_JOBS", "--batch-gwhost",
                       "gw.example.org", "--batch-gwserv", "sapgw42", "--batch-gwflag", "", "--batch-message",
                       "Batch extractions are switched off, use dialog"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    RFC_RC rc;
    const DialogCaller caller = logon_dialog(sim, "/VOK/Z_VOK_DIALOG", rc);
    ASSERT_EQ(rc, RFC_OK);
    EXPECT_EQ(caller.sysinfo.substr(0, 4), "TST,");
    EXPECT_EQ(caller.batdest, "VOKDEST");
    EXPECT_EQ(caller.batprid, "ZVOK_JOBS");
    EXPECT_EQ(caller.batgwh, "gw.example.org");
    EXPECT_EQ(caller.batgws, "sapgw42");
    EXPECT_EQ(caller.batgwfl, "");
    EXPECT_EQ(caller.batmess, "Batch extractions are switched off, use dialog");
}

TEST(VokDialogOptions, DefaultsFollowTheProgramIdAndTheListenAddress)
{
    RfcInit();
    // Listening on all addresses, the gateway host is the machine's name.
    SapsimProcess sim({"--host", "0.0.0.0", "--batch-program", "ZVOK_JOBS"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    RFC_RC rc;
    const DialogCaller caller = logon_dialog(sim, "/VOK/Z_VOK_DIALOG", rc);
    ASSERT_EQ(rc, RFC_OK);
    EXPECT_EQ(caller.batdest, "ZVOK_JOBS");
    EXPECT_EQ(caller.batprid, "ZVOK_JOBS");
    EXPECT_NE(caller.batgwh, "0.0.0.0");
    EXPECT_EQ(caller.batgwh.substr(0, caller.batgwh.find('.')), short_host_name());
    EXPECT_EQ(caller.batgws, std::to_string(sim.port()));
}

TEST(VokDialogOptions, ModuleNamesFromPrefixAndDialogModule)
{
    RfcInit();
    SapsimProcess sim({"--name-prefix", "/abc/", "--dialog-module", "zmy_dialog", "--dialog-module", "ZMY_DIALOG",
                       "--dialog-module", "/ABC/Z_VOK_DIALOG"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    for (const char* module : {"/ABC/Z_VOK_DIALOG", "ZMY_DIALOG"}) {
        RFC_RC rc;
        const DialogCaller caller = logon_dialog(sim, module, rc);
        EXPECT_EQ(rc, RFC_OK) << module;
        EXPECT_EQ(caller.callbacks, (std::vector<std::string>{grp, ssi})) << module;
    }
    RFC_RC rc;
    logon_dialog(sim, "/VOK/Z_VOK_DIALOG", rc);
    EXPECT_EQ(rc, RFC_SYS_EXCEPTION);
    EXPECT_EQ(trimmed(sapsim_test::last_error().key, RFC_ERROR_KEY_LN), "FU_NOT_FOUND");
}

TEST(VokDialogOptions, ProgramLinesNameTheModuleCalled)
{
    RfcInit();
    SapsimProcess sim({"--dialog-module", "ZMY_DIALOG"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    const RFC_HANDLE handle = sim.open_demo();
    ASSERT_NE(handle, RFC_HANDLE_NULL);
    DialogCaller caller(handle);
    caller.parameters.push_back({"DEBUG", "Y"});
    ASSERT_EQ(caller.call("ZMY_DIALOG"), RFC_OK);
    ASSERT_FALSE(caller.ltab.empty());
    EXPECT_EQ(caller.ltab.front(), "* ZMY_DIALOG: request I (logon)");
    RfcClose(handle);
}

struct BadOption {
    const char* label;
    std::vector<std::string> args;
};

void PrintTo(const BadOption& c, std::ostream* os)
{
    *os << c.label;
}

class VokDialogBadOptions : public ::testing::TestWithParam<BadOption> {};

TEST_P(VokDialogBadOptions, RefusedWithExitCode2)
{
    vurude::test::TempDir data;
    vurude::test::ChildProcess child;
    std::vector<std::string> argv = {SAPSIM_EXE, "--data", data.path(), "--port", "0"};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    std::string error;
    ASSERT_TRUE(child.start(argv, error)) << error;
    const std::optional<int> status = child.wait_exit(std::chrono::seconds(30));
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 2) << child.stderr_text();
    EXPECT_NE(child.stderr_text().find(GetParam().args.front()), std::string::npos) << child.stderr_text();
    EXPECT_EQ(child.stdout_text().find("listening"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Options, VokDialogBadOptions,
    ::testing::Values(BadOption{"PrefixTooLong", {"--name-prefix", "/ABCDEFGHIJKLMNOPQ/"}},
                      BadOption{"PrefixWithBlank", {"--name-prefix", "/A B/"}},
                      BadOption{"ModuleNameTooLong", {"--dialog-module", std::string(31, 'Z')}},
                      BadOption{"ModuleNameTaken", {"--dialog-module", "rfc_ping"}},
                      BadOption{"EmptyModuleName", {"--dialog-module", ""}},
                      BadOption{"ProgramWithBlank", {"--batch-program", "VOK BATCH"}},
                      BadOption{"EmptyDestination", {"--batch-dest", ""}},
                      BadOption{"HostTooLong", {"--batch-gwhost", std::string(101, 'h')}},
                      BadOption{"FlagTooLong", {"--batch-gwflag", "XY"}},
                      BadOption{"MessageTooLong", {"--batch-message", std::string(251, 'm')}}),
    [](const auto& test) { return std::string(test.param.label); });

} // namespace
