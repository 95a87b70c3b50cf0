// The VOK dialog module (vok_dialog_module.h): fetches the request from its
// caller, shows the caller the program generated for it when asked to,
// answers a logon with the system information, runs the read report for a
// select and describes or runs the module of a function request.
#include "sapsim/vok_dialog_module.h"

#include "sapsim/call_context.h"
#include "sapsim/function_registry.h"
#include "sapsim/logger.h"
#include "sapsim/module_support.h"
#include "sapsim/read/read_report.h"
#include "sapsim/system_config.h"
#include "sapsim/text.h"
#include "sapsim/vok_callback.h"
#include "sapsim/vok_function_request.h"
#include "sapsim/vok_request.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

namespace sapsim {

namespace {

using namespace vok_dialog;

const char* request_meaning(char16_t type)
{
    switch (type) {
    case u'I': return "logon";
    case u'D': return "data";
    case u'M': return "metadata";
    case u'B': return "data and metadata";
    case u' ': return "neither data nor metadata";
    default: return "unknown";
    }
}

std::string or_none(const std::string& text)
{
    return text.empty() ? "none" : text;
}

// The lines shown with Z_VOK_GENPROG: an account of what the module does for
// this request, as ABAP comment lines; `tail` says how it goes on.
std::vector<std::string> program_lines(const std::string& module, const CallContext& context, const VokRequest& p,
                                       const std::vector<std::string>& tail)
{
    const char16_t type = p.request_type();
    std::vector<std::string> lines;
    lines.push_back("* " + module + ": request " + to_utf8(std::u16string(1, type)) + " (" + request_meaning(type) + ")");
    lines.push_back("* System " + context.services().config.sysid + ", client " + context.session().client + ", user " +
                    context.session().user);
    lines.push_back("* Read report " + or_none(get_chars(p.abapprog, abapprog_chars)) + ", variant " +
                    or_none(get_chars(p.variant, variant_chars)));
    const std::pair<const char*, std::string> optional_values[] = {
        {"Function ", get_chars(p.func_name, func_name_chars)},
        {"Block size ", get_chars(p.blocksize, blocksize_chars)},
        {"Destination ", get_chars(p.dest, dest_chars)},
        {"Data handle ", get_chars(p.dhandle, dhandle_chars)},
        {"Dialog flag ", get_chars(p.dialog_flag, dialog_flag_chars)},
    };
    for (const auto& [label, value] : optional_values)
        if (!value.empty())
            lines.push_back(std::string("* ") + label + value);
    if (p.statement_lines(VokRequest::mdata) > 0 || p.statement_lines(VokRequest::jdata) > 0)
        lines.push_back("* Statement: " + std::to_string(p.statement_lines(VokRequest::jdata)) + " JDATA lines, " +
                        std::to_string(p.statement_lines(VokRequest::mdata)) + " MDATA lines");
    lines.insert(lines.end(), tail.begin(), tail.end());
    return lines;
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// SYSINFO: "SID,HOST,SYSNR,CLIENT,USER,LANGUAGE,RELEASE,KERNEL,DBSYS,OPSYS,".
// Each field is cut to its width and a comma in it becomes a blank, so the
// fields can always be told apart and the text always fits.
std::u16string system_info(const CallContext& context)
{
    const SystemConfig& config = context.services().config;
    const Session& session = context.session();
    char sysnr[8];
    std::snprintf(sysnr, sizeof sysnr, "%02d", config.sysnr);
    const std::pair<std::string, size_t> fields[] = {
        {config.sysid, 8},    {config.hostname, 32},       {sysnr, 2},        {session.client, 3},
        {session.user, 12},   {session.language, 2},       {config.release, 4}, {config.kernel_release, 4},
        {"SQLITE", 10},       {"Linux", 10},
    };
    std::u16string text;
    for (const auto& [value, width] : fields) {
        std::u16string field = to_utf16(value).substr(0, width);
        std::replace(field.begin(), field.end(), u',', u' ');
        text += field;
        text += u',';
    }
    return text;
}

class VokDialogModule : public FunctionModule {
public:
    explicit VokDialogModule(std::string name) : name_(std::move(name)) {}
    const char* name() const override { return name_.c_str(); }

    void serve(CallContext& context) const override
    {
        char16_t pdest[pdest_chars], preport[preport_chars], pvariant[pvariant_chars], pbufmax[pbufmax_chars];
        put_chars(pdest, pdest_chars, "");
        put_chars(preport, preport_chars, "");
        put_chars(pvariant, pvariant_chars, "");
        put_chars(pbufmax, pbufmax_chars, "");
        RFC_PARAMETER importing[] = {char_parameter(u"PDEST", pdest, pdest_chars),
                                     char_parameter(u"PREPORT", preport, preport_chars),
                                     char_parameter(u"PVARIANT", pvariant, pvariant_chars),
                                     char_parameter(u"PBUFMAX", pbufmax, pbufmax_chars), end_of_parameters};
        RFC_TABLE no_tables[] = {end_of_tables};
        if (!get_call_data(context, name(), importing, no_tables))
            return;
        // The module only works with its caller: every callback goes to BACK.
        if (get_chars(pdest, pdest_chars) != "BACK") {
            raise_exception(context, name(), u"DESTINATION_NOT_SUPPORTED");
            return;
        }
        // A report to schedule asks for a background job, which this system
        // does not start yet.
        if (!get_chars(preport, preport_chars).empty()) {
            raise_exception(context, name(), u"REQUEST_NOT_SUPPORTED");
            return;
        }
        VokRequest request;
        std::u16string raised;
        switch (get_request_parameters(context, request, raised)) {
        case CallbackOutcome::answered: break;
        case CallbackOutcome::raised: raise_exception(context, name(), u"NO_REQUEST_PARAMETERS"); return;
        case CallbackOutcome::failed: return;
        }
        SAPSIM_LOG(debug, context.session().connection_id)
            << name() << ": request " << to_utf8(std::u16string(1, request.request_type())) << ", debug "
            << to_utf8(std::u16string(1, request.debug[0]));
        if (request.request_type() == u'I')
            serve_logon(context, request);
        else if (request.is_function())
            serve_function(context, request);
        else if (request.is_select())
            serve_select(context, request);
        else
            refuse(context, request);
    }

private:
    // Other kinds: the program lines say so, then REQUEST_NOT_SUPPORTED.
    void refuse(const CallContext& context, const VokRequest& request) const
    {
        std::u16string raised;
        if (request.debugging() &&
            !finish(context,
                    show_program(context, request,
                                 {"* Not supported by this system: the module raises REQUEST_NOT_SUPPORTED"}, raised),
                    raised))
            return;
        raise_exception(context, name(), u"REQUEST_NOT_SUPPORTED");
    }

    void serve_logon(const CallContext& context, const VokRequest& request) const
    {
        std::u16string raised;
        if (request.debugging() &&
            !finish(context,
                    show_program(context, request, {"* Nothing to run: the system information follows"}, raised), raised))
            return;
        if (!finish(context, send_system_info(context, raised), raised))
            return;
        RFC_PARAMETER none[] = {end_of_parameters};
        RFC_TABLE no_tables[] = {end_of_tables};
        send_answer(context, name(), none, no_tables);
    }

    // A select runs the read report that ABAPPROG names.
    void serve_select(const CallContext& context, const VokRequest& request) const
    {
        const std::string report = upper(request.report());
        std::optional<ReadReport> run;
        if (context.services().config.is_read_report(report)) {
            run.emplace(context, request, report);
            run->prepare();
        }
        std::u16string raised;
        if (request.debugging()) {
            const std::vector<std::string> tail =
                run ? run->program_lines()
                    : std::vector<std::string>{"* Read report " + or_none(report) +
                                               " not found: the module raises REPORT_NOT_FOUND"};
            if (!finish(context, show_program(context, request, tail, raised), raised))
                return;
        }
        if (!run) {
            SAPSIM_LOG(info, context.session().connection_id) << name() << ": no read report " << or_none(report);
            raise_exception(context, name(), u"REPORT_NOT_FOUND");
            return;
        }
        switch (run->run(raised)) {
        case ReadReport::Result::finished: {
            RFC_PARAMETER none[] = {end_of_parameters};
            RFC_TABLE no_tables[] = {end_of_tables};
            send_answer(context, name(), none, no_tables);
            return;
        }
        case ReadReport::Result::raise: raise_exception(context, name(), raised.c_str()); return;
        case ReadReport::Result::ended: return;
        }
    }

    // A function request describes or runs the module FUNC_NAME names.
    void serve_function(const CallContext& context, const VokRequest& request) const
    {
        VokFunctionRequest function(context, request, name_);
        std::u16string raised;
        if (request.debugging() &&
            !finish(context, show_program(context, request, function.program_lines(), raised), raised))
            return;
        switch (function.run(raised)) {
        case ModuleOutcome::answer: {
            RFC_PARAMETER none[] = {end_of_parameters};
            RFC_TABLE no_tables[] = {end_of_tables};
            send_answer(context, name(), none, no_tables);
            return;
        }
        case ModuleOutcome::raise: raise_exception(context, name(), raised.c_str()); return;
        case ModuleOutcome::ended: return;
        }
    }

    // After a callback: true to go on. An exception of the caller is raised
    // again under its own name; after a failure nothing more is sent.
    bool finish(const CallContext& context, CallbackOutcome outcome, const std::u16string& raised) const
    {
        if (outcome == CallbackOutcome::raised)
            raise_exception(context, name(), raised.c_str());
        return outcome == CallbackOutcome::answered;
    }

    CallbackOutcome get_request_parameters(const CallContext& context, VokRequest& p, std::u16string& raised) const
    {
        RFC_PARAMETER none[] = {end_of_parameters};
        RFC_PARAMETER importing[] = {char_parameter(u"FUNC_FLAG", p.func_flag, func_flag_chars),
                                     char_parameter(u"ABAPPROG", p.abapprog, abapprog_chars),
                                     char_parameter(u"VARIANT", p.variant, variant_chars),
                                     char_parameter(u"BLOCKSIZE", p.blocksize, blocksize_chars),
                                     char_parameter(u"DEBUG", p.debug, debug_chars),
                                     char_parameter(u"DEST", p.dest, dest_chars),
                                     char_parameter(u"FUNC_NAME", p.func_name, func_name_chars),
                                     char_parameter(u"DHANDLE", p.dhandle, dhandle_chars),
                                     char_parameter(u"DIALOG_FLAG", p.dialog_flag, dialog_flag_chars),
                                     end_of_parameters};
        return call_back(context, name(), u"Z_VOK_GET_REQUEST_PARAMETERS", none, importing, p.tables, raised);
    }

    CallbackOutcome show_program(const CallContext& context, const VokRequest& p, const std::vector<std::string>& tail,
                                 std::u16string& raised) const
    {
        const std::vector<std::string> lines = program_lines(name_, context, p, tail);
        ITAB_H ltab = ItCreate(u"LTAB", ltab_line_chars * 2, static_cast<unsigned>(lines.size()), 0);
        for (const std::string& text : lines) {
            auto* line = ltab != nullptr ? static_cast<char16_t*>(ItAppLine(ltab)) : nullptr;
            if (line == nullptr) {
                // Out of memory before anything was sent: end as an exception of the module.
                if (ltab != nullptr)
                    ItDelete(ltab);
                raised = u"NO_MEMORY";
                return CallbackOutcome::raised;
            }
            put_chars(line, ltab_line_chars, text);
        }
        char16_t rc[rc_chars], dhandle[genprog_dhandle_chars];
        put_chars(rc, rc_chars, "0");
        put_chars(dhandle, genprog_dhandle_chars, std::u16string_view(p.dhandle, genprog_dhandle_chars));
        RFC_PARAMETER exporting[] = {char_parameter(u"RC", rc, rc_chars),
                                     char_parameter(u"DHANDLE", dhandle, genprog_dhandle_chars), end_of_parameters};
        RFC_PARAMETER none[] = {end_of_parameters};
        RFC_TABLE tables[] = {table_parameter(u"LTAB", ltab_line_chars * 2, ltab), end_of_tables};
        const CallbackOutcome outcome = call_back(context, name(), u"Z_VOK_GENPROG", exporting, none, tables, raised);
        ItDelete(ltab);
        return outcome;
    }

    CallbackOutcome send_system_info(const CallContext& context, std::u16string& raised) const
    {
        const BatchGateway& batch = context.services().config.batch;
        // The port the gateway really listens on (--port 0 picks one).
        const RFC_GATEWAY gateway = context.services().gateway.load();
        const unsigned short port = gateway != nullptr ? RfcGwPort(gateway) : context.services().config.port;
        char16_t sysinfo[sysinfo_chars], batdest[gateway_text_chars], batprid[gateway_text_chars],
            batgwh[gateway_text_chars], batgws[gateway_text_chars], batgwfl[gwflag_chars], batmess[gateway_text_chars];
        put_chars(sysinfo, sysinfo_chars, std::u16string_view(system_info(context)));
        put_chars(batdest, gateway_text_chars, batch.destination);
        put_chars(batprid, gateway_text_chars, batch.program_id);
        put_chars(batgwh, gateway_text_chars, batch.gwhost);
        put_chars(batgws, gateway_text_chars, batch.service(port));
        put_chars(batgwfl, gwflag_chars, batch.gwflag);
        put_chars(batmess, gateway_text_chars, batch.message);
        RFC_PARAMETER exporting[] = {char_parameter(u"SYSINFO", sysinfo, sysinfo_chars),
                                     char_parameter(u"BATDEST", batdest, gateway_text_chars),
                                     char_parameter(u"BATPRID", batprid, gateway_text_chars),
                                     char_parameter(u"BATGWH", batgwh, gateway_text_chars),
                                     char_parameter(u"BATGWS", batgws, gateway_text_chars),
                                     char_parameter(u"BATGWFL", batgwfl, gwflag_chars),
                                     char_parameter(u"BATMESS", batmess, gateway_text_chars),
                                     end_of_parameters};
        RFC_PARAMETER none[] = {end_of_parameters};
        RFC_TABLE no_tables[] = {end_of_tables};
        return call_back(context, name(), u"Z_VOK_SEND_SYSTEM_INFO", exporting, none, no_tables, raised);
    }

    std::string name_;
};

} // namespace

std::unique_ptr<FunctionModule> make_vok_dialog_module(std::string name)
{
    return std::make_unique<VokDialogModule>(std::move(name));
}

bool add_vok_dialog_modules(FunctionRegistry& registry, const SystemConfig& config, std::string& error)
{
    for (const std::string& name : config.dialog_module_names()) {
        if (registry.find(name) != nullptr) {
            error = "a function module named " + name + " exists already";
            return false;
        }
        registry.add(make_vok_dialog_module(name));
    }
    return true;
}

} // namespace sapsim
