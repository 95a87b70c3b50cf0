// Z_SIM_ADMIN_CALL: calls a function of a registered program (admin_call.h).
#include "sapsim/admin_call.h"
#include "sapsim/call_context.h"
#include "sapsim/logger.h"
#include "sapsim/module_support.h"
#include "sapsim/modules.h"
#include "sapsim/text.h"

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <vector>

namespace sapsim {

namespace {

using namespace admin_call;

// The parameters of the call to the program, with storage that stays put
// while the library holds pointers into it.
struct ProgramCall {
    std::deque<std::u16string> names;
    std::deque<std::u16string> values;
    std::deque<std::int32_t> numbers;
    std::vector<RFC_PARAMETER> exporting, importing;
    std::vector<RFC_TABLE> tables;

    const SAP_UC* keep_name(const std::string& name) { return names.emplace_back(to_utf16(name)).c_str(); }

    void add(char kind, const std::string& name, unsigned leng, const std::u16string& value)
    {
        if (kind == 'E') {
            std::u16string& v = values.emplace_back(value);
            if (leng > 0)
                v.resize(leng, u' ');
            exporting.push_back(RFC_PARAMETER{keep_name(name), 0, RFCTYPE_CHAR,
                                              static_cast<unsigned>(v.size() * sizeof(char16_t)), v.data()});
        } else if (kind == 'N') {
            std::int32_t& v = numbers.emplace_back(static_cast<std::int32_t>(std::strtol(to_utf8(value).c_str(), nullptr, 10)));
            exporting.push_back(RFC_PARAMETER{keep_name(name), 0, RFCTYPE_INT, sizeof v, &v});
        } else if (kind == 'I') {
            std::u16string& v = values.emplace_back(leng > 0 ? leng : 255, u' ');
            importing.push_back(RFC_PARAMETER{keep_name(name), 0, RFCTYPE_CHAR,
                                              static_cast<unsigned>(v.size() * sizeof(char16_t)), v.data()});
        } else {
            tables.push_back(RFC_TABLE{keep_name(name), 0, RFCTYPE_CHAR, leng, nullptr, RFC_ITMODE_BYREFERENCE, 0});
        }
    }

    void finish()
    {
        exporting.push_back(end_of_parameters);
        importing.push_back(end_of_parameters);
        tables.push_back(end_of_tables);
    }
};

void append_result(ITAB_H result, char kind, std::u16string_view name, std::u16string_view value)
{
    auto* line = static_cast<char16_t*>(ItAppLine(result));
    if (line == nullptr)
        return;
    line[0] = static_cast<char16_t>(kind);
    put_chars(line + kind_chars, name_chars, name);
    put_chars(line + kind_chars + name_chars, value_chars, value);
}

std::u16string trimmed(const char16_t* text, size_t chars)
{
    while (chars > 0 && (text[chars - 1] == u' ' || text[chars - 1] == 0))
        --chars;
    return std::u16string(text, chars);
}

class AdminCallModule : public FunctionModule {
public:
    const char* name() const override { return "Z_SIM_ADMIN_CALL"; }
    void serve(CallContext& context) const override
    {
        const std::uint64_t conn = context.session().connection_id;
        char16_t progid[progid_chars], funcname[funcname_chars];
        put_chars(progid, progid_chars, "");
        put_chars(funcname, funcname_chars, "");
        RFC_PARAMETER importing[] = {char_parameter(u"PROGID", progid, progid_chars),
                                     char_parameter(u"FUNCNAME", funcname, funcname_chars), end_of_parameters};
        RFC_TABLE tables[] = {table_parameter(u"PARAMS"), table_parameter(u"RESULT"), end_of_tables};
        if (!get_call_data(context, name(), importing, tables)) {
            delete_received_tables(tables);
            return;
        }
        const std::u16string program = trimmed(progid, progid_chars);
        const std::u16string function = trimmed(funcname, funcname_chars);

        ProgramCall call;
        ITAB_H params = tables[0].ithandle;
        const unsigned param_width = ItLeng(params) / 2;
        for (unsigned i = 1; i <= ItFill(params) && param_width >= param_line_chars; ++i) {
            const auto* line = static_cast<const char16_t*>(ItGetLine(params, i));
            const char kind = static_cast<char>(line[0]);
            if (kind != 'E' && kind != 'N' && kind != 'I' && kind != 'T')
                continue;
            const std::string pname = get_chars(line + kind_chars, name_chars);
            const unsigned leng = static_cast<unsigned>(std::strtoul(get_chars(line + kind_chars + name_chars, leng_chars).c_str(), nullptr, 10));
            call.add(kind, pname, leng, trimmed(line + kind_chars + name_chars + leng_chars, value_chars));
        }
        call.finish();

        RFC_ERROR_INFO_EX error{};
        const RFC_HANDLE target = RfcGwOpenRegistered(context.services().gateway.load(), program.c_str(), &error);
        if (target == RFC_HANDLE_NULL) {
            SAPSIM_LOG(info, conn) << name() << ": no idle registration of " << to_utf8(program) << ": "
                                   << from_c_text(error.message, RFC_ERROR_MESSAGE_LN);
            RfcRaise(context.handle(), u"NOT_REGISTERED");
            delete_received_tables(tables);
            return;
        }
        SAPSIM_LOG(info, conn) << name() << ": calling " << to_utf8(function) << " of registered program " << to_utf8(program);
        RFC_RC rc = RfcCall(target, function.c_str(), call.exporting.data(), call.tables.data());
        SAP_UC* exception = nullptr;
        if (rc == RFC_OK)
            rc = context.receive(target, call.importing.data(), call.tables.data(), &exception);

        ITAB_H result = ItCreate(u"RESULT", result_line_chars * 2, 16, 0);
        std::u16string message;
        if (rc == RFC_OK) {
            for (const RFC_PARAMETER& p : call.importing)
                if (p.name != nullptr)
                    append_result(result, 'I', p.name, trimmed(static_cast<const char16_t*>(p.addr), p.leng / 2));
            for (const RFC_TABLE& t : call.tables) {
                if (t.name == nullptr)
                    continue;
                const unsigned count = ItFill(t.ithandle), chars = ItLeng(t.ithandle) / 2;
                append_result(result, 'C', t.name, to_utf16(std::to_string(count)));
                for (unsigned i = 1; i <= count; ++i)
                    append_result(result, 'T', t.name, trimmed(static_cast<const char16_t*>(ItGetLine(t.ithandle, i)), chars));
            }
        } else if (rc == RFC_EXCEPTION) {
            message = exception != nullptr ? exception : u"";
        } else {
            message = to_utf16(CallContext::last_error());
        }
        RfcClose(target);
        delete_received_tables(call.tables.data());
        SAPSIM_LOG(info, conn) << name() << ": call of " << to_utf8(function) << " ended with " << rc
                               << (message.empty() ? "" : ": ") << to_utf8(message);

        std::int32_t code = rc;
        char16_t message_field[message_chars];
        put_chars(message_field, message_chars, message);
        RFC_PARAMETER exporting[] = {{u"RC", 0, RFCTYPE_INT, sizeof code, &code},
                                     char_parameter(u"MESSAGE", message_field, message_chars), end_of_parameters};
        RFC_TABLE answer[] = {table_parameter(u"PARAMS", ItLeng(params), params),
                              table_parameter(u"RESULT", result_line_chars * 2, result), end_of_tables};
        send_answer(context, name(), exporting, answer);
        ItDelete(result);
        delete_received_tables(tables);
    }
};

} // namespace

std::unique_ptr<FunctionModule> make_admin_call_module()
{
    return std::make_unique<AdminCallModule>();
}

} // namespace sapsim
