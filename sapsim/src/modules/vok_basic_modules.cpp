// Described modules for trying out function requests: a connection test that
// counts its calls on the connection, a module that fetches a table of the
// request from its caller, one that raises an exception and one that ends in
// a system failure (docs/sapsim.md, "Described function modules").
#include "sapsim/described_module.h"
#include "sapsim/logger.h"
#include "sapsim/module_support.h"
#include "sapsim/modules.h"
#include "sapsim/text.h"
#include "sapsim/vok_callback.h"

#include "rfclib/rfc_gateway.h"

#include <algorithm>
#include <cstring>

namespace sapsim {

namespace {

constexpr size_t echo_chars = 80;

FunctionInterface echo_interface()
{
    return FunctionInterface{
        "Z_VOK_ECHO",
        "Connection test: echoes a text",
        {optional_in("TEXT", AbapType::character(echo_chars), "Text to echo", "Hello"),
         out_parameter("ECHO", AbapType::character(echo_chars), "The text as received"),
         out_parameter("CALLS", AbapType::int4(), "Calls of Z_VOK_ECHO on this connection, this one included")},
        {},
        {}};
}

// The call counter lives with the connection: consecutive calls on one RFC
// connection see it grow, a new connection starts at 1.
class EchoModule : public DescribedModule {
public:
    EchoModule() : DescribedModule(echo_interface()) {}
    ModuleOutcome run(ModuleRun& run) const override
    {
        std::memcpy(run.frame.value("ECHO"), run.frame.value("TEXT"), 2 * echo_chars);
        run.frame.set_integer("CALLS", ++run.context.session().counters[name()]);
        return ModuleOutcome::answer;
    }
};

FunctionInterface raise_interface()
{
    return FunctionInterface{"Z_VOK_RAISE",
                             "Raises the exception it is given",
                             {optional_in("EXCEPTION", AbapType::character(30), "Exception to raise", "RAISED")},
                             {},
                             {{"RAISED", "The exception raised unless EXCEPTION names another"},
                              {"NOT_FOUND", "Raised when EXCEPTION says so"},
                              {"NO_AUTHORITY", "Raised when EXCEPTION says so"}}};
}

// Raises the name in EXCEPTION, as an ABAP RAISE would; names outside the
// list go out as they are, which the caller sees the same way.
class RaiseModule : public DescribedModule {
public:
    RaiseModule() : DescribedModule(raise_interface()) {}
    ModuleOutcome run(ModuleRun& run) const override
    {
        std::string exception = run.frame.text("EXCEPTION");
        if (exception.empty())
            exception = "RAISED";
        return raise(run, to_utf16(exception));
    }
};

FunctionInterface abort_interface()
{
    return FunctionInterface{
        "Z_VOK_ABORT",
        "Ends in a system failure like an ABAP runtime error",
        {optional_in("KEY", AbapType::character(30), "Runtime error", "COMPUTE_INT_ZERODIVIDE"),
         optional_in("MESSAGE", AbapType::character(80), "Text of the runtime error", "Division by 0 in Z_VOK_ABORT")},
        {},
        {}};
}

// The caller's call returns a system failure with KEY and MESSAGE and the
// connection ends: the next call needs a new one.
class AbortModule : public DescribedModule {
public:
    AbortModule() : DescribedModule(abort_interface()) {}
    ModuleOutcome run(ModuleRun& run) const override
    {
        std::string key = run.frame.text("KEY"), message = run.frame.text("MESSAGE");
        if (key.empty())
            key = "COMPUTE_INT_ZERODIVIDE";
        if (message.empty())
            message = "Division by 0 in Z_VOK_ABORT";
        SAPSIM_LOG(info, run.context.session().connection_id) << name() << ": system failure " << key;
        RfcGwSystemFailure(run.context.handle(), to_utf16(key).c_str(), to_utf16(message).c_str());
        return ModuleOutcome::ended;
    }
};

// Sizes of Z_VOK_GET_PARAMETER_TABLE as the VOK server reads them.
constexpr size_t ptab_name_chars = 40;
constexpr size_t ptab_dhandle_chars = 130;
constexpr size_t fetched_line_chars = 256;

FunctionInterface table_fetch_interface()
{
    return FunctionInterface{
        "Z_VOK_TABLE_FETCH",
        "Fetches a table of the request from the caller and returns what came",
        {optional_in("TABNAME", AbapType::character(30), "Table of the request to fetch", "INPUT"),
         optional_in("DHANDLE", AbapType::character(ptab_dhandle_chars),
                     "Handle sent with the fetch (blank: the data handle of the request)"),
         out_parameter("LINES", AbapType::int4(), "Lines fetched"),
         out_parameter("LINE_BYTES", AbapType::int4(), "Bytes of a fetched line")},
        {structured_table("INPUT", "ZVOK_S_TEXT", true, "Lines to fetch: the module does not read them from the call",
                          {{"TEXT", AbapType::character(72), "Text"}}),
         structured_table("FETCHED", "ZVOK_S_FETCHED", false, "The lines fetched, in order",
                          {{"LINE", AbapType::character(fetched_line_chars),
                            "A fetched line: its bytes, cut or padded with blanks"}})},
        {}};
}

// Large input tables need not travel with the call: the module asks its
// caller for them through Z_VOK_GET_PARAMETER_TABLE while it runs.
class TableFetchModule : public DescribedModule {
public:
    TableFetchModule() : DescribedModule(table_fetch_interface()) {}
    ModuleOutcome run(ModuleRun& run) const override
    {
        char16_t tabname[ptab_name_chars], dhandle[ptab_dhandle_chars];
        put_chars(tabname, ptab_name_chars, run.frame.text("TABNAME"));
        const std::string own_handle = run.frame.text("DHANDLE");
        if (own_handle.empty())
            put_chars(dhandle, ptab_dhandle_chars, std::u16string_view(run.request_dhandle));
        else
            put_chars(dhandle, ptab_dhandle_chars, own_handle);
        RFC_PARAMETER exporting[] = {char_parameter(u"Z_VOK_PARAMETER_TABNAME", tabname, ptab_name_chars),
                                     char_parameter(u"DHANDLE", dhandle, ptab_dhandle_chars), end_of_parameters};
        RFC_PARAMETER none[] = {end_of_parameters};
        // No handle and no length: the table comes at the caller's line length.
        RFC_TABLE tables[] = {RFC_TABLE{u"Z_VOK_PARAMETER_TABLE", 0, RFCTYPE_BYTE, 0, nullptr, RFC_ITMODE_BYREFERENCE, 0},
                              end_of_tables};
        std::u16string raised;
        const CallbackOutcome outcome =
            call_back(run.context, name(), u"Z_VOK_GET_PARAMETER_TABLE", exporting, none, tables, raised);
        const ModuleOutcome result = outcome == CallbackOutcome::answered ? keep(run, tables[0].ithandle)
                                     : outcome == CallbackOutcome::raised ? raise(run, raised)
                                                                          : ModuleOutcome::ended;
        delete_received_tables(tables);
        return result;
    }

private:
    ModuleOutcome keep(ModuleRun& run, ITAB_H fetched) const
    {
        const unsigned lines = fetched != nullptr ? ItFill(fetched) : 0;
        const unsigned bytes = ItLeng(fetched);
        ITAB_H out = run.frame.table("FETCHED");
        for (unsigned i = 1; i <= lines; ++i) {
            auto* line = static_cast<unsigned char*>(ItAppLine(out));
            if (line == nullptr)
                return out_of_memory(run);
            put_utf16le("", line, fetched_line_chars);
            std::memcpy(line, ItGetLine(fetched, i), std::min<size_t>(bytes, 2 * fetched_line_chars));
        }
        run.frame.set_integer("LINES", lines);
        run.frame.set_integer("LINE_BYTES", bytes);
        SAPSIM_LOG(debug, run.context.session().connection_id)
            << name() << ": fetched " << run.frame.text("TABNAME") << ", " << lines << " lines of " << bytes << " bytes";
        return ModuleOutcome::answer;
    }
};

} // namespace

std::unique_ptr<FunctionModule> make_vok_echo_module()
{
    return std::make_unique<EchoModule>();
}

std::unique_ptr<FunctionModule> make_vok_raise_module()
{
    return std::make_unique<RaiseModule>();
}

std::unique_ptr<FunctionModule> make_vok_abort_module()
{
    return std::make_unique<AbortModule>();
}

std::unique_ptr<FunctionModule> make_vok_table_fetch_module()
{
    return std::make_unique<TableFetchModule>();
}

} // namespace sapsim
