#include "utf16_text.h"

#include <algorithm>

namespace
{
constexpr char32_t replacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[i], advancing i; never reads past the end.
char32_t decode_utf8 (std::string_view text, std::size_t &i)
{
  const auto lead = static_cast<unsigned char> (text[i++]);
  if (lead < 0x80)
    return lead;
  int extra;
  char32_t cp;
  if ((lead & 0xE0) == 0xC0) { extra = 1; cp = lead & 0x1F; }
  else if ((lead & 0xF0) == 0xE0) { extra = 2; cp = lead & 0x0F; }
  else if ((lead & 0xF8) == 0xF0) { extra = 3; cp = lead & 0x07; }
  else return replacement;
  for (int k = 0; k < extra; ++k)
    {
      if (i >= text.size ())
        return replacement;
      const auto next = static_cast<unsigned char> (text[i]);
      if ((next & 0xC0) != 0x80)
        return replacement;
      cp = (cp << 6) | (next & 0x3F);
      ++i;
    }
  static constexpr char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
  if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return replacement;
  return cp;
}

void append_utf8 (std::string &out, char32_t cp)
{
  if (cp < 0x80)
    out += static_cast<char> (cp);
  else if (cp < 0x800)
    {
      out += static_cast<char> (0xC0 | (cp >> 6));
      out += static_cast<char> (0x80 | (cp & 0x3F));
    }
  else if (cp < 0x10000)
    {
      out += static_cast<char> (0xE0 | (cp >> 12));
      out += static_cast<char> (0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char> (0x80 | (cp & 0x3F));
    }
  else
    {
      out += static_cast<char> (0xF0 | (cp >> 18));
      out += static_cast<char> (0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char> (0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char> (0x80 | (cp & 0x3F));
    }
}
}

std::u16string utf16_from_utf8 (std::string_view text)
{
  std::u16string out;
  out.reserve (text.size ());
  for (std::size_t i = 0; i < text.size ();)
    {
      const char32_t cp = decode_utf8 (text, i);
      if (cp < 0x10000)
        out += static_cast<char16_t> (cp);
      else
        {
          out += static_cast<char16_t> (0xD800 + ((cp - 0x10000) >> 10));
          out += static_cast<char16_t> (0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
    }
  return out;
}

std::string utf8_from_utf16 (std::u16string_view text)
{
  std::string out;
  out.reserve (text.size ());
  for (std::size_t i = 0; i < text.size (); ++i)
    {
      char32_t cp = text[i];
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size ()
          && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
        cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
      else if (cp >= 0xD800 && cp <= 0xDFFF)
        cp = replacement;
      append_utf8 (out, cp);
    }
  return out;
}

std::u16string utf16_upper (std::u16string_view text)
{
  std::u16string out (text);
  for (auto &c : out)
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
      c = static_cast<char16_t> (c - 0x20);
  return out;
}

std::size_t utf16_length (const char16_t *text, std::size_t capacity)
{
  std::size_t n = 0;
  while (n < capacity && text[n] != 0)
    ++n;
  return n;
}

void utf16_copy (char16_t *buffer, std::size_t capacity, std::u16string_view text)
{
  const std::size_t n = std::min (text.size (), capacity - 1);
  text.copy (buffer, n);
  buffer[n] = 0;
}

std::u16string_view utf16_trim_right (std::u16string_view text)
{
  const std::size_t last = text.find_last_not_of (u' ');
  return last == std::u16string_view::npos ? text.substr (0, 0) : text.substr (0, last + 1);
}

std::u16string_view utf16_cut_at_blank (std::u16string_view text)
{
  return text.substr (0, text.find (u' '));
}
