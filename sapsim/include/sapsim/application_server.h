// Gateway and application server in one: listens on the gateway port through
// the library's gateway side, checks logons against the store's user table,
// accepts registrations of server programs, and serves each logged-on
// connection on its own thread by dispatching its calls to the function
// modules. A connection that fails only ends itself.
#pragma once

#include "sapsim/call_context.h"
#include "sapsim/function_registry.h"
#include "sapsim/store.h"
#include "sapsim/system_config.h"

#include "rfclib/rfc_gateway.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace sapsim {

class ApplicationServer {
public:
    ApplicationServer(Store& store, const FunctionRegistry& registry, SystemConfig& config)
        : store_(store), registry_(registry), config_(config), services_{store, registry, config} {}
    ~ApplicationServer();
    ApplicationServer(const ApplicationServer&) = delete;
    ApplicationServer& operator=(const ApplicationServer&) = delete;

    // Starts listening on bind_address:port (0 = a free port). Main thread.
    bool start(const std::string& bind_address, unsigned short port, std::string& error);
    unsigned short port() const { return config_.port; }
    // Breaks all connections and waits for their threads. Idempotent; main thread.
    void stop();

private:
    // Gateway hooks; both run on the connection's thread.
    static int logon_check(void* self, const RFC_GW_LOGON_DATA* logon, RFC_ATTRIBUTES* attributes,
                           RFC_ERROR_INFO_EX* refusal);
    static void serve(void* self, RFC_HANDLE handle, const RFC_GW_LOGON_DATA* logon);

    int check(const RFC_GW_LOGON_DATA& logon, RFC_ATTRIBUTES& attributes, RFC_ERROR_INFO_EX& refusal);
    void serve_connection(RFC_HANDLE handle, const RFC_GW_LOGON_DATA& logon);
    void describe_system(RFC_ATTRIBUTES& attributes) const;

    Store& store_;
    const FunctionRegistry& registry_;
    SystemConfig& config_;
    SystemServices services_;
    RFC_GATEWAY gateway_ = nullptr;
    std::atomic<std::uint64_t> next_connection_{1};
};

} // namespace sapsim
