// Z_VOK_READ_TABLE: rows of a store table as text lines of 512 characters,
// the way the classic table-reading module of an SAP system returns them.
// Unlike a select, a row wider than 512 characters cannot be read at all
// (DATA_BUFFER_EXCEEDED) unless FIELDS names fewer fields; the where
// condition in OPTIONS is Open SQL as the read report takes it.
#include "sapsim/described_module.h"
#include "sapsim/logger.h"
#include "sapsim/module_support.h"
#include "sapsim/modules.h"
#include "sapsim/read/sql_builder.h"
#include "sapsim/read/sql_functions.h"
#include "sapsim/sqlite_statement.h"
#include "sapsim/store.h"
#include "sapsim/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace sapsim {

namespace {

constexpr size_t data_line_chars = 512;
// A read keeps its rows in memory, here and at the caller.
constexpr std::int64_t max_returned_rows = 200'000;

FunctionInterface read_table_interface()
{
    return FunctionInterface{
        "Z_VOK_READ_TABLE",
        "Rows of a table as text lines of 512 characters",
        {optional_in("QUERY_TABLE", AbapType::character(30), "Table to read", "SCARR"),
         optional_in("DELIMITER", AbapType::character(1), "Character between the fields (blank: none)"),
         optional_in("NO_DATA", AbapType::character(1), "X: only the field list"),
         optional_in("ROWSKIPS", AbapType::int4(), "Rows skipped before the first one returned"),
         optional_in("ROWCOUNT", AbapType::int4(), "Most rows returned (0: all)")},
        {structured_table("OPTIONS", "ZVOK_S_OPTION", true, "Where condition in Open SQL over as many lines as needed",
                          {{"TEXT", AbapType::character(72), "Part of the condition"}}),
         structured_table("FIELDS", "ZVOK_S_FIELD", false,
                          "Fields to read (none: all); returned with their place in a DATA row",
                          {{"FIELDNAME", AbapType::character(30), "Field name"},
                           {"OFFSET", AbapType::numeric(6), "Offset in the row in characters"},
                           {"LENGTH", AbapType::numeric(6), "Length in characters"},
                           {"TYPE", AbapType::character(1), "ABAP type"},
                           {"FIELDTEXT", AbapType::character(60), "Description"}}),
         structured_table("DATA", "ZVOK_S_DATA", false, "One row per line: the fields as text",
                          {{"WA", AbapType::character(data_line_chars), "The row"}})},
        {{"TABLE_NOT_AVAILABLE", "QUERY_TABLE names no table"},
         {"FIELD_NOT_VALID", "FIELDS names a field the table does not have"},
         {"OPTION_NOT_VALID", "OPTIONS holds no valid condition"},
         {"DATA_BUFFER_EXCEEDED", "The fields take more than 512 characters"},
         {"TOO_MANY_ROWS", "More rows than a table may return: give ROWCOUNT"}}};
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string hex(const void* data, int size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (int i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

// One field of a DATA row: where it sits and how wide it is, in characters.
struct Placed {
    const FieldDef* field;
    size_t offset;
    size_t width;
};

class ReadTableModule : public DescribedModule {
public:
    ReadTableModule() : DescribedModule(read_table_interface()) {}
    ModuleOutcome run(ModuleRun& run) const override
    {
        FunctionFrame& frame = run.frame;
        std::string error;
        const Store::Connection db = run.context.services().store.open_reader(error);
        if (!db || !SqlFunctions::install(db.get(), error))
            return database_failure(run, "the tables cannot be read: " + error);
        const std::optional<TableDef> table = Store::read_table(db.get(), upper(frame.text("QUERY_TABLE")));
        if (!table)
            return raise(run, u"TABLE_NOT_AVAILABLE");

        std::vector<const FieldDef*> fields;
        if (!requested_fields(frame, *table, fields))
            return raise(run, u"FIELD_NOT_VALID");
        const std::string delimiter = frame.text("DELIMITER");
        std::vector<Placed> placed;
        size_t end = 0;
        for (const FieldDef* f : fields) {
            if (!placed.empty())
                end += delimiter.empty() ? 0 : 1;
            placed.push_back(Placed{f, end, text_width(*f)});
            end += placed.back().width;
        }
        if (end > data_line_chars)
            return raise(run, u"DATA_BUFFER_EXCEEDED");
        if (!list_fields(frame, placed))
            return out_of_memory(run);
        if (frame.text("NO_DATA") == "X")
            return ModuleOutcome::answer;

        SqlPlan plan;
        if (!plan_read(run, db.get(), *table, fields, plan, error)) {
            SAPSIM_LOG(info, run.context.session().connection_id) << name() << ": " << error;
            return raise(run, u"OPTION_NOT_VALID");
        }
        Statement statement;
        if (!statement.prepare(db.get(), plan.sql))
            return database_failure(run, std::string("the statement cannot run: ") + sqlite3_errmsg(db.get()));
        plan.bind(statement);
        return read_rows(run, db.get(), statement, placed, delimiter);
    }

private:
    // The fields FIELDS names, or all fields of the table when it names none.
    bool requested_fields(const FunctionFrame& frame, const TableDef& table, std::vector<const FieldDef*>& out) const
    {
        const TableDescription& desc = interface().tables[1];
        const FieldDescription& fieldname = *desc.field("FIELDNAME");
        const ITAB_H lines = frame.table("FIELDS");
        for (unsigned i = 1; i <= ItFill(lines); ++i) {
            const auto* line = static_cast<const unsigned char*>(ItGetLine(lines, i));
            const std::string name = upper(get_text(fieldname.type, line + fieldname.offset));
            if (name.empty())
                continue;
            const auto f = std::find_if(table.fields.begin(), table.fields.end(),
                                        [&](const FieldDef& d) { return d.name == name; });
            if (f == table.fields.end())
                return false;
            out.push_back(&*f);
        }
        if (out.empty())
            for (const FieldDef& f : table.fields)
                out.push_back(&f);
        return true;
    }

    // FIELDS comes back with every field read and its place in a DATA row.
    bool list_fields(FunctionFrame& frame, const std::vector<Placed>& placed) const
    {
        const TableDescription& desc = interface().tables[1];
        const ITAB_H lines = frame.table("FIELDS");
        ItFree(lines);
        char number[16];
        for (const Placed& p : placed) {
            auto* line = static_cast<unsigned char*>(ItAppLine(lines));
            if (line == nullptr)
                return false;
            const auto put = [&](const char* field, const std::string& text) {
                const FieldDescription& f = *desc.field(field);
                put_value(f.type, text, line + f.offset);
            };
            put("FIELDNAME", p.field->name);
            std::snprintf(number, sizeof number, "%06zu", p.offset);
            put("OFFSET", number);
            std::snprintf(number, sizeof number, "%06zu", p.width);
            put("LENGTH", number);
            put("TYPE", std::string(1, p.field->type));
            put("FIELDTEXT", p.field->text);
        }
        return true;
    }

    // The read as the read report would run it: the fields named, the where
    // condition of OPTIONS, the rows in key order.
    bool plan_read(const ModuleRun& run, sqlite3* db, const TableDef& table, const std::vector<const FieldDef*>& fields,
                   SqlPlan& plan, std::string& error) const
    {
        SelectRequest request;
        SelectPart part;
        part.tables.push_back(TableLine{table.name, {}, JoinKind::none, {}, 1});
        const ITAB_H options = run.frame.table("OPTIONS");
        const FieldDescription& text = interface().tables[0].fields[0];
        for (unsigned i = 1; i <= ItFill(options); ++i) {
            const std::string condition =
                get_text(text.type, static_cast<const unsigned char*>(ItGetLine(options, i)) + text.offset);
            if (!condition.empty())
                part.where.push_back(ClauseLine{condition, static_cast<int>(i)});
        }
        if (std::any_of(table.fields.begin(), table.fields.end(), [](const FieldDef& f) { return f.key; }))
            part.order_by.push_back(ClauseLine{"PRIMARY KEY", 0});
        request.parts.push_back(std::move(part));
        for (const FieldDef* f : fields)
            request.fields.push_back(FieldLine{table.name, f->name, {}, false, {}, false, 0});
        SqlBuilder builder([db](std::string_view name) { return Store::read_table(db, name); },
                           run.context.session().client);
        return builder.build(request, plan, error);
    }

    ModuleOutcome read_rows(ModuleRun& run, sqlite3* db, Statement& statement, const std::vector<Placed>& placed,
                            const std::string& delimiter) const
    {
        const std::int64_t skip = std::max<std::int64_t>(run.frame.integer("ROWSKIPS"), 0);
        const std::int64_t wanted = run.frame.integer("ROWCOUNT");
        const bool limit_is_error = wanted <= 0 || wanted > max_returned_rows;
        const std::int64_t limit = limit_is_error ? max_returned_rows : wanted;
        const ITAB_H data = run.frame.table("DATA");
        for (std::int64_t row = 0;; ++row) {
            const int rc = statement.step();
            if (rc == SQLITE_DONE)
                break;
            if (rc != SQLITE_ROW)
                return database_failure(run, std::string("the statement failed: ") + sqlite3_errmsg(db));
            if (row < skip)
                continue;
            if (static_cast<std::int64_t>(ItFill(data)) == limit) {
                if (limit_is_error)
                    return raise(run, u"TOO_MANY_ROWS");
                break;
            }
            auto* line = static_cast<unsigned char*>(ItAppLine(data));
            if (line == nullptr)
                return out_of_memory(run);
            put_utf16le("", line, data_line_chars);
            for (size_t k = 0; k < placed.size(); ++k) {
                const int column = static_cast<int>(k);
                const std::string value = placed[k].field->type == 'X'
                                              ? hex(sqlite3_column_blob(statement.handle(), column),
                                                    sqlite3_column_bytes(statement.handle(), column))
                                              : statement.column_text(column);
                put_utf16le(value, line + 2 * placed[k].offset, placed[k].width);
                if (k > 0 && !delimiter.empty())
                    put_utf16le(delimiter, line + 2 * (placed[k].offset - 1), 1);
            }
        }
        SAPSIM_LOG(debug, run.context.session().connection_id)
            << name() << ": " << ItFill(data) << " rows of " << placed.size() << " fields";
        return ModuleOutcome::answer;
    }
};

} // namespace

std::unique_ptr<FunctionModule> make_vok_read_table_module()
{
    return std::make_unique<ReadTableModule>();
}

} // namespace sapsim
