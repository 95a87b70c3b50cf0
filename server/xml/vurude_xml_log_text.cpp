#include "vurude_xml_log_text.h"

#include "utf16_text.h"

std::string log_text (std::string_view bytes)
{
  static constexpr char digits[] = "0123456789ABCDEF";
  const std::string_view shown = bytes.substr (0, max_logged_bytes);
  std::string text;
  text.reserve (shown.size () + 3);
  for (const char c : shown)
    {
      const auto byte = static_cast<unsigned char> (c);
      if (byte >= 0x20 && byte < 0x7F && byte != '\\')
        text += c;
      else
        {
          text += "\\x";
          text += digits[byte >> 4];
          text += digits[byte & 0x0F];
        }
    }
  if (shown.size () < bytes.size ())
    text += "...";
  return text;
}

std::string log_text (std::u16string_view text)
{
  // Converting only what can be shown keeps a long text from being copied whole.
  return log_text (utf8_from_utf16 (text.substr (0, max_logged_bytes + 1)));
}
