// Writes the current row of a prepared statement into a record of a
// RecordLayout, straight into the caller's buffer (a line of the chunk
// table), without allocating: C and N as UTF-16LE (C padded with blanks, N
// zero-filled on the left), D and T as UTF-16LE digits, integers and floats
// little-endian, P as packed decimal, X as raw bytes; null as the initial
// value of the column's type.
#pragma once

#include "sapsim/read/record_layout.h"

#include <sqlite3.h>

#include <cstddef>
#include <string>

namespace sapsim {

class RecordEncoder {
public:
    explicit RecordEncoder(const RecordLayout& layout) : layout_(layout) {}

    // Column i of the statement fills layout column i. False and a message
    // when a value does not fit its column (a packed number too large).
    bool encode(sqlite3_stmt* statement, unsigned char* record, std::string& error) const;

    // Decimal text ("-12.5") as a packed number of `bytes` bytes: 2 x bytes - 1
    // digits and the sign nibble (0xC plus, 0xD minus), `decimals` implied
    // places, further places rounded half away from zero. False when the text
    // is no number or has too many digits.
    static bool packed(const char* text, size_t size, int decimals, unsigned char* out, int bytes);

private:
    const RecordLayout& layout_;
};

} // namespace sapsim
