// UTF-16 text helpers shared by the library: lengths, conversions, bounded copies.
#ifndef RFCLIB_TEXT_H
#define RFCLIB_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace rfclib {

// Length of a 0-terminated UTF-16 text, at most `limit` units.
std::size_t u16_length(const char16_t* text, std::size_t limit = static_cast<std::size_t>(-1));

// View of a name given with a length in characters (0: 0-terminated).
std::u16string_view name_view(const char16_t* name, unsigned nlen);

// UTF-16 to UTF-8 (unpaired surrogates become U+FFFD) and back (invalid bytes too).
std::string to_utf8(std::u16string_view text);
std::u16string from_utf8(std::string_view text);

// Copies text into a buffer of `size` units, cut to fit, always 0-terminated
// when size > 0. Returns the units written without the 0.
std::size_t copy_text(char16_t* dest, std::size_t size, std::u16string_view text);

template <std::size_t N>
std::size_t copy_text(char16_t (&dest)[N], std::u16string_view text) {
  return copy_text(dest, N, text);
}

// ASCII case-insensitive comparison of UTF-16 text with ASCII text.
bool equals_ascii_nocase(std::u16string_view text, std::string_view ascii);

}  // namespace rfclib

#endif
