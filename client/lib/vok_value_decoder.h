#ifndef VOK_VALUE_DECODER_H
#define VOK_VALUE_DECODER_H

#include "vok_metadata.h"
#include "vok_status.h"

#include <string>
#include <string_view>

// Turns the values of a record into text for people and files:
//
// | Type      | Text                                                         |
// |-----------|--------------------------------------------------------------|
// | C         | UTF-8, trailing blanks removed                               |
// | N, D, T   | UTF-8, as they are ("00000000" for an initial date)          |
// | I, s, 8   | signed decimal ("-42")                                       |
// | b         | unsigned decimal ("255")                                     |
// | F         | the shortest text that reads back as the same double         |
// |           | ("0.1", "1e+20", "-0", "inf", "-inf", "nan")                 |
// | P         | decimal with the column's decimals ("-12.34", "0.05", "7")   |
// | X         | lower-case hexadecimal, two digits per byte ("00ff")         |
//
// Packed numbers drop their leading zeros and show zero without a sign. Their
// sign nibble is C, A, E or F for plus and D or B for minus; a field of zero
// bytes only, as a never-written field holds, reads as zero.
//
// Invalid input (a packed digit or sign nibble out of range, an unpaired
// UTF-16 surrogate, a column outside the row) fails with bad_record and a
// message naming the column and the byte; nothing is read beyond the row.

// Decodes `column` of `row` into `text` (replaced; left empty on failure).
Vok_Status vok_decode_value (const Vok_Column &column, std::string_view row, std::string &text);

// Appends UTF-16LE `bytes` to `text` as UTF-8. Fails with bad_record for an
// odd byte count or an unpaired surrogate; `text` then holds what came
// before the fault.
Vok_Status vok_append_utf16le (std::string_view bytes, std::string &text);

// Whether the text of a type is a number (I, s, b, 8, F, P); the others are
// text, including N, whose leading zeros matter.
bool vok_is_number_type (Vok_Column_Type type);

#endif
