// Name -> module. Filled at start, read-only afterwards (any thread).
#pragma once

#include "sapsim/function_module.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sapsim {

class CallContext;

class FunctionRegistry {
public:
    // A registry holding every module of the simulated system.
    static FunctionRegistry with_standard_modules();

    void add(std::unique_ptr<FunctionModule> module);
    const FunctionModule* find(std::string_view name) const;
    std::vector<std::string> names() const;

    // Serves the call waiting on context.handle(): finds the module by the
    // called name; an unknown name ends the call with the system failure
    // FU_NOT_FOUND, as a real system does.
    void dispatch(CallContext& context) const;

private:
    std::map<std::string, std::unique_ptr<FunctionModule>, std::less<>> modules_;
};

} // namespace sapsim
