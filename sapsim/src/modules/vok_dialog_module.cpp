// The VOK dialog module (vok_dialog_module.h): fetches the request from its
// caller, shows the caller the program generated for it when asked to, and
// answers a logon with the system information.
#include "sapsim/vok_dialog_module.h"

#include "sapsim/call_context.h"
#include "sapsim/function_registry.h"
#include "sapsim/logger.h"
#include "sapsim/module_support.h"
#include "sapsim/system_config.h"
#include "sapsim/text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

namespace sapsim {

namespace {

using namespace vok_dialog;

// What Z_VOK_GET_REQUEST_PARAMETERS answered; blank where it sent nothing.
struct RequestParameters {
    char16_t func_flag[func_flag_chars];
    char16_t abapprog[abapprog_chars];
    char16_t variant[variant_chars];
    char16_t blocksize[blocksize_chars];
    char16_t debug[debug_chars];
    char16_t dest[dest_chars];
    char16_t func_name[func_name_chars];
    char16_t dhandle[dhandle_chars];
    char16_t dialog_flag[dialog_flag_chars];
    // MDATA and JDATA, created by the library on receipt.
    RFC_TABLE tables[3] = {table_parameter(u"MDATA", statement_line_chars * 2),
                           table_parameter(u"JDATA", statement_line_chars * 2), end_of_tables};

    RequestParameters()
    {
        put_chars(func_flag, func_flag_chars, "");
        put_chars(abapprog, abapprog_chars, "");
        put_chars(variant, variant_chars, "");
        put_chars(blocksize, blocksize_chars, "");
        put_chars(debug, debug_chars, "");
        put_chars(dest, dest_chars, "");
        put_chars(func_name, func_name_chars, "");
        put_chars(dhandle, dhandle_chars, "");
        put_chars(dialog_flag, dialog_flag_chars, "");
    }
    ~RequestParameters() { delete_received_tables(tables); }
    RequestParameters(const RequestParameters&) = delete;
    RequestParameters& operator=(const RequestParameters&) = delete;

    char16_t request_type() const { return func_flag[0]; }
    // The generated program is shown unless DEBUG is blank or 'N'.
    bool debugging() const { return debug[0] != u' ' && debug[0] != u'N'; }
    unsigned statement_lines(size_t table) const { return ItFill(tables[table].ithandle); }
};

enum class Outcome { answered, raised, failed };

// One call back into the caller on the module's own connection; the caller may
// call the system again while it serves it. `raised` gets the exception name.
Outcome call_back(const CallContext& context, const char* module, const char16_t* function, RFC_PARAMETER* exporting,
                  RFC_PARAMETER* importing, RFC_TABLE* tables, std::u16string& raised)
{
    const std::uint64_t conn = context.session().connection_id;
    const std::string function_name = to_utf8(function);
    SAPSIM_LOG(debug, conn) << module << ": calling back " << function_name;
    RFC_RC rc = RfcCall(context.handle(), function, exporting, tables);
    SAP_UC* exception = nullptr;
    if (rc == RFC_OK)
        rc = context.receive(context.handle(), importing, tables, &exception);
    if (rc == RFC_OK)
        return Outcome::answered;
    if (rc == RFC_EXCEPTION) {
        raised = exception != nullptr ? std::u16string(exception) : std::u16string(u"UNKNOWN_EXCEPTION");
        SAPSIM_LOG(info, conn) << module << ": callback " << function_name << " raised " << to_utf8(raised);
        return Outcome::raised;
    }
    // The caller aborted or the connection broke: nothing more can be sent.
    SAPSIM_LOG(warning, conn) << module << ": callback " << function_name << " failed (rc " << rc
                              << "): " << CallContext::last_error();
    return Outcome::failed;
}

void raise(const CallContext& context, const char* module, const char16_t* exception)
{
    SAPSIM_LOG(info, context.session().connection_id) << module << ": raising " << to_utf8(exception);
    RfcRaise(context.handle(), exception);
}

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
// this request, as ABAP comment lines.
std::vector<std::string> program_lines(const std::string& module, const CallContext& context,
                                       const RequestParameters& p)
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
    if (p.statement_lines(0) > 0 || p.statement_lines(1) > 0)
        lines.push_back("* Statement: " + std::to_string(p.statement_lines(1)) + " JDATA lines, " +
                        std::to_string(p.statement_lines(0)) + " MDATA lines");
    if (type == u'I')
        lines.push_back("* Nothing to run: the system information follows");
    else
        lines.push_back("* Not supported by this system: the module raises REQUEST_NOT_SUPPORTED");
    return lines;
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
            raise(context, name(), u"DESTINATION_NOT_SUPPORTED");
            return;
        }
        // A report to schedule asks for a background job, which this system
        // does not start yet.
        if (!get_chars(preport, preport_chars).empty()) {
            raise(context, name(), u"REQUEST_NOT_SUPPORTED");
            return;
        }
        RequestParameters request;
        std::u16string raised;
        switch (get_request_parameters(context, request, raised)) {
        case Outcome::answered: break;
        case Outcome::raised: raise(context, name(), u"NO_REQUEST_PARAMETERS"); return;
        case Outcome::failed: return;
        }
        SAPSIM_LOG(debug, context.session().connection_id)
            << name() << ": request " << to_utf8(std::u16string(1, request.request_type())) << ", debug "
            << to_utf8(std::u16string(1, request.debug[0]));
        if (request.debugging() && !finish(context, show_program(context, request, raised), raised))
            return;
        if (request.request_type() != u'I') {
            raise(context, name(), u"REQUEST_NOT_SUPPORTED");
            return;
        }
        if (!finish(context, send_system_info(context, raised), raised))
            return;
        RFC_PARAMETER none[] = {end_of_parameters};
        send_answer(context, name(), none, no_tables);
    }

private:
    // After a callback: true to go on. An exception of the caller is raised
    // again under its own name; after a failure nothing more is sent.
    bool finish(const CallContext& context, Outcome outcome, const std::u16string& raised) const
    {
        if (outcome == Outcome::raised)
            raise(context, name(), raised.c_str());
        return outcome == Outcome::answered;
    }

    Outcome get_request_parameters(const CallContext& context, RequestParameters& p, std::u16string& raised) const
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

    Outcome show_program(const CallContext& context, const RequestParameters& p, std::u16string& raised) const
    {
        const std::vector<std::string> lines = program_lines(name_, context, p);
        ITAB_H ltab = ItCreate(u"LTAB", ltab_line_chars * 2, static_cast<unsigned>(lines.size()), 0);
        for (const std::string& text : lines) {
            auto* line = ltab != nullptr ? static_cast<char16_t*>(ItAppLine(ltab)) : nullptr;
            if (line == nullptr) {
                // Out of memory before anything was sent: end as an exception of the module.
                if (ltab != nullptr)
                    ItDelete(ltab);
                raised = u"NO_MEMORY";
                return Outcome::raised;
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
        const Outcome outcome = call_back(context, name(), u"Z_VOK_GENPROG", exporting, none, tables, raised);
        ItDelete(ltab);
        return outcome;
    }

    Outcome send_system_info(const CallContext& context, std::u16string& raised) const
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
