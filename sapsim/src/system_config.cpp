#include "sapsim/system_config.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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

namespace {

std::vector<std::string> names_with(std::string first, const std::vector<std::string>& others)
{
    std::vector<std::string> names{std::move(first)};
    for (const std::string& name : others)
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    return names;
}

} // namespace

std::vector<std::string> SystemConfig::dialog_module_names() const
{
    return names_with(name_prefix + "Z_VOK_DIALOG", dialog_modules);
}

std::vector<std::string> SystemConfig::read_report_names() const
{
    return names_with(name_prefix + "Z_VOK_READ", read_reports);
}

bool SystemConfig::is_read_report(std::string_view name) const
{
    std::string wanted(name.substr(0, name.find_last_not_of(' ') + 1));
    std::transform(wanted.begin(), wanted.end(), wanted.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const std::vector<std::string> names = read_report_names();
    return !wanted.empty() && std::find(names.begin(), names.end(), wanted) != names.end();
}

void BatchGateway::resolve(const std::string& listen_address, const std::string& host_name)
{
    if (destination.empty())
        destination = program_id;
    // 0.0.0.0 is no address a job could be given: name the machine instead.
    if (gwhost.empty())
        gwhost = listen_address.empty() || listen_address == "0.0.0.0" ? host_name : listen_address;
}

std::string BatchGateway::service(unsigned short gateway_port) const
{
    return gwserv.empty() ? std::to_string(gateway_port) : gwserv;
}

} // namespace sapsim
