// Arbitrary bytes as an encrypted password, as single-byte text and as
// UTF-16: the output stays within its buffer and zero-terminated, both
// entries agree, and whatever decodes comes back through the client's
// encoder under the same key.
#include "vurudedc.h"

#include "vok_password.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{
void check (bool condition)
{
  if (!condition)
    std::abort ();
}

std::string utf8_of (const char *bytes)
{
  std::string utf8;
  for (; *bytes; ++bytes)
    {
      const auto c = static_cast<unsigned char> (*bytes);
      if (c < 0x80)
        utf8 += static_cast<char> (c);
      else
        utf8 += {static_cast<char> (0xC0 | (c >> 6)), static_cast<char> (0x80 | (c & 0x3F))};
    }
  return utf8;
}

int hex_digit (char c)
{
  return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t *data, std::size_t size)
{
  const std::string text (reinterpret_cast<const char *> (data), size);
  char output[decoded_password_size];
  std::memset (output, 0x5A, sizeof output);
  const int length = decode_password (output, text.c_str ());
  check (length >= 0 && static_cast<std::size_t> (length) < decoded_password_size);
  check (std::strlen (output) == static_cast<std::size_t> (length));

  // The same bytes as UTF-16 units decode alike when they hold no zero.
  std::u16string wide;
  for (unsigned char c : text)
    wide += static_cast<char16_t> (c);
  char wide_output[decoded_password_size];
  const int wide_length = decode_password (wide_output, wide);
  if (text.find ('\0') == std::string::npos)
    check (wide_length == length && std::strcmp (wide_output, output) == 0);
  else
    check (wide_length == 0);

  // Units beyond one byte never decode.
  if (size >= 2)
    {
      std::u16string units (size / 2, u'\0');
      std::memcpy (units.data (), data, units.size () * 2);
      char units_output[decoded_password_size];
      const int units_length = decode_password (units_output, units);
      for (char16_t unit : units)
        if (unit > 0xFF)
          check (units_length == 0);
    }

  if (length > 0)
    {
      const auto key = static_cast<unsigned char> (hex_digit (text[0]) * 16 + hex_digit (text[1]));
      std::string encrypted;
      check (vok_encode_password (utf8_of (output), key, encrypted).ok ());
      char again[decoded_password_size];
      decode_password (again, encrypted.c_str ());
      check (std::strcmp (again, output) == 0);
    }
  return 0;
}
