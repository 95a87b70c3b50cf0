// What the VOK dialog module does for a function request (FUNC_NAME not
// blank, FUNC_FLAG ' ', 'M', 'D' or 'B'; docs/sapsim.md, "Function requests
// in the dialog"): FUNC_NAME names a described module of the registry
// (described_module.h), else FUNCTION_NOT_FOUND.
//   'M', 'B'       the module's interface lines through Z_VOK_MDATA (table
//                  MTAB, character lines of 512 characters);
//   'D', 'B', ' '  the module runs with its default parameters on the
//                  dialog's connection, so its own callbacks reach the server
//                  too; an exception of the module ends the dialog with it;
//   'D', 'B'       every table the module returns (inputonly N) goes to
//                  DHANDLE as Z_VOK_DATA_CHUNK calls: TABLE_NAME the table,
//                  DTAB its lines (at most BLOCKSIZE bytes a chunk), MTAB the
//                  table's FIELD lines in its first chunk; END_OF_DATA 'X' on
//                  the last chunk of the last table.
// One object per call of the dialog module, used on that connection's thread.
#pragma once

#include "sapsim/call_context.h"
#include "sapsim/described_module.h"
#include "sapsim/vok_callback.h"
#include "sapsim/vok_request.h"

#include <string>
#include <vector>

namespace sapsim {

class VokFunctionRequest {
public:
    // `dialog`: the name the dialog module was called under, for logs.
    VokFunctionRequest(const CallContext& context, const VokRequest& request, std::string dialog);

    // What the generated program shows of the request (Z_VOK_GENPROG).
    std::vector<std::string> program_lines() const;
    // answer: the dialog module answers its call; raise: it raises `raised`;
    // ended: the call is over already.
    ModuleOutcome run(std::u16string& raised);

private:
    ModuleOutcome send_interface(std::u16string& raised);
    ModuleOutcome send_tables(FunctionFrame& frame, std::u16string& raised);
    static ModuleOutcome outcome_of(CallbackOutcome outcome);

    const CallContext& context_;
    const VokRequest& request_;
    std::string dialog_;
    std::string function_;
    const DescribedModule* module_ = nullptr;
};

} // namespace sapsim
