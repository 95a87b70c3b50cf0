// What the simulated system says about itself: system id and number, host,
// release. Filled once at start from the command line and the machine.
#pragma once

#include <string>

namespace sapsim {

struct SystemConfig {
    std::string sysid = "SIM";
    int sysnr = 0;
    std::string hostname;   // short host name
    std::string fqdn;       // long host name
    std::string ip_address;  // IPv4 address the host name resolves to
    unsigned short port = 0;
    std::string release = "754";
    std::string kernel_release = "753";

    // Host name, long name and address of this machine.
    void detect_host();
};

} // namespace sapsim
