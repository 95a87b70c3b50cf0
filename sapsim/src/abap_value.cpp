#include "sapsim/abap_value.h"

#include "sapsim/read/record_encoder.h"
#include "sapsim/text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace sapsim {

namespace {

void put_unit(unsigned char* out, size_t index, char16_t unit)
{
    out[2 * index] = static_cast<unsigned char>(unit & 0xFF);
    out[2 * index + 1] = static_cast<unsigned char>(unit >> 8);
}

char16_t get_unit(const unsigned char* in, size_t index)
{
    return static_cast<char16_t>(in[2 * index] | (in[2 * index + 1] << 8));
}

bool all_digits(std::string_view text)
{
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool blank(std::string_view text)
{
    return text.find_first_not_of(' ') == std::string_view::npos;
}

// Digits right-aligned in `chars` characters; exactly `chars` digits when `exact`.
bool put_digits(std::string_view text, size_t chars, bool exact, unsigned char* out)
{
    if (!all_digits(text) || text.size() > chars || (exact && text.size() != chars))
        return false;
    const size_t fill = chars - text.size();
    for (size_t u = 0; u < fill; ++u)
        put_unit(out, u, u'0');
    for (size_t k = 0; k < text.size(); ++k)
        put_unit(out, fill + k, static_cast<char16_t>(text[k]));
    return true;
}

bool put_int(const AbapType& type, std::string_view text, unsigned char* out)
{
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || text.empty())
        return false;
    const bool fits = type.type == 'I'   ? value >= INT32_MIN && value <= INT32_MAX
                      : type.type == 's' ? value >= INT16_MIN && value <= INT16_MAX
                                         : value >= 0 && value <= 255;
    if (fits)
        put_integer(type, value, out);
    return fits;
}

bool put_float(std::string_view text, unsigned char* out)
{
    const std::string copy(text);
    char* stop = nullptr;
    const double value = std::strtod(copy.c_str(), &stop);
    if (copy.empty() || stop != copy.c_str() + copy.size() || !std::isfinite(value))
        return false;
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (size_t k = 0; k < 8; ++k, bits >>= 8)
        out[k] = static_cast<unsigned char>(bits & 0xFF);
    return true;
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool put_hex(std::string_view text, size_t bytes, unsigned char* out)
{
    if (text.size() % 2 != 0 || text.size() / 2 > bytes)
        return false;
    std::vector<unsigned char> value(bytes, 0);
    for (size_t k = 0; k < text.size() / 2; ++k) {
        const int high = hex_digit(text[2 * k]), low = hex_digit(text[2 * k + 1]);
        if (high < 0 || low < 0)
            return false;
        value[k] = static_cast<unsigned char>(high << 4 | low);
    }
    std::memcpy(out, value.data(), bytes);
    return true;
}

} // namespace

RFC_TYPEHANDLE rfc_type_code(char type)
{
    switch (type) {
    case 'C': return RFCTYPE_CHAR;
    case 'D': return RFCTYPE_DATE;
    case 'P': return RFCTYPE_BCD;
    case 'T': return RFCTYPE_TIME;
    case 'N': return RFCTYPE_NUM;
    case 'F': return RFCTYPE_FLOAT;
    case 'I': return RFCTYPE_INT;
    case 's': return RFCTYPE_INT2;
    case 'b': return RFCTYPE_INT1;
    default: return RFCTYPE_BYTE;
    }
}

void put_initial(const AbapType& type, unsigned char* out)
{
    switch (type.type) {
    case 'C':
        for (size_t u = 0; u < type.chars(); ++u)
            put_unit(out, u, u' ');
        break;
    case 'N': case 'D': case 'T':
        for (size_t u = 0; u < type.chars(); ++u)
            put_unit(out, u, u'0');
        break;
    case 'P':
        std::memset(out, 0, type.bytes);
        out[type.bytes - 1] = 0x0C;
        break;
    default: std::memset(out, 0, type.bytes); break;
    }
}

bool put_value(const AbapType& type, std::string_view text, unsigned char* out)
{
    switch (type.type) {
    case 'C': put_utf16le(text, out, type.chars()); return true;
    case 'N': return put_digits(text, type.chars(), false, out);
    case 'D': case 'T':
        if (blank(text)) {
            put_initial(type, out);
            return true;
        }
        return put_digits(text, type.chars(), true, out);
    case 'I': case 's': case 'b': return put_int(type, text, out);
    case 'F': return put_float(text, out);
    case 'P':
        return RecordEncoder::packed(text.data(), text.size(), type.decimals, out, static_cast<int>(type.bytes));
    default: return put_hex(text, type.bytes, out);
    }
}

std::string get_text(const AbapType& type, const unsigned char* in)
{
    return type.is_text() ? get_utf16le(in, type.chars()) : std::string();
}

std::int64_t get_integer(const AbapType& type, const unsigned char* in)
{
    switch (type.type) {
    case 'I': return static_cast<std::int32_t>(in[0] | in[1] << 8 | in[2] << 16 | static_cast<std::uint32_t>(in[3]) << 24);
    case 's': return static_cast<std::int16_t>(in[0] | in[1] << 8);
    case 'b': return in[0];
    default: return 0;
    }
}

void put_integer(const AbapType& type, std::int64_t value, unsigned char* out)
{
    auto bits = static_cast<std::uint64_t>(value);
    const size_t size = type.type == 'I' ? 4 : type.type == 's' ? 2 : type.type == 'b' ? 1 : 0;
    for (size_t k = 0; k < size; ++k, bits >>= 8)
        out[k] = static_cast<unsigned char>(bits & 0xFF);
}

void put_utf16le(std::string_view text, unsigned char* out, size_t chars)
{
    const std::u16string units = to_utf16(text);
    size_t n = std::min(chars, units.size());
    // A cut must not leave half a surrogate pair behind.
    if (n > 0 && n < units.size() && units[n - 1] >= 0xD800 && units[n - 1] <= 0xDBFF)
        --n;
    for (size_t u = 0; u < n; ++u)
        put_unit(out, u, units[u]);
    for (size_t u = n; u < chars; ++u)
        put_unit(out, u, u' ');
}

std::string get_utf16le(const unsigned char* in, size_t chars)
{
    std::u16string units(chars, u' ');
    for (size_t u = 0; u < chars; ++u)
        units[u] = get_unit(in, u);
    while (!units.empty() && (units.back() == u' ' || units.back() == 0))
        units.pop_back();
    return to_utf8(units);
}

} // namespace sapsim
