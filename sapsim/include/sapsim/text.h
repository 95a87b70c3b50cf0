// UTF-8 (logs, command line, store) <-> UTF-16 (the RFC library) and the
// fixed-width character fields of RFC parameters and table lines.
#pragma once

#include <string>
#include <string_view>

namespace sapsim {

std::u16string to_utf16(std::string_view utf8);
std::string to_utf8(std::u16string_view utf16);

// Writes `text` into a field of `chars` UTF-16 characters, padded with blanks
// and cut when longer.
void put_chars(char16_t* field, size_t chars, std::string_view text);
void put_chars(char16_t* field, size_t chars, std::u16string_view text);

// Reads a field of `chars` characters without its trailing blanks (and without
// anything from the first 0 on).
std::string get_chars(const char16_t* field, size_t chars);

// A 0-terminated UTF-16 text of at most `max_chars` characters as UTF-8.
std::string from_c_text(const char16_t* text, size_t max_chars);

} // namespace sapsim
