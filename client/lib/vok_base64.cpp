#include "vok_base64.h"

std::string vok_base64_encode (std::string_view bytes)
{
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve ((bytes.size () + 2) / 3 * 4);
  std::size_t k = 0;
  for (; k + 3 <= bytes.size (); k += 3)
    {
      const unsigned group = static_cast<unsigned char> (bytes[k]) << 16
                             | static_cast<unsigned char> (bytes[k + 1]) << 8
                             | static_cast<unsigned char> (bytes[k + 2]);
      text += alphabet[group >> 18];
      text += alphabet[(group >> 12) & 0x3F];
      text += alphabet[(group >> 6) & 0x3F];
      text += alphabet[group & 0x3F];
    }
  const std::size_t rest = bytes.size () - k;
  if (rest > 0)
    {
      unsigned group = static_cast<unsigned char> (bytes[k]) << 16;
      if (rest == 2)
        group |= static_cast<unsigned char> (bytes[k + 1]) << 8;
      text += alphabet[group >> 18];
      text += alphabet[(group >> 12) & 0x3F];
      text += rest == 2 ? alphabet[(group >> 6) & 0x3F] : '=';
      text += '=';
    }
  return text;
}
