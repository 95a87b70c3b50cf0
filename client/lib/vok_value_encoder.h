#ifndef VOK_VALUE_ENCODER_H
#define VOK_VALUE_ENCODER_H

#include "vok_metadata.h"
#include "vok_status.h"

#include <string>
#include <string_view>

// Turns text into the bytes of a value, the inverse of vok_decode_value:
// what the decoder writes, the encoder reads back to the same bytes.
//
// | Type  | Text taken                              | Bytes                              |
// |-------|-----------------------------------------|------------------------------------|
// | C     | UTF-8, at most bytes / 2 UTF-16 units   | UTF-16LE padded with blanks        |
// | N     | digits, at most bytes / 2               | UTF-16LE zero-filled on the left   |
// | D     | YYYYMMDD or YYYY-MM-DD, a real date or  | UTF-16LE YYYYMMDD                  |
// |       | 00000000                                |                                    |
// | T     | HHMMSS or HH:MM:SS, up to 235959        | UTF-16LE HHMMSS                    |
// | I s 8 | signed decimal within the type's range  | little-endian                      |
// | b     | 0 to 255                                | one byte                           |
// | F     | a decimal or exponent number, inf, nan  | little-endian IEEE-754 double      |
// | P     | [-+]digits[.digits]: at most the        | packed digits, sign nibble C or D  |
// |       | column's decimals (further zeros go),   |                                    |
// |       | at most 2 x bytes - 1 digits in all     |                                    |
// | X     | hexadecimal, two digits a byte, at most | the bytes, zero-filled on the      |
// |       | the column's bytes                      | right                              |
//
// An empty text is the initial value of the type (vok_initial_value). A
// leading "+" is taken by the number types; other blanks or signs are not.
//
// A text the type cannot take, or one that does not fit the size, fails
// with invalid_argument and a message that begins with the column's name
// ("AIRLINE: ..."); callers put what the column is in front of it
// ("parameter AIRLINE: ..."). `bytes` is then left empty.
Vok_Status vok_encode_value (const Vok_Column &column, std::string_view text, std::string &bytes);

// The initial value of a column: blanks for C, zero digits for N, D and T,
// a packed zero with the plus sign for P, zero bytes for the others.
// Empty for a column whose size does not fit its type.
std::string vok_initial_value (const Vok_Column &column);

#endif
