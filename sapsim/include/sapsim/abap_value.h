// Values of the elementary ABAP types as they travel in RFC parameters and in
// structured table lines (docs/extraction-records.md, docs/sapsim.md
// "Described function modules"): C UTF-16LE padded with blanks, N digits
// zero-filled on the left as UTF-16LE, D (YYYYMMDD) and T (HHMMSS) as UTF-16LE,
// I, s, b little-endian integers, F an IEEE double, P packed decimal with the
// sign nibble C or D, X raw bytes. Values are read and written byte by byte,
// so they may sit at any offset of a line.
#pragma once

#include "rfclib/rfclib.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sapsim {

struct AbapType {
    char type = 'C';    // C N D T I s b F P X
    size_t bytes = 0;   // value size; C and N: 2 x characters
    int decimals = 0;   // P only

    static AbapType character(size_t chars) { return {'C', 2 * chars, 0}; }
    static AbapType numeric(size_t digits) { return {'N', 2 * digits, 0}; }
    static AbapType date() { return {'D', 16, 0}; }
    static AbapType time() { return {'T', 12, 0}; }
    static AbapType int4() { return {'I', 4, 0}; }
    static AbapType int2() { return {'s', 2, 0}; }
    static AbapType int1() { return {'b', 1, 0}; }
    static AbapType float8() { return {'F', 8, 0}; }
    static AbapType packed(size_t bytes, int decimals) { return {'P', bytes, decimals}; }
    static AbapType raw(size_t bytes) { return {'X', bytes, 0}; }

    // C, N, D and T: values of UTF-16 characters.
    bool is_text() const { return type == 'C' || type == 'N' || type == 'D' || type == 'T'; }
    // Characters of a text value.
    size_t chars() const { return bytes / 2; }
};

// The library's type code of an elementary type.
RFC_TYPEHANDLE rfc_type_code(char type);

// The initial value: blanks for C; '0' characters for N, D and T; packed
// zero (sign C) for P; zero bytes for the others.
void put_initial(const AbapType& type, unsigned char* out);

// `text` written as a value: C as given (cut to its characters), N digits
// right-aligned, D eight digits, T six digits (D and T blank or empty: the
// initial value), I/s/b a decimal integer in range, F a number, P a decimal
// number within its digits (further places rounded), X hexadecimal (zero
// bytes after it). False, and `out` unchanged, when the text does not fit.
bool put_value(const AbapType& type, std::string_view text, unsigned char* out);

// C, N, D, T: the characters without trailing blanks, as UTF-8.
std::string get_text(const AbapType& type, const unsigned char* in);
// I, s, b: the integer; 0 for other types.
std::int64_t get_integer(const AbapType& type, const unsigned char* in);
// I, s, b: `value` cut to the type's size.
void put_integer(const AbapType& type, std::int64_t value, unsigned char* out);

// UTF-8 text into `chars` UTF-16LE characters at `out`, padded with blanks
// and cut when longer; UTF-16LE characters back to UTF-8 without trailing
// blanks.
void put_utf16le(std::string_view text, unsigned char* out, size_t chars);
std::string get_utf16le(const unsigned char* in, size_t chars);

} // namespace sapsim
