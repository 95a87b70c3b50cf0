// Modules for the library's conformance tests: echo of every type and table,
// a call back into the caller, exceptions, system failure, abort.
#include "sapsim/call_context.h"
#include "sapsim/logger.h"
#include "sapsim/module_support.h"
#include "sapsim/modules.h"
#include "sapsim/text.h"

#include <cstdint>
#include <cstring>

namespace sapsim {

namespace {

// Every elementary type once; the same buffers are read as I_* and sent back as E_*.
struct EchoValues {
    char16_t chr[20];
    char16_t date[8];
    unsigned char bcd[8];
    char16_t time[6];
    unsigned char raw[16];
    char16_t num[10];
    double flt = 0;
    std::int32_t i4 = 0;
    std::int16_t i2 = 0;
    std::uint8_t i1 = 0;
};

class EchoModule : public FunctionModule {
public:
    const char* name() const override { return "Z_SIM_ECHO"; }
    void serve(CallContext& context) const override
    {
        EchoValues v;
        put_chars(v.chr, 20, "");
        put_chars(v.date, 8, "00000000");
        put_chars(v.time, 6, "000000");
        put_chars(v.num, 10, "0000000000");
        std::memset(v.bcd, 0, sizeof v.bcd);
        v.bcd[sizeof v.bcd - 1] = 0x0C;  // packed zero, positive
        std::memset(v.raw, 0, sizeof v.raw);
        RFC_PARAMETER importing[] = {
            {u"I_CHAR", 0, RFCTYPE_CHAR, sizeof v.chr, v.chr},   {u"I_DATE", 0, RFCTYPE_DATE, sizeof v.date, v.date},
            {u"I_BCD", 0, RFCTYPE_BCD, sizeof v.bcd, v.bcd},     {u"I_TIME", 0, RFCTYPE_TIME, sizeof v.time, v.time},
            {u"I_RAW", 0, RFCTYPE_BYTE, sizeof v.raw, v.raw},    {u"I_NUM", 0, RFCTYPE_NUM, sizeof v.num, v.num},
            {u"I_FLOAT", 0, RFCTYPE_FLOAT, sizeof v.flt, &v.flt}, {u"I_INT", 0, RFCTYPE_INT, sizeof v.i4, &v.i4},
            {u"I_INT2", 0, RFCTYPE_INT2, sizeof v.i2, &v.i2},    {u"I_INT1", 0, RFCTYPE_INT1, sizeof v.i1, &v.i1},
            end_of_parameters};
        RFC_TABLE tables[] = {table_parameter(u"ECHOTAB"), table_parameter(u"COPYTAB"), end_of_tables};
        if (!get_call_data(context, name(), importing, tables)) {
            delete_received_tables(tables);
            return;
        }
        // COPYTAB comes back with ECHOTAB's lines in reverse order, at ECHOTAB's width.
        const unsigned width = ItLeng(tables[0].ithandle);
        const unsigned rows = ItFill(tables[0].ithandle);
        ITAB_H copy = width > 0 ? ItCreate(u"COPYTAB", width, rows, 0) : nullptr;
        for (unsigned i = rows; copy != nullptr && i >= 1; --i) {
            void* line = ItAppLine(copy);
            if (line == nullptr)
                break;
            std::memcpy(line, ItGetLine(tables[0].ithandle, i), width);
        }
        std::int32_t echo_rows = static_cast<std::int32_t>(rows);
        std::int32_t echo_width = static_cast<std::int32_t>(width);
        RFC_PARAMETER exporting[] = {
            {u"E_CHAR", 0, RFCTYPE_CHAR, sizeof v.chr, v.chr},   {u"E_DATE", 0, RFCTYPE_DATE, sizeof v.date, v.date},
            {u"E_BCD", 0, RFCTYPE_BCD, sizeof v.bcd, v.bcd},     {u"E_TIME", 0, RFCTYPE_TIME, sizeof v.time, v.time},
            {u"E_RAW", 0, RFCTYPE_BYTE, sizeof v.raw, v.raw},    {u"E_NUM", 0, RFCTYPE_NUM, sizeof v.num, v.num},
            {u"E_FLOAT", 0, RFCTYPE_FLOAT, sizeof v.flt, &v.flt}, {u"E_INT", 0, RFCTYPE_INT, sizeof v.i4, &v.i4},
            {u"E_INT2", 0, RFCTYPE_INT2, sizeof v.i2, &v.i2},    {u"E_INT1", 0, RFCTYPE_INT1, sizeof v.i1, &v.i1},
            {u"E_ROWS", 0, RFCTYPE_INT, sizeof echo_rows, &echo_rows},
            {u"E_WIDTH", 0, RFCTYPE_INT, sizeof echo_width, &echo_width},
            end_of_parameters};
        RFC_TABLE answer_tables[] = {table_parameter(u"ECHOTAB", width, tables[0].ithandle),
                                     table_parameter(u"COPYTAB", width, copy != nullptr ? copy : tables[1].ithandle),
                                     end_of_tables};
        send_answer(context, name(), exporting, answer_tables);
        if (copy != nullptr)
            ItDelete(copy);
        delete_received_tables(tables);
    }
};

// Calls FUNCTION of the caller with DATA and table LINES, and answers with what
// the callback returned (ANSWER, LINES). An exception of the callback is
// raised again under its own name, with LINES.
class CallbackModule : public FunctionModule {
public:
    const char* name() const override { return "Z_SIM_CALLBACK"; }
    void serve(CallContext& context) const override
    {
        char16_t function[30], data[255], answer[255];
        put_chars(function, 30, "");
        put_chars(data, 255, "");
        put_chars(answer, 255, "");
        RFC_PARAMETER importing[] = {char_parameter(u"FUNCTION", function, 30), char_parameter(u"DATA", data, 255),
                                     end_of_parameters};
        RFC_TABLE tables[] = {table_parameter(u"LINES"), end_of_tables};
        if (!get_call_data(context, name(), importing, tables)) {
            delete_received_tables(tables);
            return;
        }
        const std::string target = get_chars(function, 30);
        const std::uint64_t conn = context.session().connection_id;
        if (target.empty()) {
            RfcRaise(context.handle(), u"NO_FUNCTION");
            delete_received_tables(tables);
            return;
        }
        const std::u16string target16 = to_utf16(target);
        RFC_PARAMETER call_exporting[] = {char_parameter(u"DATA", data, 255), end_of_parameters};
        RFC_PARAMETER call_importing[] = {char_parameter(u"ANSWER", answer, 255), end_of_parameters};
        RFC_TABLE call_tables[] = {table_parameter(u"LINES", ItLeng(tables[0].ithandle), tables[0].ithandle), end_of_tables};
        SAPSIM_LOG(debug, conn) << name() << ": calling back " << target;
        RFC_RC rc = RfcCall(context.handle(), target16.c_str(), call_exporting, call_tables);
        SAP_UC* exception = nullptr;
        if (rc == RFC_OK)
            rc = context.receive(context.handle(), call_importing, call_tables, &exception);
        RFC_PARAMETER exporting[] = {char_parameter(u"ANSWER", answer, 255), end_of_parameters};
        switch (rc) {
        case RFC_OK:
            send_answer(context, name(), exporting, call_tables);
            break;
        case RFC_EXCEPTION:
            SAPSIM_LOG(info, conn) << name() << ": callback " << target << " raised " << from_c_text(exception, 128);
            RfcRaiseTables(context.handle(), exception, call_tables);
            break;
        default:
            // The caller's connection failed or ended while it served the callback.
            SAPSIM_LOG(warning, conn) << name() << ": callback " << target << " failed (rc " << rc
                                      << "): " << CallContext::last_error();
            break;
        }
        // A LINES table the caller did not send is created by the callback's answer.
        delete_received_tables(call_tables);
        delete_received_tables(tables);
    }
};

// Raises EXCEPTION (default Z_SIM_RAISED); with WITH_TABLES = 'X' together
// with table MESSAGES, to which it appends MESSAGE.
class RaiseModule : public FunctionModule {
public:
    const char* name() const override { return "Z_SIM_RAISE"; }
    void serve(CallContext& context) const override
    {
        char16_t exception[30], message[80], with_tables[1];
        put_chars(exception, 30, "");
        put_chars(message, 80, "");
        put_chars(with_tables, 1, "");
        RFC_PARAMETER importing[] = {char_parameter(u"EXCEPTION", exception, 30), char_parameter(u"MESSAGE", message, 80),
                                     char_parameter(u"WITH_TABLES", with_tables, 1), end_of_parameters};
        RFC_TABLE tables[] = {table_parameter(u"MESSAGES"), end_of_tables};
        if (!get_call_data(context, name(), importing, tables)) {
            delete_received_tables(tables);
            return;
        }
        std::string raised = get_chars(exception, 30);
        if (raised.empty())
            raised = "Z_SIM_RAISED";
        const std::u16string raised16 = to_utf16(raised);
        SAPSIM_LOG(debug, context.session().connection_id) << name() << ": raising " << raised;
        if (with_tables[0] == u'X') {
            // A caller that sent no MESSAGES table still gets one of 80 characters.
            ITAB_H own = tables[0].ithandle == nullptr ? ItCreate(u"MESSAGES", 160, 1, 0) : nullptr;
            RFC_TABLE raise_tables[] = {table_parameter(u"MESSAGES", 0, own != nullptr ? own : tables[0].ithandle),
                                        end_of_tables};
            ITAB_H messages = raise_tables[0].ithandle;
            raise_tables[0].leng = ItLeng(messages);
            if (void* line = raise_tables[0].leng >= 2 ? ItAppLine(messages) : nullptr)
                put_chars(static_cast<char16_t*>(line), raise_tables[0].leng / 2, std::u16string_view(message, 80));
            RfcRaiseTables(context.handle(), raised16.c_str(), raise_tables);
            if (own != nullptr)
                ItDelete(own);
        } else {
            RfcRaise(context.handle(), raised16.c_str());
        }
        delete_received_tables(tables);
    }
};

// Ends in a system failure, as an ABAP runtime error would: KEY and MESSAGE
// (defaults COMPUTE_INT_ZERODIVIDE and a division-by-zero text).
class FailModule : public FunctionModule {
public:
    const char* name() const override { return "Z_SIM_FAIL"; }
    void serve(CallContext& context) const override
    {
        char16_t key[30], message[80];
        put_chars(key, 30, "");
        put_chars(message, 80, "");
        RFC_PARAMETER importing[] = {char_parameter(u"KEY", key, 30), char_parameter(u"MESSAGE", message, 80),
                                     end_of_parameters};
        RFC_TABLE no_tables[] = {end_of_tables};
        if (!get_call_data(context, name(), importing, no_tables))
            return;
        std::string k = get_chars(key, 30), m = get_chars(message, 80);
        if (k.empty())
            k = "COMPUTE_INT_ZERODIVIDE";
        if (m.empty())
            m = "Division by 0 (type I) in Z_SIM_FAIL";
        SAPSIM_LOG(info, context.session().connection_id) << name() << ": system failure " << k;
        RfcGwSystemFailure(context.handle(), to_utf16(k).c_str(), to_utf16(m).c_str());
    }
};

// Aborts the conversation with TEXT.
class AbortModule : public FunctionModule {
public:
    const char* name() const override { return "Z_SIM_ABORT"; }
    void serve(CallContext& context) const override
    {
        char16_t text[80];
        put_chars(text, 80, "");
        RFC_PARAMETER importing[] = {char_parameter(u"TEXT", text, 80), end_of_parameters};
        RFC_TABLE no_tables[] = {end_of_tables};
        if (!get_call_data(context, name(), importing, no_tables))
            return;
        std::string t = get_chars(text, 80);
        if (t.empty())
            t = "Conversation aborted by Z_SIM_ABORT";
        SAPSIM_LOG(info, context.session().connection_id) << name() << ": aborting";
        RfcAbort(context.handle(), to_utf16(t).c_str());
    }
};

} // namespace

std::unique_ptr<FunctionModule> make_echo_module()
{
    return std::make_unique<EchoModule>();
}

std::unique_ptr<FunctionModule> make_callback_module()
{
    return std::make_unique<CallbackModule>();
}

std::unique_ptr<FunctionModule> make_raise_module()
{
    return std::make_unique<RaiseModule>();
}

std::unique_ptr<FunctionModule> make_fail_module()
{
    return std::make_unique<FailModule>();
}

std::unique_ptr<FunctionModule> make_abort_module()
{
    return std::make_unique<AbortModule>();
}

} // namespace sapsim
