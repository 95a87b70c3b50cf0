#ifndef VURUDE_UTF16_TEXT_H
#define VURUDE_UTF16_TEXT_H

#include <string>
#include <string_view>

// Conversions between the UTF-8 of the command line, files and logs and the
// UTF-16 the server keeps its texts in. Malformed input becomes U+FFFD rather
// than failing: these texts come from operators, not from the wire.
std::u16string utf16_from_utf8 (std::string_view text);
std::string utf8_from_utf16 (std::u16string_view text);

// The C library's atoi over UTF-16: optional blanks and sign, then leading
// digits; no digits gives 0. Values beyond int are clamped, not undefined.
int utf16_atoi (std::u16string_view text);

// Upper-cases character by character (ASCII and Latin-1 letters).
std::u16string utf16_upper (std::u16string_view text);

#endif
