// `sapsim register`: a small server program that registers at a gateway
// (RfcAccept) and serves the calls the system makes through its admin path,
// so that `sapsim call` can be tried by hand without other software.
// It serves Z_DEMO_GREET and RFC_PING (docs/sapsim.md); other names are
// answered with the exception FUNCTION_NOT_SUPPORTED. After each
// conversation it registers again, until it is stopped (SIGINT, SIGTERM) or,
// with `once`, after the first conversation.
#pragma once

#include <atomic>
#include <iosfwd>
#include <string>

namespace sapsim {

struct DemoProgramOptions {
    std::string host = "127.0.0.1";
    int port = 3300;
    std::string program = "SAPSIM_DEMO";
    bool once = false;
};

class DemoProgram {
public:
    // Returns the exit code: 0 after a stop, 1 when registering fails.
    static int run(const DemoProgramOptions& options, const std::atomic<bool>& stop, std::ostream& out, std::ostream& err);
};

} // namespace sapsim
