#include "sapsim/dictionary.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <set>

namespace sapsim {

namespace {

bool valid_name(std::string_view name)
{
    if (name.empty() || name.size() > 30)
        return false;
    if (!std::isupper(static_cast<unsigned char>(name[0])) && name[0] != '_')
        return false;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isupper(u) && !std::isdigit(u) && c != '_')
            return false;
    }
    return true;
}

bool all_digits(std::string_view text)
{
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

bool parse_integer(std::string_view input, long long low, long long high, long long& out)
{
    std::string copy(input);
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(copy.c_str(), &end, 10);
    if (errno != 0 || end == copy.c_str() || *end != '\0' || v < low || v > high)
        return false;
    out = v;
    return true;
}

// Packed numbers hold 2 * length - 1 digits and a sign.
bool valid_packed(const FieldDef& field, std::string_view input)
{
    std::string_view digits = input;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+'))
        digits.remove_prefix(1);
    const size_t dot = digits.find('.');
    std::string_view whole = digits.substr(0, dot);
    std::string_view fraction = dot == std::string_view::npos ? std::string_view{} : digits.substr(dot + 1);
    if ((whole.empty() && fraction.empty()) || !all_digits(whole) || !all_digits(fraction))
        return false;
    if (static_cast<int>(fraction.size()) > field.decimals)
        return false;
    while (whole.size() > 1 && whole[0] == '0')
        whole.remove_prefix(1);
    return static_cast<int>(whole.size()) <= 2 * field.length - 1 - field.decimals;
}

// Packed numbers are stored with exactly `decimals` places and no leading
// zeros, so equal numbers are equal texts (DISTINCT, GROUP BY).
std::string canonical_packed(std::string_view input, int decimals)
{
    bool negative = false;
    if (!input.empty() && (input[0] == '-' || input[0] == '+')) {
        negative = input[0] == '-';
        input.remove_prefix(1);
    }
    const size_t dot = input.find('.');
    std::string whole(input.substr(0, dot));
    std::string fraction = dot == std::string_view::npos ? std::string() : std::string(input.substr(dot + 1));
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
    if (whole.empty())
        whole = "0";
    fraction.resize(static_cast<size_t>(decimals), '0');
    const bool zero = whole == "0" && fraction.find_first_not_of('0') == std::string::npos;
    return (negative && !zero ? "-" : "") + whole + (decimals > 0 ? "." + fraction : "");
}

} // namespace

size_t utf16_length(std::string_view utf8)
{
    size_t units = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if ((c & 0xC0) == 0x80)
            continue;  // continuation byte
        units += (c >= 0xF0) ? 2 : 1;  // four-byte sequences need a surrogate pair
    }
    return units;
}

bool validate_table_def(const TableDef& table, std::string& error)
{
    if (!valid_name(table.name)) {
        error = "invalid table name '" + table.name + "'";
        return false;
    }
    if (table.fields.empty()) {
        error = "table " + table.name + " has no fields";
        return false;
    }
    std::set<std::string> names;
    bool keys_done = false;
    for (size_t i = 0; i < table.fields.size(); ++i) {
        const FieldDef& f = table.fields[i];
        const std::string where = table.name + "-" + f.name + ": ";
        if (!valid_name(f.name)) {
            error = "table " + table.name + ": invalid field name '" + f.name + "'";
            return false;
        }
        if (!names.insert(f.name).second) {
            error = where + "duplicate field";
            return false;
        }
        if (f.position != static_cast<int>(i) + 1) {
            error = where + "positions must run 1, 2, 3, ... without gaps";
            return false;
        }
        if (f.key && keys_done) {
            error = where + "key fields must come first";
            return false;
        }
        keys_done = keys_done || !f.key;
        int fixed = 0;
        switch (f.type) {
        case 'C': case 'N': case 'X':
            if (f.length < 1 || f.length > 65535) {
                error = where + "length must be 1..65535";
                return false;
            }
            break;
        case 'P':
            if (f.length < 1 || f.length > 16 || f.decimals < 0 || f.decimals > 2 * f.length - 1) {
                error = where + "packed length must be 1..16 bytes with at most 2*length-1 decimals";
                return false;
            }
            break;
        case 'D': fixed = 8; break;
        case 'T': fixed = 6; break;
        case 'I': fixed = 4; break;
        case 's': fixed = 2; break;
        case 'b': fixed = 1; break;
        case 'F': fixed = 8; break;
        default:
            error = where + "unknown ABAP type '" + std::string(1, f.type) + "'";
            return false;
        }
        if (fixed != 0 && f.length != fixed) {
            error = where + "type " + std::string(1, f.type) + " has length " + std::to_string(fixed);
            return false;
        }
        if (f.type != 'P' && f.decimals != 0) {
            error = where + "only packed numbers have decimals";
            return false;
        }
    }
    const FieldDef& first = table.fields.front();
    if (table.client_dependent && !(first.name == "MANDT" && first.type == 'C' && first.length == 3 && first.key)) {
        error = "table " + table.name + ": a client-dependent table starts with key field MANDT C(3)";
        return false;
    }
    return true;
}

const char* sql_column_type(const FieldDef& field)
{
    switch (field.type) {
    case 'I': case 's': case 'b': return "INTEGER";
    case 'F': return "REAL";
    case 'X': return "BLOB";
    default: return "TEXT";  // C, N, D, T and P (exact decimal text)
    }
}

bool convert_field_value(const FieldDef& field, std::string_view input, FieldValue& value, std::string& error)
{
    value = FieldValue{};
    if (input.empty())
        return true;
    const auto fail = [&](const std::string& what) {
        error = "field " + field.name + ": " + what + " '" + std::string(input.substr(0, 64)) + "'";
        return false;
    };
    switch (field.type) {
    case 'C':
        if (utf16_length(input) > static_cast<size_t>(field.length))
            return fail("longer than " + std::to_string(field.length) + " characters:");
        break;
    case 'N':
        if (input.size() > static_cast<size_t>(field.length) || !all_digits(input))
            return fail("not up to " + std::to_string(field.length) + " digits:");
        // Numeric texts are stored at their full length, as the system shows them.
        value.kind = FieldValue::text;
        value.text_value = std::string(static_cast<size_t>(field.length) - input.size(), '0') + std::string(input);
        return true;
    case 'D':
        if (input.size() != 8 || !all_digits(input))
            return fail("not a date YYYYMMDD:");
        break;
    case 'T':
        if (input.size() != 6 || !all_digits(input))
            return fail("not a time HHMMSS:");
        break;
    case 'P':
        if (!valid_packed(field, input))
            return fail("not a decimal number fitting the field:");
        value.kind = FieldValue::text;
        value.text_value = canonical_packed(input, field.decimals);
        return true;
    case 'X': {
        if (input.size() % 2 != 0 || input.size() > 2 * static_cast<size_t>(field.length))
            return fail("not up to " + std::to_string(field.length) + " bytes of hexadecimal:");
        std::string bytes;
        for (size_t i = 0; i < input.size(); i += 2) {
            const std::string pair(input.substr(i, 2));
            if (!std::isxdigit(static_cast<unsigned char>(pair[0])) || !std::isxdigit(static_cast<unsigned char>(pair[1])))
                return fail("not hexadecimal:");
            bytes.push_back(static_cast<char>(std::strtol(pair.c_str(), nullptr, 16)));
        }
        bytes.resize(static_cast<size_t>(field.length), '\0');  // raw fields are stored at full length
        value.kind = FieldValue::blob;
        value.text_value = std::move(bytes);
        return true;
    }
    case 'I': case 's': case 'b': {
        const long long low = field.type == 'I' ? -2147483648LL : field.type == 's' ? -32768 : 0;
        const long long high = field.type == 'I' ? 2147483647LL : field.type == 's' ? 32767 : 255;
        if (!parse_integer(input, low, high, value.int_value))
            return fail("not an integer in range:");
        value.kind = FieldValue::integer;
        return true;
    }
    case 'F': {
        std::string copy(input);
        char* end = nullptr;
        errno = 0;
        value.real_value = std::strtod(copy.c_str(), &end);
        if (errno != 0 || end == copy.c_str() || *end != '\0')
            return fail("not a number:");
        value.kind = FieldValue::real;
        return true;
    }
    default:
        return fail("unsupported type for");
    }
    value.kind = FieldValue::text;
    value.text_value = std::string(input);
    return true;
}

} // namespace sapsim
