// Calls a VOK module makes back into its caller (the VOK server) on its own
// connection, and the exceptions it raises.
#pragma once

#include "sapsim/call_context.h"

#include "rfclib/rfclib.h"

#include <string>
#include <vector>

namespace sapsim {

enum class CallbackOutcome {
    answered,  // the caller answered
    raised,    // the caller raised an exception; its name is in `raised`
    failed     // the caller aborted or the connection broke: nothing more can be sent
};

// One call back; the caller may call the system again while it serves it.
// `log_call` false keeps calls made by the thousand (data chunks) out of the log.
CallbackOutcome call_back(const CallContext& context, const char* module, const char16_t* function,
                          RFC_PARAMETER* exporting, RFC_PARAMETER* importing, RFC_TABLE* tables, std::u16string& raised,
                          bool log_call = true);

// Calls back Z_VOK_MDATA with the lines in its table MTAB. Without memory
// for the table: `raised` is NO_MEMORY and the outcome `raised`, for the
// module to raise it.
CallbackOutcome send_mdata_lines(const CallContext& context, const char* module, const std::vector<std::string>& lines,
                                 std::u16string& raised);

// Ends the module's call with an exception, logged.
void raise_exception(const CallContext& context, const char* module, const char16_t* exception);

} // namespace sapsim
