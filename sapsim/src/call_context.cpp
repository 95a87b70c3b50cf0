#include "sapsim/call_context.h"

#include "sapsim/function_registry.h"
#include "sapsim/logger.h"
#include "sapsim/text.h"

namespace sapsim {

RFC_RC CallContext::receive(RFC_HANDLE handle, RFC_PARAMETER* importing, RFC_TABLE* tables, SAP_UC** exception) const
{
    for (;;) {
        const RFC_RC rc = RfcReceive(handle, importing, tables, exception);
        if (rc != RFC_CALL)
            return rc;
        // The partner calls us before answering: serve that call one level deeper.
        CallContext nested(handle, session_, services_, depth_ + 1);
        services_.registry.dispatch(nested);
    }
}

std::string CallContext::last_error()
{
    RFC_ERROR_INFO_EX info{};
    if (RfcLastErrorEx(&info) != 0)
        return "no error recorded";
    return std::to_string(info.group) + "/" + from_c_text(info.key, RFC_ERROR_KEY_LN) + ": " +
           from_c_text(info.message, RFC_ERROR_MESSAGE_LN);
}

} // namespace sapsim
