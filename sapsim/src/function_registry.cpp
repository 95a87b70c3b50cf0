#include "sapsim/function_registry.h"

#include "sapsim/call_context.h"
#include "sapsim/logger.h"
#include "sapsim/modules.h"
#include "sapsim/text.h"

namespace sapsim {

FunctionRegistry FunctionRegistry::with_standard_modules()
{
    FunctionRegistry registry;
    for (auto make : {make_system_info_module, make_ping_module, make_attributes_module, make_echo_module,
                      make_callback_module, make_raise_module, make_fail_module, make_abort_module,
                      make_rows_module, make_admin_call_module, make_read_table_module, make_vok_echo_module,
                      make_vok_flight_list_module, make_vok_booking_read_module, make_vok_read_table_module,
                      make_vok_stream_table_module, make_vok_table_fetch_module, make_vok_raise_module,
                      make_vok_abort_module})
        registry.add(make());
    return registry;
}

void FunctionRegistry::add(std::unique_ptr<FunctionModule> module)
{
    const std::string name = module->name();
    modules_[name] = std::move(module);
}

const FunctionModule* FunctionRegistry::find(std::string_view name) const
{
    const auto it = modules_.find(name);
    return it == modules_.end() ? nullptr : it->second.get();
}

std::vector<std::string> FunctionRegistry::names() const
{
    std::vector<std::string> out;
    for (const auto& entry : modules_)
        out.push_back(entry.first);
    return out;
}

void FunctionRegistry::dispatch(CallContext& context) const
{
    const std::uint64_t conn = context.session().connection_id;
    SAP_UC raw_name[RFC_LONG_FUNCNAME_LN + 1] = {};
    if (RfcGetLongNameEx(context.handle(), raw_name, RFC_LONG_FUNCNAME_LN + 1) != RFC_OK) {
        SAPSIM_LOG(error, conn) << "cannot read the called function name: " << CallContext::last_error();
        RfcGwSystemFailure(context.handle(), u"RFC_ERROR_PROTOCOL", u"Function name unreadable");
        return;
    }
    const std::string name = from_c_text(raw_name, RFC_LONG_FUNCNAME_LN);
    if (context.depth() > CallContext::max_depth) {
        SAPSIM_LOG(warning, conn) << "call of " << name << " nested deeper than " << CallContext::max_depth << ": refused";
        RfcGwSystemFailure(context.handle(), u"CALL_DEPTH_EXCEEDED", u"Calls nested too deep");
        return;
    }
    const FunctionModule* module = find(name);
    if (module == nullptr) {
        SAPSIM_LOG(info, conn) << "function " << name << " not found";
        const std::u16string message = to_utf16("Function module \"" + name + "\" not found");
        RfcGwSystemFailure(context.handle(), u"FU_NOT_FOUND", message.c_str());
        return;
    }
    SAPSIM_LOG(debug, conn) << "call " << name << (context.depth() > 0 ? " (nested " + std::to_string(context.depth()) + ")" : "");
    module->serve(context);
}

} // namespace sapsim
