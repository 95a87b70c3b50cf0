// What the simulated system says about itself: system id and number, host,
// release, the names of the VOK modules and the gateway data of its background
// jobs. Filled once at start from the command line and the machine; read-only
// while the gateway runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sapsim {

// Where the background jobs of this system reach the VOK server: the
// registered server program they call, at which gateway, through which RFC
// destination. The dialog module reports these values at logon
// (Z_VOK_SEND_SYSTEM_INFO); the server registers there before it asks for a
// batch extraction, and the jobs call the program id at this gateway.
struct BatchGateway {
    std::string destination;              // BATDEST; empty until resolve(): the program id
    std::string program_id = "VOKBATCH";  // BATPRID
    std::string gwhost;                   // BATGWH; empty until resolve(): the listen address
    std::string gwserv;                   // BATGWS; empty: the gateway port, see service()
    std::string gwflag = "X";             // BATGWFL: one character ("" is sent as a blank)
    std::string message;                  // BATMESS: when set, the server refuses batch requests with it

    // Longest values, in characters, and whether a blank may occur: the server
    // cuts the first four at their first blank.
    static constexpr size_t destination_chars = 32;
    static constexpr size_t program_id_chars = 64;
    static constexpr size_t gwhost_chars = 100;
    static constexpr size_t gwserv_chars = 32;
    static constexpr size_t gwflag_chars = 1;
    static constexpr size_t message_chars = 250;

    // Fills the defaults that depend on the start: the destination is named
    // after the program id; the gateway host is the address sapsim listens on,
    // or the machine's host name when it listens on all addresses.
    void resolve(const std::string& listen_address, const std::string& host_name);
    // BATGWS: the configured service, or the gateway port as a number.
    std::string service(unsigned short gateway_port) const;
};

struct SystemConfig {
    std::string sysid = "SIM";
    int sysnr = 0;
    std::string hostname;   // short host name
    std::string fqdn;       // long host name
    std::string ip_address;  // IPv4 address the host name resolves to
    unsigned short port = 0;
    std::string release = "754";
    std::string kernel_release = "753";

    // ABAP name prefix of the VOK modules (upper case): the dialog module is
    // registered as name_prefix + "Z_VOK_DIALOG".
    std::string name_prefix = "/VOK/";
    // Further names under which the dialog module is served (upper case), for
    // logons that name their own dialog module.
    std::vector<std::string> dialog_modules;
    // Further names of the read report (upper case), for logons that name
    // their own (abapprog); the report is name_prefix + "Z_VOK_READ" besides.
    std::vector<std::string> read_reports;
    // Rows a select may return in a dialog (DIALOG_FLAG not 'X'); 0: no limit.
    std::int64_t dialog_row_limit = 100000;
    BatchGateway batch;

    // Host name, long name and address of this machine.
    void detect_host();
    // Every name of the dialog module: the prefixed one first, no name twice.
    std::vector<std::string> dialog_module_names() const;
    // Every name of the read report, likewise.
    std::vector<std::string> read_report_names() const;
    // Whether `name` (any case, trailing blanks ignored) names the read report.
    bool is_read_report(std::string_view name) const;
};

} // namespace sapsim
