// A function module of the simulated system. Modules are stateless objects
// shared by all connections; everything about one call is in the CallContext.
#pragma once

namespace sapsim {

class CallContext;
class DescribedModule;

class FunctionModule {
public:
    virtual ~FunctionModule() = default;
    // The name callers use (upper case, at most 30 characters).
    virtual const char* name() const = 0;
    // Serves the call waiting on context.handle(): reads its data and answers
    // it (RfcSendData, RfcRaise*, RfcAbort or a system failure).
    virtual void serve(CallContext& context) const = 0;
    // The module with its interface description, for modules that have one
    // (the VOK dialog module describes and runs them for function requests).
    virtual const DescribedModule* described() const { return nullptr; }
};

} // namespace sapsim
