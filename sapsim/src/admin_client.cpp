#include "sapsim/admin_client.h"

#include "sapsim/admin_call.h"
#include "sapsim/module_support.h"
#include "sapsim/text.h"

#include "rfclib/rfclib.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>

namespace sapsim {

namespace {

using namespace admin_call;

std::string error_text()
{
    RFC_ERROR_INFO_EX info{};
    if (RfcLastErrorEx(&info) != 0)
        return "unknown error";
    return from_c_text(info.key, RFC_ERROR_KEY_LN) + ": " + from_c_text(info.message, RFC_ERROR_MESSAGE_LN);
}

// Splits "NAME=VALUE"; without '=' the value is empty.
void split(const std::string& item, std::string& name, std::string& value)
{
    const size_t eq = item.find('=');
    name = item.substr(0, eq);
    value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
}

bool append_param(ITAB_H params, char kind, const std::string& item, std::ostream& err)
{
    std::string name, value;
    split(item, name, value);
    if (name.empty() || name.size() > name_chars) {
        err << "sapsim call: bad parameter '" << item << "': the name must have 1 to " << name_chars << " characters\n";
        return false;
    }
    std::string leng = "0";
    if (kind == 'E') {
        if (to_utf16(value).size() > value_chars) {
            err << "sapsim call: value of " << name << " longer than " << value_chars << " characters\n";
            return false;
        }
        leng = std::to_string(to_utf16(value).size());
    } else if (kind == 'N') {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || errno != 0 || n < INT32_MIN || n > INT32_MAX) {
            err << "sapsim call: bad integer in '" << item << "'\n";
            return false;
        }
    } else if (!value.empty()) {
        char* end = nullptr;
        const long n = std::strtol(value.c_str(), &end, 10);
        if (*end != '\0' || n < 0 || n > 999999) {
            err << "sapsim call: bad length in '" << item << "'\n";
            return false;
        }
        leng = std::to_string(n);
    }
    auto* line = static_cast<char16_t*>(ItAppLine(params));
    if (line == nullptr)
        return false;
    line[0] = static_cast<char16_t>(kind);
    put_chars(line + kind_chars, name_chars, name);
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06ld", std::strtol(leng.c_str(), nullptr, 10));
    put_chars(line + kind_chars + name_chars, leng_chars, digits);
    put_chars(line + kind_chars + name_chars + leng_chars, value_chars, kind == 'E' || kind == 'N' ? value : std::string());
    return true;
}

} // namespace

int AdminClient::run(const AdminCallOptions& options, std::ostream& out, std::ostream& err)
{
    if (options.program.empty() || options.function.empty()) {
        err << "sapsim call: --program and --function are required\n";
        return usage;
    }
    RfcInit();
    ITAB_H params = ItCreate(u"PARAMS", param_line_chars * 2, 8, 0);
    bool built = params != nullptr;
    for (const std::string& p : options.params)
        built = built && append_param(params, 'E', p, err);
    for (const std::string& p : options.integers)
        built = built && append_param(params, 'N', p, err);
    for (const std::string& p : options.imports)
        built = built && append_param(params, 'I', p, err);
    for (const std::string& p : options.tables)
        built = built && append_param(params, 'T', p, err);
    if (!built) {
        ItDelete(params);
        return usage;
    }

    const std::string connect = "ashost=\"" + options.host + "\" gwserv=\"" + std::to_string(options.port) + "\" client=\"" +
                                options.client + "\" user=\"" + options.user + "\" passwd=\"" + options.password +
                                "\" lang=\"E\"";
    RFC_ERROR_INFO_EX info{};
    const RFC_HANDLE handle = RfcOpenEx(to_utf16(connect).c_str(), &info);
    if (handle == RFC_HANDLE_NULL) {
        err << "sapsim call: logon to " << options.host << ":" << options.port << " failed: "
            << from_c_text(info.key, RFC_ERROR_KEY_LN) << ": " << from_c_text(info.message, RFC_ERROR_MESSAGE_LN) << "\n";
        ItDelete(params);
        return logon_failed;
    }

    char16_t progid[progid_chars], funcname[funcname_chars], message[message_chars];
    put_chars(progid, progid_chars, options.program);
    put_chars(funcname, funcname_chars, options.function);
    put_chars(message, message_chars, "");
    std::int32_t rc = 0;
    RFC_PARAMETER exporting[] = {char_parameter(u"PROGID", progid, progid_chars),
                                 char_parameter(u"FUNCNAME", funcname, funcname_chars), end_of_parameters};
    RFC_PARAMETER importing[] = {{u"RC", 0, RFCTYPE_INT, sizeof rc, &rc}, char_parameter(u"MESSAGE", message, message_chars),
                                 end_of_parameters};
    RFC_TABLE tables[] = {table_parameter(u"PARAMS", param_line_chars * 2, params),
                          table_parameter(u"RESULT", result_line_chars * 2), end_of_tables};
    SAP_UC* exception = nullptr;
    const RFC_RC call_rc = RfcCallReceive(handle, u"Z_SIM_ADMIN_CALL", exporting, importing, tables, &exception);
    int exit_code = AdminClient::ok;
    if (call_rc == RFC_EXCEPTION) {
        const std::string name = exception != nullptr ? to_utf8(exception) : std::string("?");
        if (name == "NOT_REGISTERED")
            err << "sapsim call: no idle registration of program " << options.program << "\n";
        else
            err << "sapsim call: exception " << name << "\n";
        exit_code = call_failed;
    } else if (call_rc != RFC_OK) {
        err << "sapsim call: " << error_text() << "\n";
        exit_code = call_failed;
    } else if (rc == RFC_EXCEPTION) {
        out << "exception " << get_chars(message, message_chars) << "\n";
        exit_code = exception_raised;
    } else if (rc != RFC_OK) {
        err << "sapsim call: call of " << options.function << " failed: " << get_chars(message, message_chars) << "\n";
        exit_code = call_failed;
    } else {
        ITAB_H result = tables[1].ithandle;
        const unsigned chars = ItLeng(result) / 2;
        for (unsigned i = 1; i <= ItFill(result) && chars >= result_line_chars; ++i) {
            const auto* line = static_cast<const char16_t*>(ItGetLine(result, i));
            const std::string name = get_chars(line + kind_chars, name_chars);
            const std::string value = get_chars(line + kind_chars + name_chars, value_chars);
            switch (static_cast<char>(line[0])) {
            case 'I': out << name << "=" << value << "\n"; break;
            case 'C': out << name << " rows=" << value << "\n"; break;
            case 'T': out << name << ": " << value << "\n"; break;
            default: break;
            }
        }
    }
    if (tables[1].newitab != 0)
        ItDelete(tables[1].ithandle);
    ItDelete(params);
    RfcClose(handle);
    return exit_code;
}

} // namespace sapsim
