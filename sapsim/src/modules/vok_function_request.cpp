#include "sapsim/vok_function_request.h"

#include "sapsim/function_registry.h"
#include "sapsim/logger.h"
#include "sapsim/module_support.h"
#include "sapsim/read/data_chunk_sender.h"
#include "sapsim/text.h"

#include <cstring>

namespace sapsim {

using namespace vok_dialog;

VokFunctionRequest::VokFunctionRequest(const CallContext& context, const VokRequest& request, std::string dialog)
    : context_(context), request_(request), dialog_(std::move(dialog)), function_(request.function_name())
{
    const FunctionModule* found = context.services().registry.find(function_);
    module_ = found != nullptr ? found->described() : nullptr;
}

std::vector<std::string> VokFunctionRequest::program_lines() const
{
    if (module_ == nullptr)
        return {"* Function module " + function_ + " not found: the module raises FUNCTION_NOT_FOUND"};
    std::vector<std::string> lines = {"* Function module " + function_ + ": " + module_->interface().description};
    if (request_.wants_metadata())
        lines.push_back("* Its interface follows");
    if (request_.request_type() == u'M')
        return lines;
    lines.push_back(request_.wants_data() ? "* It runs with its default parameters; its tables follow as data chunks"
                                          : "* It runs with its default parameters; nothing of its results is sent");
    return lines;
}

ModuleOutcome VokFunctionRequest::run(std::u16string& raised)
{
    const std::uint64_t conn = context_.session().connection_id;
    if (module_ == nullptr) {
        SAPSIM_LOG(info, conn) << dialog_ << ": no function module " << function_;
        raised = u"FUNCTION_NOT_FOUND";
        return ModuleOutcome::raise;
    }
    if (request_.wants_metadata()) {
        const ModuleOutcome sent = send_interface(raised);
        if (sent != ModuleOutcome::answer || request_.request_type() == u'M')
            return sent;
    }
    FunctionFrame frame(*module_);
    if (!frame.ready()) {
        raised = u"NO_MEMORY";
        return ModuleOutcome::raise;
    }
    // The module's own callbacks (data chunks, parameter tables) name the
    // request's data handle unless their parameters say otherwise.
    ModuleRun module_run{context_, frame, to_utf16(get_chars(request_.dhandle, dhandle_chars)), {}};
    SAPSIM_LOG(debug, conn) << dialog_ << ": running " << function_ << " with its default parameters";
    const ModuleOutcome outcome = module_->run(module_run);
    if (outcome == ModuleOutcome::raise) {
        SAPSIM_LOG(info, conn) << dialog_ << ": " << function_ << " raised " << to_utf8(module_run.raised);
        raised = module_run.raised;
    }
    if (outcome != ModuleOutcome::answer || !request_.wants_data())
        return outcome;
    return send_tables(frame, raised);
}

ModuleOutcome VokFunctionRequest::send_interface(std::u16string& raised)
{
    return outcome_of(send_mdata_lines(context_, dialog_.c_str(), module_->interface().lines(), raised));
}

ModuleOutcome VokFunctionRequest::send_tables(FunctionFrame& frame, std::u16string& raised)
{
    const std::vector<TableDescription>& tables = module_->interface().tables;
    size_t last = tables.size();
    for (size_t t = 0; t < tables.size(); ++t)
        if (!tables[t].input_only)
            last = t;
    for (size_t t = 0; t < tables.size(); ++t) {
        if (tables[t].input_only)
            continue;
        const TableDescription& table = tables[t];
        DataChunkSender sender(context_, dialog_.c_str(), request_.dhandle, table.name,
                               static_cast<unsigned>(table.line_bytes), request_.block_size());
        if (!sender.ready() || !sender.describe(field_lines(table))) {
            raised = u"NO_MEMORY";
            return ModuleOutcome::raise;
        }
        const ITAB_H lines = frame.table(t);
        const unsigned count = ItFill(lines);
        for (unsigned i = 1; i <= count; ++i) {
            unsigned char* line = sender.append();
            if (line == nullptr) {
                raised = u"NO_MEMORY";
                return ModuleOutcome::raise;
            }
            std::memcpy(line, ItGetLine(lines, i), table.line_bytes);
            if (sender.full() && i < count) {
                const ModuleOutcome sent = outcome_of(sender.send(false, raised));
                if (sent != ModuleOutcome::answer)
                    return sent;
            }
        }
        const ModuleOutcome sent = outcome_of(sender.send(t == last, raised));
        if (sent != ModuleOutcome::answer)
            return sent;
        SAPSIM_LOG(debug, context_.session().connection_id)
            << dialog_ << ": " << function_ << " table " << table.name << ", " << count << " lines in "
            << sender.chunks_sent() << " chunks";
    }
    return ModuleOutcome::answer;
}

ModuleOutcome VokFunctionRequest::outcome_of(CallbackOutcome outcome)
{
    switch (outcome) {
    case CallbackOutcome::answered: return ModuleOutcome::answer;
    case CallbackOutcome::raised: return ModuleOutcome::raise;
    case CallbackOutcome::failed: break;
    }
    return ModuleOutcome::ended;
}

} // namespace sapsim
