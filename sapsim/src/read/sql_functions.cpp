#include "sapsim/read/sql_functions.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace sapsim {

namespace {

// One code point of UTF-8 text at s[i] and its length; a byte that starts no
// valid sequence stands for itself, so any text can be matched.
char32_t decode(std::string_view s, size_t i, size_t& length)
{
    const auto c = static_cast<unsigned char>(s[i]);
    size_t extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (c < 0x80 || extra == 0 || i + extra >= s.size()) {
        length = 1;
        return c;
    }
    char32_t cp = c & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
        const auto next = static_cast<unsigned char>(s[i + k]);
        if ((next & 0xC0) != 0x80) {
            length = 1;
            return c;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    length = extra + 1;
    return cp;
}

// A pattern character: its code point, its length with an escape in front,
// and whether it is a wildcard.
struct PatternChar {
    char32_t cp = 0;
    size_t length = 0;
    bool wildcard = false;
};

PatternChar pattern_char(std::string_view pattern, size_t p, char32_t escape)
{
    PatternChar pc;
    pc.cp = decode(pattern, p, pc.length);
    if (escape != 0 && pc.cp == escape && p + pc.length < pattern.size()) {
        size_t n = 0;
        pc.cp = decode(pattern, p + pc.length, n);
        pc.length += n;
        return pc;
    }
    pc.wildcard = pc.cp == U'%' || pc.cp == U'_';
    return pc;
}

void like_function(sqlite3_context* context, int argc, sqlite3_value** argv)
{
    for (int i = 0; i < argc; ++i)
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) {
            sqlite3_result_null(context);
            return;
        }
    const auto text = [&](int i) {
        const unsigned char* t = sqlite3_value_text(argv[i]);
        return std::string_view(t != nullptr ? reinterpret_cast<const char*>(t) : "",
                                t != nullptr ? static_cast<size_t>(sqlite3_value_bytes(argv[i])) : 0);
    };
    char32_t escape = 0;
    if (argc == 3) {
        const std::string_view e = text(2);
        size_t length = 0;
        if (e.empty() || (escape = decode(e, 0, length), length != e.size())) {
            sqlite3_result_error(context, "the ESCAPE of LIKE must be one character", -1);
            return;
        }
    }
    sqlite3_result_int(context, SqlFunctions::like(text(0), text(1), escape) ? 1 : 0);
}

// Exact sums of decimal text, scaled to the most decimals seen. It lives in
// SQLite's aggregate memory, which starts zero-filled (no values, scale 0,
// sum 0) and is only 8-byte aligned: the 128-bit sum is kept as bytes.
struct PackedSum {
    bool any;
    bool failed;
    int scale;
    unsigned char sum_bytes[sizeof(__int128)];

    __int128 sum() const
    {
        __int128 value;
        std::memcpy(&value, sum_bytes, sizeof value);
        return value;
    }
    void set_sum(__int128 value) { std::memcpy(sum_bytes, &value, sizeof value); }
};

constexpr int max_sum_digits = 36;

__int128 power_of_ten(int n)
{
    __int128 p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

bool parse_decimal(std::string_view s, __int128& value, int& scale)
{
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        negative = s[i++] == '-';
    value = 0;
    scale = 0;
    int digits = 0;
    bool any = false;
    bool fraction = false;
    for (; i < s.size(); ++i) {
        if (s[i] == '.' && !fraction) {
            fraction = true;
            continue;
        }
        if (s[i] < '0' || s[i] > '9')
            return false;
        any = true;
        if (value != 0 || s[i] != '0')
            ++digits;
        if (digits > max_sum_digits)
            return false;
        value = value * 10 + (s[i] - '0');
        if (fraction)
            ++scale;
    }
    if (negative)
        value = -value;
    return any;
}

void psum_step(sqlite3_context* context, int, sqlite3_value** argv)
{
    auto* state = static_cast<PackedSum*>(sqlite3_aggregate_context(context, sizeof(PackedSum)));
    if (state == nullptr) {
        sqlite3_result_error_nomem(context);
        return;
    }
    if (state->failed || sqlite3_value_type(argv[0]) == SQLITE_NULL)
        return;
    const unsigned char* t = sqlite3_value_text(argv[0]);
    __int128 value = 0;
    int scale = 0;
    const std::string_view text(t != nullptr ? reinterpret_cast<const char*>(t) : "",
                                t != nullptr ? static_cast<size_t>(sqlite3_value_bytes(argv[0])) : 0);
    if (!parse_decimal(text, value, scale) || scale > max_sum_digits) {
        state->failed = true;
        return;
    }
    // Both to the larger scale, then add; any overflow ends the sum as failed.
    __int128 sum = state->sum();
    bool overflow = false;
    if (scale > state->scale) {
        overflow = __builtin_mul_overflow(sum, power_of_ten(scale - state->scale), &sum);
        state->scale = scale;
    } else {
        overflow = __builtin_mul_overflow(value, power_of_ten(state->scale - scale), &value);
    }
    overflow = overflow || __builtin_add_overflow(sum, value, &sum);
    state->set_sum(sum);
    state->any = true;
    const __int128 limit = power_of_ten(max_sum_digits);
    if (overflow || sum >= limit || sum <= -limit)
        state->failed = true;
}

void psum_final(sqlite3_context* context)
{
    auto* state = static_cast<PackedSum*>(sqlite3_aggregate_context(context, 0));
    if (state == nullptr || !state->any) {
        sqlite3_result_null(context);
        return;
    }
    if (state->failed) {
        sqlite3_result_error(context, "sum of packed numbers is no number of at most 36 digits", -1);
        return;
    }
    const __int128 sum = state->sum();
    const bool negative = sum < 0;
    __int128 magnitude = negative ? -sum : sum;
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    if (digits.size() <= static_cast<size_t>(state->scale))
        digits.insert(0, static_cast<size_t>(state->scale) + 1 - digits.size(), '0');
    if (state->scale > 0)
        digits.insert(digits.size() - static_cast<size_t>(state->scale), ".");
    if (negative)
        digits.insert(0, "-");
    sqlite3_result_text(context, digits.c_str(), static_cast<int>(digits.size()), SQLITE_TRANSIENT);
}

} // namespace

bool SqlFunctions::like(std::string_view value, std::string_view pattern, char32_t escape)
{
    size_t v = 0;
    size_t p = 0;
    size_t star_p = std::string_view::npos;  // pattern after the last %
    size_t star_v = 0;                       // value position that % has reached
    while (v < value.size()) {
        if (p < pattern.size()) {
            const PatternChar pc = pattern_char(pattern, p, escape);
            if (pc.wildcard && pc.cp == U'%') {
                p += pc.length;
                star_p = p;
                star_v = v;
                continue;
            }
            size_t length = 0;
            const char32_t vc = decode(value, v, length);
            if ((pc.wildcard && pc.cp == U'_') || (!pc.wildcard && pc.cp == vc)) {
                p += pc.length;
                v += length;
                continue;
            }
        }
        if (star_p == std::string_view::npos)
            return false;
        size_t length = 0;
        decode(value, star_v, length);
        star_v += length;
        v = star_v;
        p = star_p;
    }
    while (p < pattern.size()) {
        const PatternChar pc = pattern_char(pattern, p, escape);
        if (!pc.wildcard || pc.cp != U'%')
            return false;
        p += pc.length;
    }
    return true;
}

bool SqlFunctions::install(sqlite3* db, std::string& error)
{
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    if (sqlite3_create_function(db, "sap_like", 2, flags, nullptr, like_function, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_create_function(db, "sap_like", 3, flags, nullptr, like_function, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_create_function(db, "sap_psum", 1, flags, nullptr, nullptr, psum_step, psum_final) != SQLITE_OK) {
        error = std::string("cannot install the SQL functions: ") + sqlite3_errmsg(db);
        return false;
    }
    return true;
}

} // namespace sapsim
