#include "sapsim/demo_program.h"

#include "sapsim/module_support.h"
#include "sapsim/text.h"

#include "rfclib/rfclib.h"

#include <cstring>
#include <ostream>

namespace sapsim {

namespace {

std::string error_text()
{
    RFC_ERROR_INFO_EX info{};
    if (RfcLastErrorEx(&info) != 0)
        return "unknown error";
    return from_c_text(info.key, RFC_ERROR_KEY_LN) + ": " + from_c_text(info.message, RFC_ERROR_MESSAGE_LN);
}

// Z_DEMO_GREET: import NAME (C 30); asks the calling system for its
// RFC_SYSTEM_INFO on the same connection, then answers GREETING (C 100)
// "Hello NAME from SID" and table LINES (C 40): system id, host and release.
void greet(RFC_HANDLE h)
{
    char16_t name[30];
    put_chars(name, 30, "");
    RFC_PARAMETER importing[] = {char_parameter(u"NAME", name, 30), end_of_parameters};
    RFC_TABLE no_tables[] = {end_of_tables};
    if (RfcGetData(h, importing, no_tables) != RFC_OK)
        return;
    char16_t rfcsi[245];
    put_chars(rfcsi, 245, "");
    RFC_PARAMETER none[] = {end_of_parameters};
    RFC_PARAMETER info[] = {char_parameter(u"RFCSI_EXPORT", rfcsi, 245), end_of_parameters};
    SAP_UC* exception = nullptr;
    if (RfcCallReceive(h, u"RFC_SYSTEM_INFO", none, info, no_tables, &exception) != RFC_OK) {
        RfcAbort(h, u"RFC_SYSTEM_INFO of the calling system failed");
        return;
    }
    const std::string sysid = get_chars(rfcsi + 53, 8), host = get_chars(rfcsi + 45, 8), release = get_chars(rfcsi + 111, 4);
    std::string who = get_chars(name, 30);
    char16_t greeting[100];
    put_chars(greeting, 100, "Hello " + (who.empty() ? std::string("world") : who) + " from " + sysid);
    ITAB_H lines = ItCreate(u"LINES", 80, 3, 0);
    for (const std::string& text : {"system " + sysid, "host " + host, "release " + release})
        if (void* line = ItAppLine(lines))
            put_chars(static_cast<char16_t*>(line), 40, text);
    RFC_PARAMETER exporting[] = {char_parameter(u"GREETING", greeting, 100), end_of_parameters};
    RFC_TABLE tables[] = {table_parameter(u"LINES", 80, lines), end_of_tables};
    RfcSendData(h, exporting, tables);
    ItDelete(lines);
}

void serve_call(RFC_HANDLE h, std::ostream& out)
{
    SAP_UC name[RFC_LONG_FUNCNAME_LN + 1] = {};
    if (RfcGetLongNameEx(h, name, RFC_LONG_FUNCNAME_LN + 1) != RFC_OK)
        return;
    const std::string function = from_c_text(name, RFC_LONG_FUNCNAME_LN);
    out << "call of " << function << std::endl;
    if (function == "Z_DEMO_GREET") {
        greet(h);
    } else if (function == "RFC_PING") {
        RFC_PARAMETER none[] = {end_of_parameters};
        RFC_TABLE no_tables[] = {end_of_tables};
        if (RfcGetData(h, none, no_tables) == RFC_OK)
            RfcSendData(h, none, no_tables);
    } else {
        RfcRaise(h, u"FUNCTION_NOT_SUPPORTED");
    }
}

} // namespace

int DemoProgram::run(const DemoProgramOptions& options, const std::atomic<bool>& stop, std::ostream& out, std::ostream& err)
{
    RfcInit();
    std::u16string a = u"-a", program = to_utf16(options.program), g = u"-g", host = to_utf16(options.host), x = u"-x",
                   service = to_utf16(std::to_string(options.port));
    while (!stop) {
        SAP_UC* argv[] = {a.data(), program.data(), g.data(), host.data(), x.data(), service.data(), nullptr};
        const RFC_HANDLE h = RfcAccept(argv);
        if (h == RFC_HANDLE_NULL) {
            err << "sapsim register: cannot register " << options.program << " at " << options.host << ":" << options.port
                << ": " << error_text() << std::endl;
            return 1;
        }
        out << "program " << options.program << " registered at " << options.host << ":" << options.port << std::endl;
        bool served = false;
        while (!stop) {
            const RFC_RC rc = RfcWaitForRequest(h, 1);
            if (rc == RFC_RETRY)
                continue;
            if (rc != RFC_OK)
                break;  // the conversation ended
            serve_call(h, out);
            served = true;
        }
        RfcClose(h);
        if (served && options.once)
            break;
    }
    return 0;
}

} // namespace sapsim
