#include "sapsim/read/record_encoder.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace sapsim {

namespace {

inline void put_unit(unsigned char* out, size_t index, std::uint32_t unit)
{
    out[2 * index] = static_cast<unsigned char>(unit & 0xFF);
    out[2 * index + 1] = static_cast<unsigned char>(unit >> 8);
}

// One code point of UTF-8 text at s[i]; invalid bytes read as U+FFFD.
std::uint32_t next_code_point(const unsigned char* s, size_t n, size_t& i)
{
    const unsigned char c = s[i];
    size_t extra = 0;
    std::uint32_t cp = 0;
    if (c >= 0xF0 && c <= 0xF4) {
        extra = 3;
        cp = c & 0x07;
    } else if (c >= 0xE0) {
        extra = 2;
        cp = c & 0x0F;
    } else if (c >= 0xC2 && c < 0xE0) {
        extra = 1;
        cp = c & 0x1F;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + extra >= n) {
        ++i;
        return 0xFFFD;
    }
    for (size_t k = 1; k <= extra; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    i += extra + 1;
    return cp;
}

// UTF-8 text into `units` UTF-16LE units, padded with `pad`.
void put_text(const unsigned char* s, size_t n, unsigned char* out, size_t units, char pad)
{
    size_t u = 0;
    size_t i = 0;
    while (i < n && u < units) {
        if (s[i] < 0x80) {
            put_unit(out, u++, s[i++]);
            continue;
        }
        const std::uint32_t cp = next_code_point(s, n, i);
        if (cp < 0x10000) {
            put_unit(out, u++, cp);
        } else {
            if (u + 2 > units)
                break;
            put_unit(out, u++, 0xD800 + ((cp - 0x10000) >> 10));
            put_unit(out, u++, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
    }
    for (; u < units; ++u)
        put_unit(out, u, static_cast<unsigned char>(pad));
}

// Numeric text right-aligned in `units` characters, zero-filled on the left.
void put_digits(const unsigned char* s, size_t n, unsigned char* out, size_t units)
{
    if (n > units) {
        s += n - units;
        n = units;
    }
    const size_t fill = units - n;
    for (size_t u = 0; u < fill; ++u)
        put_unit(out, u, '0');
    for (size_t k = 0; k < n; ++k)
        put_unit(out, fill + k, s[k]);
}

template <typename T>
void put_le(unsigned char* out, T value)
{
    auto bits = static_cast<std::uint64_t>(value);
    for (size_t k = 0; k < sizeof(T); ++k, bits >>= 8)
        out[k] = static_cast<unsigned char>(bits & 0xFF);
}

void put_initial(const OutputColumn& c, unsigned char* out)
{
    switch (c.type) {
    case 'C': put_text(nullptr, 0, out, static_cast<size_t>(c.bytes) / 2, ' '); break;
    case 'N': case 'D': case 'T': put_text(nullptr, 0, out, static_cast<size_t>(c.bytes) / 2, '0'); break;
    case 'P':
        std::memset(out, 0, static_cast<size_t>(c.bytes));
        out[c.bytes - 1] = 0x0C;
        break;
    default: std::memset(out, 0, static_cast<size_t>(c.bytes)); break;
    }
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

bool RecordEncoder::packed(const char* s, size_t n, int decimals, unsigned char* out, int bytes)
{
    constexpr size_t max_digits = 64;
    char digits[max_digits + 2];
    size_t count = 0;
    size_t i = 0;
    while (i < n && s[i] == ' ')
        ++i;
    bool negative = false;
    if (i < n && (s[i] == '-' || s[i] == '+'))
        negative = s[i++] == '-';
    bool any = false;
    for (; i < n && is_digit(s[i]); ++i) {
        any = true;
        if (count == 0 && s[i] == '0')
            continue;  // leading zeros
        if (count == max_digits)
            return false;
        digits[count++] = s[i];
    }
    char round_digit = '0';
    int places = 0;
    if (i < n && s[i] == '.') {
        for (++i; i < n && is_digit(s[i]); ++i) {
            any = true;
            if (places < decimals) {
                if (count == max_digits)
                    return false;
                digits[count++] = s[i];
                ++places;
            } else if (places == decimals) {
                round_digit = s[i];
                ++places;
            }
        }
    }
    while (i < n && s[i] == ' ')
        ++i;
    if (!any || i != n)
        return false;
    for (; places < decimals; ++places) {
        if (count == max_digits)
            return false;
        digits[count++] = '0';
    }
    if (round_digit >= '5') {
        size_t k = count;
        while (k > 0 && digits[k - 1] == '9')
            digits[--k] = '0';
        if (k > 0) {
            ++digits[k - 1];
        } else {
            std::memmove(digits + 1, digits, count);
            digits[0] = '1';
            ++count;
        }
    }
    size_t skip = 0;  // zeros left in front by the integer part "0"
    while (skip < count && digits[skip] == '0')
        ++skip;
    const size_t capacity = 2 * static_cast<size_t>(bytes) - 1;
    if (count - skip > capacity)
        return false;
    if (skip == count)
        negative = false;
    std::memset(out, 0, static_cast<size_t>(bytes));
    const size_t first = capacity - (count - skip);
    for (size_t k = skip; k < count; ++k) {
        const size_t nibble = first + (k - skip);
        const auto d = static_cast<unsigned char>(digits[k] - '0');
        out[nibble / 2] |= nibble % 2 == 0 ? static_cast<unsigned char>(d << 4) : d;
    }
    out[bytes - 1] |= negative ? 0x0D : 0x0C;
    return true;
}

bool RecordEncoder::encode(sqlite3_stmt* st, unsigned char* record, std::string& error) const
{
    const std::vector<OutputColumn>& columns = layout_.columns();
    for (size_t k = 0; k < columns.size(); ++k) {
        const OutputColumn& c = columns[k];
        const int i = static_cast<int>(k);
        unsigned char* out = record + c.offset;
        const size_t units = static_cast<size_t>(c.bytes) / 2;
        // Null reads as no text, no bytes and zero, which are the initial
        // values of the types below; only P asks for the storage class.
        switch (c.type) {
        case 'C': case 'D': case 'T': {
            const unsigned char* text = sqlite3_column_text(st, i);
            const size_t size = text != nullptr ? static_cast<size_t>(sqlite3_column_bytes(st, i)) : 0;
            put_text(text, size, out, units, c.type == 'C' ? ' ' : '0');
            break;
        }
        case 'N': {
            const unsigned char* text = sqlite3_column_text(st, i);
            put_digits(text, text != nullptr ? static_cast<size_t>(sqlite3_column_bytes(st, i)) : 0, out, units);
            break;
        }
        case 'P': {
            const int kind = sqlite3_column_type(st, i);
            if (kind == SQLITE_NULL) {
                put_initial(c, out);
                break;
            }
            char buffer[400];
            const char* text = buffer;
            size_t size = 0;
            if (kind == SQLITE_FLOAT) {
                const int written = std::snprintf(buffer, sizeof buffer, "%.*f", c.decimals, sqlite3_column_double(st, i));
                size = written > 0 && static_cast<size_t>(written) < sizeof buffer ? static_cast<size_t>(written) : 0;
            } else if (kind == SQLITE_INTEGER) {
                size = static_cast<size_t>(
                    std::snprintf(buffer, sizeof buffer, "%" PRId64, static_cast<std::int64_t>(sqlite3_column_int64(st, i))));
            } else {
                const unsigned char* stored = sqlite3_column_text(st, i);
                text = stored != nullptr ? reinterpret_cast<const char*>(stored) : "";
                size = stored != nullptr ? static_cast<size_t>(sqlite3_column_bytes(st, i)) : 0;
            }
            if (!packed(text, size, c.decimals, out, c.bytes)) {
                error = "value " + std::string(text, size > 40 ? 40 : size) + " does not fit column " + c.name + " (P " +
                        std::to_string(c.bytes) + " bytes, " + std::to_string(c.decimals) + " decimals)";
                return false;
            }
            break;
        }
        case 'X': {
            const void* blob = sqlite3_column_blob(st, i);
            const size_t size = static_cast<size_t>(sqlite3_column_bytes(st, i));
            const size_t n = size < static_cast<size_t>(c.bytes) ? size : static_cast<size_t>(c.bytes);
            if (n > 0)
                std::memcpy(out, blob, n);
            std::memset(out + n, 0, static_cast<size_t>(c.bytes) - n);
            break;
        }
        case 'I': put_le(out, static_cast<std::int32_t>(sqlite3_column_int64(st, i))); break;
        case 's': put_le(out, static_cast<std::int16_t>(sqlite3_column_int64(st, i))); break;
        case 'b': put_le(out, static_cast<std::uint8_t>(sqlite3_column_int64(st, i))); break;
        case '8': put_le(out, static_cast<std::int64_t>(sqlite3_column_int64(st, i))); break;
        case 'F': {
            const double value = sqlite3_column_double(st, i);
            std::uint64_t bits;
            std::memcpy(&bits, &value, sizeof bits);
            put_le(out, bits);
            break;
        }
        default: put_initial(c, out); break;
        }
    }
    return true;
}

} // namespace sapsim
