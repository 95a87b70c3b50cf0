// Decoding encrypted passwords: what the client's encoder makes comes back
// byte for byte; everything malformed decodes to nothing, never beyond the
// output buffer.
#include "vurudedc.h"

#include "vok_password.h"
#include "vok_password_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>

namespace
{
std::string decode (const char *input)
{
  char output[decoded_password_size];
  const int length = decode_password (output, input);
  EXPECT_EQ (static_cast<std::size_t> (length), std::char_traits<char>::length (output));
  return output;
}

std::string decode (std::u16string_view input)
{
  char output[decoded_password_size];
  decode_password (output, input);
  return output;
}

// The pair that decodes to `byte` under `key`, found in the table itself.
std::string pair_for (unsigned char byte, unsigned char key)
{
  for (unsigned v = 0; v < 256; ++v)
    if (((vok_password_table[v] - key) & 0xFF) == byte)
      {
        char text[3];
        std::snprintf (text, sizeof text, "%02x", v);
        return text;
      }
  return "";
}

// UTF-8 of single-byte text, as the encoder takes it.
std::string utf8_of (const std::string &bytes)
{
  std::string utf8;
  for (unsigned char c : bytes)
    if (c < 0x80)
      utf8 += static_cast<char> (c);
    else
      utf8 += {static_cast<char> (0xC0 | (c >> 6)), static_cast<char> (0x80 | (c & 0x3F))};
  return utf8;
}

TEST (Decode_Password, GivesBackWhatTheEncoderWasGivenUnderEveryKey)
{
  std::string every_byte;
  for (int c = 1; c < 256; ++c)
    every_byte += static_cast<char> (c);
  const std::string passwords[] = {
    "a", "Secret123", "p\xE4sswr\xF6rd", every_byte.substr (0, 99), every_byte.substr (99, 99),
    every_byte.substr (198), std::string (99, '\xFF'),
  };
  for (const std::string &password : passwords)
    for (unsigned key = 0; key < 256; ++key)
      {
        std::string encrypted;
        ASSERT_TRUE (vok_encode_password (utf8_of (password), static_cast<unsigned char> (key), encrypted).ok ());
        ASSERT_EQ (decode (encrypted.c_str ()), password) << "key " << key;
      }
}

TEST (Decode_Password, MalformedInputDecodesToNothing)
{
  std::string valid;
  ASSERT_TRUE (vok_encode_password ("secret", 0x42, valid).ok ());
  ASSERT_EQ (decode (valid.c_str ()), "secret");
  std::string too_long;
  ASSERT_TRUE (vok_encode_password (std::string (99, 'x'), 0x42, too_long).ok ());
  ASSERT_EQ (decode (too_long.c_str ()).size (), 99u) << "200 digits are the most";
  too_long += too_long.substr (2, 2);

  const struct
  {
    const char *name;
    std::string input;
  } cases[] = {
    {"empty", ""},
    {"one digit", "4"},
    {"key only", "42"},
    {"odd, every pair valid", valid + "4"},
    {"non-hex first", "g" + valid.substr (1)},
    {"non-hex in the key", valid.substr (0, 1) + "x" + valid.substr (2)},
    {"non-hex in the middle", valid.substr (0, 6) + "z" + valid.substr (7)},
    {"non-hex last", valid.substr (0, valid.size () - 1) + "G"},
    {"blank", valid.substr (0, 4) + " " + valid.substr (4, 2)},
    {"0x prefix", "0x" + valid},
    {"Latin-1 letter", valid.substr (0, 4) + "\xE9" + valid.substr (5)},
    {"101 pairs after the key", too_long},
    {"100 kB", std::string (100000, 'a')},
  };
  for (const auto &c : cases)
    EXPECT_EQ (decode (c.input.c_str ()), "") << c.name;
  EXPECT_EQ (decode (static_cast<const char *> (nullptr)), "");
}

TEST (Decode_Password, AnotherKeyShiftsEveryByteByTheDifference)
{
  std::string encrypted;
  ASSERT_TRUE (vok_encode_password ("ABC", 0x10, encrypted).ok ());
  EXPECT_EQ (decode (("15" + encrypted.substr (2)).c_str ()), "<=>");
  EXPECT_EQ (decode (("0F" + encrypted.substr (2)).c_str ()), "BCD");
}

TEST (Decode_Password, CaseOfTheDigitsDoesNotMatter)
{
  const std::string pairs = "3c" + pair_for ('x', 0x3C) + pair_for ('y', 0x3C);
  std::string upper = pairs;
  for (char &c : upper)
    c = static_cast<char> (std::toupper (static_cast<unsigned char> (c)));
  std::string mixed = pairs;
  for (std::size_t k = 0; k < mixed.size (); k += 2)
    mixed[k] = upper[k];
  EXPECT_EQ (decode (pairs.c_str ()), "xy");
  EXPECT_EQ (decode (upper.c_str ()), "xy");
  EXPECT_EQ (decode (mixed.c_str ()), "xy");
}

TEST (Decode_Password, AZeroByteEndsThePassword)
{
  const unsigned char key = 0x7E;
  const std::string key_pair = "7e";
  EXPECT_EQ (decode ((key_pair + pair_for ('A', key) + pair_for (0, key) + pair_for ('B', key)).c_str ()), "A");
  EXPECT_EQ (decode ((key_pair + pair_for (0, key) + pair_for ('B', key)).c_str ()), "");
}

TEST (Decode_Password, Utf16InputIsTakenAsSingleByteText)
{
  std::string encrypted;
  ASSERT_TRUE (vok_encode_password ("secret", 0xA5, encrypted).ok ());
  const std::u16string wide (encrypted.begin (), encrypted.end ());
  EXPECT_EQ (decode (wide), "secret");

  // U+0141 has the low byte of 'A': it must not pass for the digit.
  std::u16string beyond = wide;
  beyond[0] = u'\u0141';
  const std::u16string zero_inside = wide.substr (0, 4) + std::u16string (1, u'\0') + wide.substr (4);
  const std::u16string cases[] = {
    beyond,
    zero_inside,
    wide.substr (0, 4) + u"\u00E9" + wide.substr (5),
    std::u16string (202, u'a'),
    u"",
  };
  for (const std::u16string &input : cases)
    EXPECT_EQ (decode (input), "") << std::string (input.begin (), input.end ());
}
}
