#include "text.h"

#include <algorithm>

namespace rfclib {

std::size_t u16_length(const char16_t* text, std::size_t limit) {
  if (text == nullptr) return 0;
  std::size_t n = 0;
  while (n < limit && text[n] != 0) ++n;
  return n;
}

std::u16string_view name_view(const char16_t* name, unsigned nlen) {
  if (name == nullptr) return {};
  if (nlen == 0) return {name, u16_length(name)};
  return {name, nlen};
}

std::string to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string from_utf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    char32_t c = 0xFFFD;
    std::size_t len = 1;
    if (b < 0x80) {
      c = b;
    } else if ((b >> 5) == 0x6) {
      len = 2;
    } else if ((b >> 4) == 0xE) {
      len = 3;
    } else if ((b >> 3) == 0x1E) {
      len = 4;
    }
    if (len > 1) {
      if (i + len > text.size()) {
        len = 1;
      } else {
        c = b & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
          const auto cb = static_cast<unsigned char>(text[i + k]);
          if ((cb & 0xC0) != 0x80) {
            c = 0xFFFD;
            len = k;
            break;
          }
          c = (c << 6) | (cb & 0x3F);
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
      }
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

std::size_t copy_text(char16_t* dest, std::size_t size, std::u16string_view text) {
  if (dest == nullptr || size == 0) return 0;
  const std::size_t n = std::min(size - 1, text.size());
  std::copy_n(text.data(), n, dest);
  dest[n] = 0;
  return n;
}

bool equals_ascii_nocase(std::u16string_view text, std::string_view ascii) {
  if (text.size() != ascii.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t a = text[i];
    char16_t b = static_cast<unsigned char>(ascii[i]);
    if (a >= 'A' && a <= 'Z') a = static_cast<char16_t>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char16_t>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

}  // namespace rfclib
