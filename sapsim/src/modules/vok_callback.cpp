#include "sapsim/vok_callback.h"

#include "sapsim/logger.h"
#include "sapsim/module_support.h"
#include "sapsim/text.h"
#include "sapsim/vok_dialog_module.h"

namespace sapsim {

CallbackOutcome call_back(const CallContext& context, const char* module, const char16_t* function,
                          RFC_PARAMETER* exporting, RFC_PARAMETER* importing, RFC_TABLE* tables, std::u16string& raised,
                          bool log_call)
{
    const std::uint64_t conn = context.session().connection_id;
    const std::string function_name = to_utf8(function);
    if (log_call)
        SAPSIM_LOG(debug, conn) << module << ": calling back " << function_name;
    RFC_RC rc = RfcCall(context.handle(), function, exporting, tables);
    SAP_UC* exception = nullptr;
    if (rc == RFC_OK)
        rc = context.receive(context.handle(), importing, tables, &exception);
    if (rc == RFC_OK)
        return CallbackOutcome::answered;
    if (rc == RFC_EXCEPTION) {
        raised = exception != nullptr ? std::u16string(exception) : std::u16string(u"UNKNOWN_EXCEPTION");
        SAPSIM_LOG(info, conn) << module << ": callback " << function_name << " raised " << to_utf8(raised);
        return CallbackOutcome::raised;
    }
    SAPSIM_LOG(warning, conn) << module << ": callback " << function_name << " failed (rc " << rc
                              << "): " << CallContext::last_error();
    return CallbackOutcome::failed;
}

void raise_exception(const CallContext& context, const char* module, const char16_t* exception)
{
    SAPSIM_LOG(info, context.session().connection_id) << module << ": raising " << to_utf8(exception);
    RfcRaise(context.handle(), exception);
}

CallbackOutcome send_mdata_lines(const CallContext& context, const char* module, const std::vector<std::string>& lines,
                                 std::u16string& raised)
{
    using vok_dialog::mtab_line_chars;
    ITAB_H mtab = ItCreate(u"MTAB", mtab_line_chars * 2, static_cast<unsigned>(lines.size()), 0);
    for (const std::string& text : lines) {
        auto* line = mtab != nullptr ? static_cast<char16_t*>(ItAppLine(mtab)) : nullptr;
        if (line == nullptr) {
            if (mtab != nullptr)
                ItDelete(mtab);
            raised = u"NO_MEMORY";
            return CallbackOutcome::raised;
        }
        put_chars(line, mtab_line_chars, text);
    }
    RFC_PARAMETER none[] = {end_of_parameters};
    RFC_TABLE tables[] = {table_parameter(u"MTAB", mtab_line_chars * 2, mtab), end_of_tables};
    const CallbackOutcome outcome = call_back(context, module, u"Z_VOK_MDATA", none, none, tables, raised);
    ItDelete(mtab);
    return outcome;
}

} // namespace sapsim
