// A function module whose RFC handling follows from its interface description
// (function_interface.h). Called over RFC, serve() reads the parameters the
// module imports and every table, lets the module run on them and answers
// with the parameters it exports and its tables, or with its exception. The
// VOK dialog module runs the same module for a function request in mode N,
// on a frame that holds the default values (vok_function_request.h).
#pragma once

#include "sapsim/call_context.h"
#include "sapsim/function_interface.h"
#include "sapsim/function_module.h"

#include "rfclib/rfclib.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sapsim {

class DescribedModule;

// The parameter values and tables of one run of a described module. Values
// are kept in their RFC encoding; tables are created empty, at the line
// length of their description.
class FunctionFrame {
public:
    // Every parameter at its default: the default value of an `in` parameter,
    // else the initial value of its type.
    explicit FunctionFrame(const DescribedModule& module);
    ~FunctionFrame();
    FunctionFrame(const FunctionFrame&) = delete;
    FunctionFrame& operator=(const FunctionFrame&) = delete;

    // False when a table could not be created (no memory).
    bool ready() const;

    // The value of a parameter of the interface (the module's own names only).
    unsigned char* value(std::string_view name);
    const unsigned char* value(std::string_view name) const;
    std::string text(std::string_view name) const;        // C, N, D, T
    std::int64_t integer(std::string_view name) const;    // I, s, b
    void set_text(std::string_view name, std::string_view text);
    void set_integer(std::string_view name, std::int64_t value);

    ITAB_H table(std::string_view name) const;
    ITAB_H table(size_t index) const { return tables_[index]; }

    // The library's records of the parameters that travel in `direction`, and
    // of every table; they point into the frame and end with the end entry.
    std::vector<RFC_PARAMETER> rfc_parameters(Direction direction);
    std::vector<RFC_TABLE> rfc_tables();

private:
    const ParameterDescription& parameter(std::string_view name) const;
    size_t parameter_slot(std::string_view name) const;

    const DescribedModule& module_;
    std::vector<std::u16string> parameter_names_;
    std::vector<std::vector<unsigned char>> values_;
    std::vector<std::u16string> table_names_;
    std::vector<ITAB_H> tables_;
};

enum class ModuleOutcome {
    answer,  // the module finished: its exports and tables go back
    raise,   // the module raises the exception in ModuleRun::raised
    ended    // the call is over already (a system failure, the caller gone)
};

// One run of a described module.
struct ModuleRun {
    const CallContext& context;
    FunctionFrame& frame;
    // The data handle of the VOK request when the dialog module runs the
    // module (mode N); empty when it was called over RFC.
    std::u16string request_dhandle;
    std::u16string raised;
};

class DescribedModule : public FunctionModule {
public:
    // Installs the line structure of every structured table.
    explicit DescribedModule(FunctionInterface interface);

    const char* name() const override { return interface_.name.c_str(); }
    void serve(CallContext& context) const override;
    const DescribedModule* described() const override { return this; }

    const FunctionInterface& interface() const { return interface_; }
    // Line type of table `index` in the library: its installed structure, or
    // raw bytes.
    RFC_TYPEHANDLE table_type(size_t index) const { return table_types_[index]; }

    // Runs the module on the frame's parameters and tables.
    virtual ModuleOutcome run(ModuleRun& run) const = 0;

protected:
    // Endings of a run as an ABAP program meets them: a runtime error ends
    // the call with a system failure and nothing more is sent.
    ModuleOutcome out_of_memory(const ModuleRun& run) const;
    ModuleOutcome database_failure(const ModuleRun& run, const std::string& message) const;
    ModuleOutcome raise(ModuleRun& run, std::u16string exception) const;

private:
    FunctionInterface interface_;
    std::vector<RFC_TYPEHANDLE> table_types_;
};

} // namespace sapsim
