// Data dictionary records: what the store knows about each table and field.
// ABAP types (one letter): C character, N numeric text, D date (YYYYMMDD),
// T time (HHMMSS), P packed number, X raw bytes, I 4-byte integer,
// s 2-byte integer, b 1-byte integer, F floating point.
// Length is in characters for C/N/D/T, in bytes for P/X/I/s/b/F.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sapsim {

struct FieldDef {
    std::string name;
    int position = 0;  // 1-based
    bool key = false;
    char type = 'C';
    int length = 0;
    int decimals = 0;
    std::string text;
};

struct TableDef {
    std::string name;
    bool client_dependent = false;  // first field is MANDT
    std::string text;
    std::vector<FieldDef> fields;  // in position order
};

// Checks names, types, lengths and positions; fills `error` on the first fault.
bool validate_table_def(const TableDef& table, std::string& error);

// The SQLite column type a field is stored as.
const char* sql_column_type(const FieldDef& field);

// A checked value ready for binding: text, integer, real, blob or null (empty input).
struct FieldValue {
    enum Kind { null, text, integer, real, blob } kind = null;
    std::string text_value;  // text and blob bytes
    long long int_value = 0;
    double real_value = 0;
};

// Converts the textual form of a value (CSV cell) to what the field stores:
// C up to `length` characters, N digits (stored zero-filled to `length`),
// D YYYYMMDD, T HHMMSS, P decimal text within the field's digits and decimals
// (stored with exactly `decimals` places), X hexadecimal (stored zero-padded
// to `length` bytes), I/s/b integers in range, F a number. Empty text is
// stored as null.
bool convert_field_value(const FieldDef& field, std::string_view input, FieldValue& value, std::string& error);

// Number of UTF-16 code units of UTF-8 text (character lengths are counted so).
size_t utf16_length(std::string_view utf8);

} // namespace sapsim
