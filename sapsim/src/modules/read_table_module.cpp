// Z_SIM_READ_TABLE: rows of a store table as text, filtered by the logon client.
#include "sapsim/call_context.h"
#include "sapsim/logger.h"
#include "sapsim/module_support.h"
#include "sapsim/modules.h"
#include "sapsim/store.h"
#include "sapsim/text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace sapsim {

namespace {

constexpr size_t fields_line_chars = 30 + 6 + 6 + 1 + 60;  // FIELDNAME OFFSET LENGTH TYPE FIELDTEXT
constexpr size_t data_line_chars = 512;
// A read holds its rows in memory twice (here and at the caller): beyond this
// many rows it is refused rather than growing to gigabytes.
constexpr std::int64_t max_rows = 200'000;

class ReadTableModule : public FunctionModule {
public:
    const char* name() const override { return "Z_SIM_READ_TABLE"; }
    void serve(CallContext& context) const override
    {
        char16_t query_table[30];
        put_chars(query_table, 30, "");
        std::int32_t rowcount = 0;
        RFC_PARAMETER importing[] = {char_parameter(u"QUERY_TABLE", query_table, 30),
                                     {u"ROWCOUNT", 0, RFCTYPE_INT, sizeof rowcount, &rowcount}, end_of_parameters};
        RFC_TABLE tables[] = {table_parameter(u"FIELDS"), table_parameter(u"DATA"), end_of_tables};
        if (!get_call_data(context, name(), importing, tables)) {
            delete_received_tables(tables);
            return;
        }
        const std::optional<TableDef> table = context.services().store.table(get_chars(query_table, 30));
        if (!table) {
            RfcRaise(context.handle(), u"TABLE_NOT_AVAILABLE");
            delete_received_tables(tables);
            return;
        }
        size_t total = 0;
        for (const FieldDef& f : table->fields)
            total += text_width(f);
        if (total > data_line_chars) {
            RfcRaise(context.handle(), u"DATA_BUFFER_EXCEEDED");
            delete_received_tables(tables);
            return;
        }
        const std::int64_t available = context.services().store.count_rows(table->name, context.session().client);
        if ((rowcount <= 0 ? available : std::min<std::int64_t>(rowcount, available)) > max_rows) {
            RfcRaise(context.handle(), u"TOO_MANY_ROWS");
            delete_received_tables(tables);
            return;
        }
        ITAB_H fields = ItCreate(u"FIELDS", fields_line_chars * 2, static_cast<unsigned>(table->fields.size()), 0);
        ITAB_H data = ItCreate(u"DATA", data_line_chars * 2, 64, 0);
        size_t offset = 0;
        char number[16];
        for (const FieldDef& f : table->fields) {
            auto* line = static_cast<char16_t*>(ItAppLine(fields));
            if (line == nullptr)
                break;
            put_chars(line, 30, f.name);
            std::snprintf(number, sizeof number, "%06zu", offset);
            put_chars(line + 30, 6, number);
            std::snprintf(number, sizeof number, "%06zu", text_width(f));
            put_chars(line + 36, 6, number);
            put_chars(line + 42, 1, std::string(1, f.type));
            put_chars(line + 43, 60, f.text);
            offset += text_width(f);
        }
        std::string error;
        std::int64_t count = 0;
        const bool ok = context.services().store.select_rows(
            table->name, context.session().client,
            [&](const std::vector<std::string>& values) {
                auto* line = static_cast<char16_t*>(ItAppLine(data));
                if (line == nullptr)
                    return false;
                size_t at = 0;
                for (size_t i = 0; i < values.size(); ++i) {
                    const size_t width = text_width(table->fields[i]);
                    put_chars(line + at, width, values[i]);
                    at += width;
                }
                put_chars(line + at, data_line_chars - at, "");
                return rowcount <= 0 || ++count < rowcount;
            },
            error);
        if (!ok) {
            SAPSIM_LOG(error, context.session().connection_id) << name() << ": " << error;
            RfcRaise(context.handle(), u"TABLE_NOT_AVAILABLE");
        } else {
            RFC_PARAMETER none[] = {end_of_parameters};
            RFC_TABLE answer[] = {table_parameter(u"FIELDS", fields_line_chars * 2, fields),
                                  table_parameter(u"DATA", data_line_chars * 2, data), end_of_tables};
            send_answer(context, name(), none, answer);
        }
        ItDelete(fields);
        ItDelete(data);
        delete_received_tables(tables);
    }
};

} // namespace

std::unique_ptr<FunctionModule> make_read_table_module()
{
    return std::make_unique<ReadTableModule>();
}

} // namespace sapsim
