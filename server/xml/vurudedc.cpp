#include "vurudedc.h"

#include "vok_password_table.h"

#include <cstring>

namespace
{
// The key pair and one pair for each byte the output can hold.
constexpr std::size_t max_input_length = 2 + 2 * (decoded_password_size - 1);

int hex_digit (char c)
{
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

int hex_pair (const char *pair)
{
  return hex_digit (pair[0]) * 16 + hex_digit (pair[1]);
}
}

int decode_password (char (&output)[decoded_password_size], const char *input)
{
  output[0] = 0;
  if (!input)
    return 0;
  // Longer inputs are refused without being read to their end.
  const std::size_t length = strnlen (input, max_input_length + 1);
  if (length < 2 || length > max_input_length || length % 2 != 0)
    return 0;
  for (std::size_t k = 0; k < length; ++k)
    if (hex_digit (input[k]) < 0)
      return 0;

  const int key = hex_pair (input);
  std::size_t n = 0;
  for (std::size_t k = 2; k < length; k += 2)
    {
      const auto byte = static_cast<unsigned char> ((vok_password_table[hex_pair (input + k)] - key) & 0xFF);
      if (byte == 0)
        break;
      output[n++] = static_cast<char> (byte);
    }
  output[n] = 0;
  return static_cast<int> (n);
}

int decode_password (char (&output)[decoded_password_size], std::u16string_view input)
{
  output[0] = 0;
  if (input.size () > max_input_length)
    return 0;
  char single_bytes[max_input_length + 1];
  std::size_t n = 0;
  for (char16_t unit : input)
    {
      if (unit == 0 || unit > 0xFF)
        break;
      single_bytes[n++] = static_cast<char> (unit);
    }
  single_bytes[n] = 0;
  const int length = n == input.size () ? decode_password (output, single_bytes) : 0;
  // The encrypted text reveals the password to anyone with the table.
  explicit_bzero (single_bytes, sizeof single_bytes);
  return length;
}
