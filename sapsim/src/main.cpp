// sapsim: the simulated SAP system (docs/sapsim.md).
//   sapsim [--data DIR] [--port N | --sysnr NN] [--host ADDR] [--log-level L]   run the system
//          [--name-prefix P] [--dialog-module NAME]... [--read-report NAME]...
//          [--dialog-row-limit N] [--batch-* VALUE]...
//   sapsim call --port N --program PROGID --function NAME [--param NAME=VALUE]... call a registered program
//   sapsim load --data DIR [--dictionary FILE] DATA.csv...                       load tables from CSV
//   sapsim register --port N [--program PROGID] [--once]                          a demo registered program
#include "sapsim/admin_client.h"
#include "sapsim/application_server.h"
#include "sapsim/demo_program.h"
#include "sapsim/function_registry.h"
#include "sapsim/logger.h"
#include "sapsim/store.h"
#include "sapsim/system_config.h"
#include "sapsim/text.h"
#include "sapsim/vok_dialog_module.h"

#include "rfclib/rfclib.h"

#include <CLI/CLI.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <pthread.h>

namespace {

struct RunOptions {
    std::string data = "sapsim-data";
    int port = -1;
    int sysnr = 0;
    std::string host = "127.0.0.1";
    std::string log_level = "info";
    std::string sysid = "SIM";
    std::int64_t bookings = 1'000'000;
    std::string name_prefix = "/VOK/";
    std::vector<std::string> dialog_modules;
    std::vector<std::string> read_reports;
    std::int64_t dialog_row_limit = 100000;
    sapsim::BatchGateway batch;
};

struct LoadOptions {
    std::string data = "sapsim-data";
    std::string dictionary;
    std::vector<std::string> files;
};

std::atomic<bool> stop_requested{false};

extern "C" void request_stop(int)
{
    stop_requested = true;
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// Option checks: an empty result accepts the value, anything else is the message.

// ABAP names (module names, the name prefix): letters, digits, '_' and '/'.
std::function<std::string(const std::string&)> abap_name(size_t min_chars, size_t max_chars)
{
    return [=](const std::string& value) -> std::string {
        if (value.size() < min_chars || value.size() > max_chars)
            return "must have " + std::to_string(min_chars) + " to " + std::to_string(max_chars) + " characters";
        for (const unsigned char c : value)
            if (!std::isalnum(c) && c != '_' && c != '/')
                return "may hold only letters, digits, '_' and '/'";
        return {};
    };
}

// Texts the dialog module hands on in fixed fields; the server cuts gateway
// values at their first blank, so those may hold none.
std::function<std::string(const std::string&)> field_text(size_t min_chars, size_t max_chars, bool blanks)
{
    return [=](const std::string& value) -> std::string {
        const size_t chars = sapsim::to_utf16(value).size();
        if (chars < min_chars || chars > max_chars)
            return "must have " + std::to_string(min_chars) + " to " + std::to_string(max_chars) + " characters";
        if (!blanks && value.find(' ') != std::string::npos)
            return "may hold no blank";
        return {};
    };
}

// The listen address: a numeric IPv4 address, as the gateway binds it.
std::string numeric_address(const std::string& value)
{
    in_addr address{};
    if (inet_pton(AF_INET, value.c_str(), &address) != 1)
        return "'" + value + "' is not a numeric IPv4 address (0.0.0.0 listens on all)";
    return {};
}

// Whether the gateway could listen on host:port now: a port in use or an
// address of another machine fails the start before anything is written.
// Port 0 always finds one. The gateway binds for itself later.
bool can_listen(const std::string& host, unsigned short port, std::string& error)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot listen: ") + std::strerror(errno);
        return false;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    const int bind_errno = errno;
    close(fd);
    if (!bound)
        error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + std::strerror(bind_errno);
    return bound;
}

bool set_log_level(const std::string& text)
{
    sapsim::LogLevel level;
    if (!sapsim::parse_log_level(text, level)) {
        std::cerr << "sapsim: unknown log level '" << text << "' (trace, debug, info, warning, error, off)\n";
        return false;
    }
    sapsim::Logger::instance().set_level(level);
    return true;
}

int run_system(const RunOptions& options)
{
    if (!set_log_level(options.log_level))
        return 2;
    sapsim::SystemConfig config;
    config.sysid = options.sysid;
    config.sysnr = options.sysnr;
    // Function module names are upper case, as the server's name prefix is.
    config.name_prefix = upper(options.name_prefix);
    for (const std::string& name : options.dialog_modules)
        config.dialog_modules.push_back(upper(name));
    for (const std::string& name : options.read_reports)
        config.read_reports.push_back(upper(name));
    config.dialog_row_limit = options.dialog_row_limit;
    config.batch = options.batch;
    sapsim::FunctionRegistry registry = sapsim::FunctionRegistry::with_standard_modules();
    std::string error;
    if (!sapsim::add_vok_dialog_modules(registry, config, error)) {
        std::cerr << "sapsim: --dialog-module: " << error << "\nRun with --help for more information.\n";
        return 2;
    }
    // Signals are taken by sigwait on the main thread only: block them before
    // any thread starts so that every thread inherits the mask.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // The last check that can fail the start comes before the store is
    // opened: a first start writes a large one.
    const unsigned short port = static_cast<unsigned short>(options.port >= 0 ? options.port : 3300 + options.sysnr);
    if (!can_listen(options.host, port, error)) {
        SAPSIM_LOG(error, 0) << error;
        return 1;
    }

    sapsim::StoreOptions store_options;
    store_options.bookings = options.bookings;
    SAPSIM_LOG(info, 0) << "opening the store in " << options.data;
    std::unique_ptr<sapsim::Store> store = sapsim::Store::open(options.data, store_options, error);
    if (!store) {
        SAPSIM_LOG(error, 0) << error;
        return 1;
    }
    if (store->created())
        SAPSIM_LOG(info, 0) << "created a new store with sample data (" << options.bookings << " bookings)";

    config.detect_host();
    config.batch.resolve(options.host, config.fqdn);

    RfcInit();
    sapsim::ApplicationServer server(*store, registry, config);
    if (!server.start(options.host, port, error)) {
        SAPSIM_LOG(error, 0) << error;
        return 1;
    }
    SAPSIM_LOG(info, 0) << "system " << config.sysid << " (" << config.sysnr << ") on " << options.host << ":" << server.port()
                        << ", " << registry.names().size() << " function modules";
    std::string dialog_names;
    for (const std::string& name : config.dialog_module_names())
        dialog_names += (dialog_names.empty() ? "" : ", ") + name;
    SAPSIM_LOG(info, 0) << "VOK dialog module " << dialog_names << "; background jobs call program "
                        << config.batch.program_id << " at " << config.batch.gwhost << ":"
                        << config.batch.service(server.port()) << " through destination " << config.batch.destination
                        << (config.batch.message.empty() ? "" : " (batch requests refused)");
    std::string report_names;
    for (const std::string& name : config.read_report_names())
        report_names += (report_names.empty() ? "" : ", ") + name;
    SAPSIM_LOG(info, 0) << "VOK read report " << report_names << "; dialog row limit "
                        << (config.dialog_row_limit > 0 ? std::to_string(config.dialog_row_limit) : std::string("none"));
    std::printf("sapsim listening on port %u\n", static_cast<unsigned>(server.port()));
    std::fflush(stdout);

    int signo = 0;
    sigwait(&stop_signals, &signo);
    SAPSIM_LOG(info, 0) << "signal " << signo << " received, stopping";
    server.stop();
    SAPSIM_LOG(info, 0) << "stopped";
    return 0;
}

int load_tables(const LoadOptions& options)
{
    std::string error;
    sapsim::StoreOptions store_options;
    std::unique_ptr<sapsim::Store> store = sapsim::Store::open(options.data, store_options, error);
    if (!store) {
        std::cerr << "sapsim load: " << error << "\n";
        return 1;
    }
    std::vector<std::filesystem::path> files(options.files.begin(), options.files.end());
    std::optional<std::filesystem::path> dictionary;
    if (!options.dictionary.empty())
        dictionary = options.dictionary;
    if (!store->load_csv(dictionary, files, error)) {
        std::cerr << "sapsim load: " << error << " (nothing was loaded)\n";
        return 1;
    }
    std::cout << "loaded " << files.size() << " data file(s)" << (dictionary ? " and the dictionary" : "") << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"sapsim: a simulated SAP system (gateway and application server) for tests and demos"};
    app.set_version_flag("--version", "sapsim 4.2");

    RunOptions run;
    app.add_option("--data", run.data, "Data folder; the store is created there on first start")->capture_default_str();
    app.add_option("--port", run.port, "Gateway port (0: any free port)")->check(CLI::Range(0, 65535));
    app.add_option("--sysnr", run.sysnr, "System number NN: gateway port 33NN unless --port is given")
        ->check(CLI::Range(0, 99))
        ->capture_default_str();
    app.add_option("--host", run.host, "Numeric IPv4 address to listen on (0.0.0.0: all)")
        ->check(numeric_address)
        ->capture_default_str();
    app.add_option("--log-level", run.log_level, "trace, debug, info, warning, error or off")->capture_default_str();
    app.add_option("--sysid", run.sysid, "System id (3 characters)")->check([](const std::string& s) {
        return s.size() == 3 ? std::string() : std::string("the system id has 3 characters");
    })->capture_default_str();
    app.add_option("--bookings", run.bookings, "Rows of SBOOK in client 100 made when the store is created")
        ->check(CLI::Range(std::int64_t{0}, std::int64_t{100'000'000}))
        ->capture_default_str();
    app.add_option("--name-prefix", run.name_prefix, "ABAP name prefix of the VOK modules (dialog module: PREFIX + Z_VOK_DIALOG)")
        ->check(abap_name(0, 30 - std::string("Z_VOK_DIALOG").size()))
        ->capture_default_str();
    app.add_option("--dialog-module", run.dialog_modules, "Another name of the VOK dialog module (repeatable)")
        ->check(abap_name(1, 30));
    app.add_option("--read-report", run.read_reports, "Another name of the VOK read report (repeatable)")
        ->check(abap_name(1, 40));
    app.add_option("--dialog-row-limit", run.dialog_row_limit,
                   "Rows a select may return in a dialog unless the server sends DIALOG_FLAG X (0: no limit)")
        ->check(CLI::Range(std::int64_t{0}, std::int64_t{1'000'000'000'000}))
        ->capture_default_str();
    using sapsim::BatchGateway;
    app.add_option("--batch-dest", run.batch.destination, "RFC destination of the batch program (default: its program id)")
        ->check(field_text(1, BatchGateway::destination_chars, false));
    app.add_option("--batch-program", run.batch.program_id, "Program id background jobs call at the gateway")
        ->check(field_text(1, BatchGateway::program_id_chars, false))
        ->capture_default_str();
    app.add_option("--batch-gwhost", run.batch.gwhost, "Gateway host of the batch program (default: the --host address)")
        ->check(field_text(1, BatchGateway::gwhost_chars, false));
    app.add_option("--batch-gwserv", run.batch.gwserv, "Gateway service of the batch program (default: the gateway port)")
        ->check(field_text(1, BatchGateway::gwserv_chars, false));
    app.add_option("--batch-gwflag", run.batch.gwflag, "Gateway flag of the batch program (one character, \"\" for blank)")
        ->check(field_text(0, BatchGateway::gwflag_chars, true))
        ->capture_default_str();
    app.add_option("--batch-message", run.batch.message, "When set, the server refuses batch requests with this text")
        ->check(field_text(0, BatchGateway::message_chars, true));

    sapsim::AdminCallOptions call;
    CLI::App* call_cmd = app.add_subcommand("call", "Have the running system call a function of a registered program");
    call_cmd->add_option("--host", call.host, "Host of the running sapsim")->capture_default_str();
    call_cmd->add_option("--port", call.port, "Its gateway port")->required()->check(CLI::Range(1, 65535));
    call_cmd->add_option("--client", call.client, "Logon client")->capture_default_str();
    call_cmd->add_option("--user", call.user, "Logon user")->capture_default_str();
    call_cmd->add_option("--password", call.password, "Logon password (default: the demo admin's)");
    call_cmd->add_option("--program", call.program, "Program id of the registered server program")->required();
    call_cmd->add_option("--function", call.function, "Function to call")->required();
    call_cmd->add_option("--param", call.params, "NAME=VALUE: a character value sent (repeatable)");
    call_cmd->add_option("--int", call.integers, "NAME=N: a 4-byte integer sent (repeatable)");
    call_cmd->add_option("--import", call.imports, "NAME[=CHARS]: a character value received, default 255 (repeatable)");
    call_cmd->add_option("--table", call.tables, "NAME[=LINE_BYTES]: a table received (repeatable)");

    LoadOptions load;
    CLI::App* load_cmd = app.add_subcommand("load", "Load tables from CSV files into the store (docs/sapsim.md)");
    load_cmd->add_option("--data", load.data, "Data folder")->capture_default_str();
    load_cmd->add_option("--dictionary", load.dictionary, "Dictionary CSV defining new tables")->check(CLI::ExistingFile);
    load_cmd->add_option("files", load.files, "Data CSV files, each named <TABLE>.csv")->check(CLI::ExistingFile);

    sapsim::DemoProgramOptions demo;
    CLI::App* register_cmd =
        app.add_subcommand("register", "Register a demo server program that serves calls made with 'sapsim call'");
    register_cmd->add_option("--host", demo.host, "Host of the running sapsim")->capture_default_str();
    register_cmd->add_option("--port", demo.port, "Its gateway port")->required()->check(CLI::Range(1, 65535));
    register_cmd->add_option("--program", demo.program, "Program id to register under")->capture_default_str();
    register_cmd->add_flag("--once", demo.once, "Stop after the first conversation");

    app.require_subcommand(0, 1);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help and --version end here with 0; every bad option with 2.
        return app.exit(e) == 0 ? 0 : 2;
    }

    // The options before a command are the system's own; given to a command
    // they would be ignored (a --data meant for load would load elsewhere).
    for (const CLI::App* command : {call_cmd, load_cmd, register_cmd}) {
        if (!command->parsed())
            continue;
        for (const CLI::Option* option : app.get_options()) {
            if (option->count() > 0) {
                std::cerr << "sapsim " << command->get_name() << ": " << option->get_name()
                          << " is an option of the running system; give the command's options after '"
                          << command->get_name() << "'\nRun with --help for more information.\n";
                return 2;
            }
        }
    }
    if (load_cmd->parsed() && load.files.empty() && load.dictionary.empty()) {
        std::cerr << "sapsim load: give a dictionary or data files to load\nRun with --help for more information.\n";
        return 2;
    }

    if (call_cmd->parsed()) {
        if (!set_log_level("warning"))
            return 2;
        return sapsim::AdminClient::run(call, std::cout, std::cerr);
    }
    if (load_cmd->parsed())
        return load_tables(load);
    if (register_cmd->parsed()) {
        std::signal(SIGINT, request_stop);
        std::signal(SIGTERM, request_stop);
        return sapsim::DemoProgram::run(demo, stop_requested, std::cout, std::cerr);
    }
    return run_system(run);
}
