#ifndef VURUDE_UTF16_TEXT_H
#define VURUDE_UTF16_TEXT_H

#include <string>
#include <string_view>

// Conversions between the UTF-8 of the command line, files and logs and the
// UTF-16 the server keeps its texts in. Malformed input becomes U+FFFD rather
// than failing: these texts come from operators, not from the wire.
std::u16string utf16_from_utf8 (std::string_view text);
std::string utf8_from_utf16 (std::u16string_view text);

// Upper-cases character by character (ASCII and Latin-1 letters).
std::u16string utf16_upper (std::u16string_view text);

// Fixed-size UTF-16 buffers as exchanged with the RFC library.
// The units before the first zero, at most `capacity`.
std::size_t utf16_length (const char16_t *text, std::size_t capacity);
// Copies at most capacity - 1 units of `text` and a zero; capacity > 0.
void utf16_copy (char16_t *buffer, std::size_t capacity, std::u16string_view text);
// Without trailing blanks.
std::u16string_view utf16_trim_right (std::u16string_view text);
// Cut at the first blank.
std::u16string_view utf16_cut_at_blank (std::u16string_view text);

#endif
