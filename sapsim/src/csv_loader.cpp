#include "sapsim/csv_loader.h"

#include "sapsim/csv_reader.h"
#include "sapsim/sqlite_statement.h"
#include "sapsim/store.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>

namespace sapsim {

namespace {

const std::vector<std::string> dictionary_header = {"TABNAME", "FIELDNAME", "POSITION", "KEYFLAG",
                                                    "INTTYPE", "LENG",      "DECIMALS", "DDTEXT"};

bool parse_small_int(const std::string& text, int& out)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != '\0' || v < 0 || v > 65535)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool open_file(const std::filesystem::path& file, std::ifstream& in, std::string& error)
{
    in.open(file, std::ios::binary);
    if (!in) {
        error = "cannot open " + file.string();
        return false;
    }
    return true;
}

void bind_value(Statement& s, int index, const FieldValue& v)
{
    switch (v.kind) {
    case FieldValue::null: s.bind_null(index); break;
    case FieldValue::text: s.bind_text(index, v.text_value); break;
    case FieldValue::integer: s.bind_int(index, v.int_value); break;
    case FieldValue::real: s.bind_double(index, v.real_value); break;
    case FieldValue::blob: s.bind_blob(index, v.text_value.data(), static_cast<int>(v.text_value.size())); break;
    }
}

} // namespace

bool CsvLoader::load_dictionary(sqlite3* db, const std::filesystem::path& file, std::string& error)
{
    std::ifstream in;
    if (!open_file(file, in, error))
        return false;
    CsvReader reader(in);
    std::vector<std::string> fields;
    const std::string where = file.filename().string() + ": ";
    if (!reader.next(fields) || fields != dictionary_header) {
        error = where + (reader.error().empty() ? "the first line must be TABNAME,FIELDNAME,POSITION,KEYFLAG,INTTYPE,LENG,DECIMALS,DDTEXT"
                                                : reader.error());
        return false;
    }
    std::map<std::string, TableDef> tables;
    std::vector<std::string> order;
    while (reader.next(fields)) {
        const std::string line = where + "line " + std::to_string(reader.line()) + ": ";
        if (fields.size() != dictionary_header.size()) {
            error = line + "expected 8 fields, found " + std::to_string(fields.size());
            return false;
        }
        FieldDef f;
        f.name = fields[1];
        f.key = fields[3] == "X";
        f.text = fields[7];
        if (fields[4].size() != 1 || !parse_small_int(fields[2], f.position) || !parse_small_int(fields[5], f.length) ||
            !parse_small_int(fields[6], f.decimals) || (!fields[3].empty() && fields[3] != "X")) {
            error = line + "POSITION, LENG and DECIMALS must be numbers, INTTYPE one letter, KEYFLAG X or empty";
            return false;
        }
        f.type = fields[4][0];
        auto [it, inserted] = tables.try_emplace(fields[0]);
        if (inserted) {
            it->second.name = fields[0];
            order.push_back(fields[0]);
        }
        it->second.fields.push_back(std::move(f));
    }
    if (!reader.error().empty()) {
        error = where + reader.error();
        return false;
    }
    for (const std::string& name : order) {
        TableDef& t = tables[name];
        std::sort(t.fields.begin(), t.fields.end(), [](const FieldDef& a, const FieldDef& b) { return a.position < b.position; });
        t.client_dependent = t.fields.front().name == "MANDT";
        t.text = "loaded from " + file.filename().string();
        if (!Store::define_table(db, t, error)) {
            error = where + error;
            return false;
        }
    }
    return true;
}

bool CsvLoader::load_data(sqlite3* db, const std::filesystem::path& file, const TableLookup& lookup, std::string& error)
{
    const std::string where = file.filename().string() + ": ";
    const std::string table_name = file.stem().string();
    const std::optional<TableDef> table = lookup(table_name);
    if (!table || table->name != table_name) {
        error = where + "no table " + table_name + " in the dictionary (the file name names the table)";
        return false;
    }
    std::ifstream in;
    if (!open_file(file, in, error))
        return false;
    CsvReader reader(in);
    std::vector<std::string> header;
    if (!reader.next(header)) {
        error = where + (reader.error().empty() ? "empty file: the first line names the fields" : reader.error());
        return false;
    }
    std::vector<const FieldDef*> columns;
    for (const std::string& name : header) {
        const auto it = std::find_if(table->fields.begin(), table->fields.end(), [&](const FieldDef& f) { return f.name == name; });
        if (it == table->fields.end()) {
            error = where + "table " + table->name + " has no field '" + name + "'";
            return false;
        }
        if (std::find(columns.begin(), columns.end(), &*it) != columns.end()) {
            error = where + "field " + name + " named twice";
            return false;
        }
        columns.push_back(&*it);
    }
    for (const FieldDef& f : table->fields) {
        if (f.key && std::find(columns.begin(), columns.end(), &f) == columns.end()) {
            error = where + "key field " + f.name + " missing from the header";
            return false;
        }
    }
    std::string sql = "INSERT INTO \"" + table->name + "\" (";
    for (size_t i = 0; i < columns.size(); ++i)
        sql += (i ? ", \"" : "\"") + columns[i]->name + "\"";
    sql += ") VALUES (";
    for (size_t i = 0; i < columns.size(); ++i)
        sql += i ? ", ?" : "?";
    sql += ")";
    Statement insert;
    if (!insert.prepare(db, sql)) {
        error = where + sqlite3_errmsg(db);
        return false;
    }
    std::vector<std::string> row;
    FieldValue value;
    while (reader.next(row)) {
        const std::string line = where + "line " + std::to_string(reader.line()) + ": ";
        if (row.size() != columns.size()) {
            error = line + "expected " + std::to_string(columns.size()) + " fields, found " + std::to_string(row.size());
            return false;
        }
        for (size_t i = 0; i < row.size(); ++i) {
            if (!convert_field_value(*columns[i], row[i], value, error)) {
                error = line + error;
                return false;
            }
            bind_value(insert, static_cast<int>(i) + 1, value);
        }
        if (insert.step() != SQLITE_DONE) {
            error = line + sqlite3_errmsg(db);
            return false;
        }
        insert.reset();
    }
    if (!reader.error().empty()) {
        error = where + reader.error();
        return false;
    }
    return true;
}

} // namespace sapsim
