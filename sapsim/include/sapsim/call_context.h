// Everything a function module needs for one call: the RFC handle the call
// arrived on, the logon behind it, the store, the system data, the gateway (for
// calls of registered programs) and the registry to serve calls back.
#pragma once

#include "rfclib/rfc_gateway.h"
#include "rfclib/rfclib.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace sapsim {

class FunctionRegistry;
class Store;
struct SystemConfig;

struct Session {
    std::uint64_t connection_id = 0;
    std::string client;
    std::string user;
    std::string language;
    // What modules keep for the rest of the connection (the calls of
    // Z_VOK_ECHO), by name. Only the connection's own thread serves its
    // calls, so nothing else touches it.
    mutable std::map<std::string, std::int64_t, std::less<>> counters;
};

struct SystemServices {
    Store& store;
    const FunctionRegistry& registry;
    const SystemConfig& config;
    // Set once the gateway runs; connection threads read it.
    std::atomic<RFC_GATEWAY> gateway{nullptr};
};

class CallContext {
public:
    // Calls back and calls of registered programs nest; a partner that keeps
    // calling back deeper than this gets a system failure instead of a stack overflow.
    static constexpr int max_depth = 64;

    CallContext(RFC_HANDLE handle, const Session& session, const SystemServices& services, int depth = 0)
        : handle_(handle), session_(session), services_(services), depth_(depth) {}

    RFC_HANDLE handle() const { return handle_; }
    const Session& session() const { return session_; }
    const SystemServices& services() const { return services_; }
    int depth() const { return depth_; }

    // Waits for the answer to a call this module made with RfcCall on `handle`
    // (the caller's handle or a registered program's), serving the partner's
    // calls back with the registry in between. Codes as RfcReceive.
    RFC_RC receive(RFC_HANDLE handle, RFC_PARAMETER* importing, RFC_TABLE* tables, SAP_UC** exception) const;

    // "group/key: message" of this thread's last library error, for logs and replies.
    static std::string last_error();

private:
    RFC_HANDLE handle_;
    const Session& session_;
    const SystemServices& services_;
    int depth_;
};

} // namespace sapsim
