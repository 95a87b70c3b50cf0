#include "vok_password.h"

#include "vok_password_table.h"

#include <sys/random.h>

#include <array>
#include <chrono>
#include <cstring>

namespace
{
// For each byte b the pair whose table entry has the low byte b.
constexpr std::array<unsigned char, 256> inverse_table ()
{
  std::array<unsigned char, 256> inverse {};
  for (unsigned v = 0; v < 256; ++v)
    inverse[vok_password_table[v] & 0xFF] = static_cast<unsigned char> (v);
  return inverse;
}

constexpr std::array<unsigned char, 256> pair_of = inverse_table ();

void append_hex (std::string &text, unsigned char byte)
{
  static const char digits[] = "0123456789ABCDEF";
  text += digits[byte >> 4];
  text += digits[byte & 0x0F];
}

// UTF-8 to single bytes (U+0001..U+00FF). Returns the number of bytes, or
// -1 with `problem` set. Never names the password's characters.
int to_single_bytes (std::string_view text, unsigned char (&out)[vok_password_max_length],
                     const char *&problem)
{
  std::size_t n = 0;
  for (std::size_t k = 0; k < text.size (); ++k)
    {
      if (n == vok_password_max_length)
        {
          problem = "the password is longer than 99 characters";
          return -1;
        }
      const auto lead = static_cast<unsigned char> (text[k]);
      if (lead == 0)
        {
          problem = "the password holds a zero character";
          return -1;
        }
      if (lead < 0x80)
        {
          out[n++] = lead;
          continue;
        }
      if (lead == 0xC2 || lead == 0xC3)
        {
          const auto next = k + 1 < text.size () ? static_cast<unsigned char> (text[k + 1]) : 0;
          if ((next & 0xC0) != 0x80)
            {
              problem = "the password is not valid UTF-8";
              return -1;
            }
          out[n++] = static_cast<unsigned char> (((lead & 0x03) << 6) | (next & 0x3F));
          ++k;
          continue;
        }
      problem = lead >= 0xC4 && lead <= 0xF4
                  ? "the password holds a character beyond U+00FF, which the server cannot decode"
                  : "the password is not valid UTF-8";
      return -1;
    }
  if (n == 0)
    {
      problem = "the password is empty";
      return -1;
    }
  return static_cast<int> (n);
}

unsigned char random_key ()
{
  unsigned char key = 0;
  if (getrandom (&key, 1, GRND_NONBLOCK) == 1)
    return key;
  // The key hides nothing, it only varies the text; any changing value serves.
  return static_cast<unsigned char> (std::chrono::steady_clock::now ().time_since_epoch ().count ());
}
}

Vok_Status vok_encode_password (std::string_view password, unsigned char key, std::string &encrypted)
{
  unsigned char bytes[vok_password_max_length];
  const char *problem = nullptr;
  const int length = to_single_bytes (password, bytes, problem);
  if (length < 0)
    {
      explicit_bzero (bytes, sizeof bytes);
      return {Vok_Result::invalid_argument, std::string ("cannot encrypt the password: ") + problem};
    }
  std::string text;
  text.reserve (2 + 2 * static_cast<std::size_t> (length));
  append_hex (text, key);
  for (int k = 0; k < length; ++k)
    append_hex (text, pair_of[static_cast<unsigned char> (bytes[k] + key)]);
  explicit_bzero (bytes, sizeof bytes);
  encrypted.swap (text);
  return {};
}

Vok_Status vok_encode_password (std::string_view password, std::string &encrypted)
{
  return vok_encode_password (password, random_key (), encrypted);
}
