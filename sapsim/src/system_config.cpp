#include "sapsim/system_config.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <cstring>

namespace sapsim {

void SystemConfig::detect_host()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        std::strcpy(name, "localhost");
    fqdn = name;
    hostname = fqdn.substr(0, fqdn.find('.'));
    ip_address = "127.0.0.1";
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &result) == 0 && result != nullptr) {
        char text[INET_ADDRSTRLEN] = {};
        const auto* addr = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
        if (inet_ntop(AF_INET, &addr->sin_addr, text, sizeof text) != nullptr)
            ip_address = text;
        if (result->ai_canonname != nullptr)
            fqdn = result->ai_canonname;
    }
    if (result != nullptr)
        freeaddrinfo(result);
}

} // namespace sapsim
