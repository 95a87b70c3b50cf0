#include "sapsim/module_support.h"

#include "sapsim/logger.h"

namespace sapsim {

bool get_call_data(const CallContext& context, const char* module, RFC_PARAMETER* importing, RFC_TABLE* tables)
{
    if (RfcGetData(context.handle(), importing, tables) == RFC_OK)
        return true;
    SAPSIM_LOG(warning, context.session().connection_id) << module << ": reading the call failed: " << CallContext::last_error();
    return false;
}

bool send_answer(const CallContext& context, const char* module, RFC_PARAMETER* exporting, RFC_TABLE* tables)
{
    if (RfcSendData(context.handle(), exporting, tables) == RFC_OK)
        return true;
    SAPSIM_LOG(warning, context.session().connection_id) << module << ": answering failed: " << CallContext::last_error();
    return false;
}

void delete_received_tables(RFC_TABLE* tables)
{
    for (RFC_TABLE* t = tables; t != nullptr && t->name != nullptr; ++t) {
        if (t->newitab != 0 && t->ithandle != nullptr) {
            ItDelete(t->ithandle);
            t->ithandle = nullptr;
            t->newitab = 0;
        }
    }
}

} // namespace sapsim
