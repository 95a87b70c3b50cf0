// `sapsim call`: logs on to a running sapsim and has it call a function of a
// registered server program (Z_SIM_ADMIN_CALL, admin_call.h); prints the result.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace sapsim {

struct AdminCallOptions {
    std::string host = "127.0.0.1";
    int port = 3300;
    std::string client = "000";
    std::string user = "ADMIN";
    std::string password = "admin";
    std::string program;
    std::string function;
    std::vector<std::string> params;   // NAME=VALUE sent as character values
    std::vector<std::string> integers; // NAME=N sent as 4-byte integers
    std::vector<std::string> imports;  // NAME or NAME=CHARS received as character values
    std::vector<std::string> tables;   // NAME or NAME=LINE_BYTES received as tables
};

class AdminClient {
public:
    // Exit codes of the command.
    enum : int { ok = 0, logon_failed = 1, exception_raised = 2, call_failed = 3, usage = 4 };

    // Runs the command; prints the result to `out` and errors to `err`.
    static int run(const AdminCallOptions& options, std::ostream& out, std::ostream& err);
};

} // namespace sapsim
