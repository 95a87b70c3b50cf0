#include "sapsim/module_support.h"

#include "sapsim/dictionary.h"
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

size_t text_width(const FieldDef& field)
{
    switch (field.type) {
    case 'P': return static_cast<size_t>(2 * field.length + 1);
    case 'X': return static_cast<size_t>(2 * field.length);
    case 'I': return 11;
    case 's': return 6;
    case 'b': return 3;
    case 'F': return 24;
    default: return static_cast<size_t>(field.length);
    }
}

} // namespace sapsim
