// Encrypting passwords for the xpasswd attribute: the text's form, which
// passwords can be encrypted, and what is refused.
#include "vok_password.h"
#include "vok_password_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace
{
using namespace std::string_literals;

// What the server makes of one pair under a key.
unsigned char decoded (const std::string &pair, unsigned char key)
{
  const unsigned v = static_cast<unsigned> (std::stoul (pair, nullptr, 16));
  return static_cast<unsigned char> ((vok_password_table[v] - key) & 0xFF);
}

TEST (Vok_Password, KeyPairFirstThenOnePairPerCharacter)
{
  std::string encrypted;
  ASSERT_TRUE (vok_encode_password ("s3cr\xC3\xA4t", 0x3C, encrypted).ok ());
  ASSERT_EQ (encrypted.size (), 2u + 2 * 6);
  EXPECT_EQ (encrypted.substr (0, 2), "3C");
  EXPECT_EQ (encrypted.find_first_not_of ("0123456789ABCDEF"), std::string::npos);
  const std::string expected = "s3cr\xE4t";  // the single bytes the server gets
  for (std::size_t k = 0; k < expected.size (); ++k)
    EXPECT_EQ (decoded (encrypted.substr (2 + 2 * k, 2), 0x3C), static_cast<unsigned char> (expected[k]))
      << k;
}

TEST (Vok_Password, EveryCharacterUnderEveryKeyHasItsPair)
{
  for (unsigned key = 0; key < 256; ++key)
    for (unsigned c = 1; c < 256; ++c)
      {
        std::string utf8;
        if (c < 0x80)
          utf8 = std::string (1, static_cast<char> (c));
        else
          utf8 = {static_cast<char> (0xC0 | (c >> 6)), static_cast<char> (0x80 | (c & 0x3F))};
        std::string encrypted;
        ASSERT_TRUE (vok_encode_password (utf8, static_cast<unsigned char> (key), encrypted).ok ());
        ASSERT_EQ (decoded (encrypted.substr (2, 2), static_cast<unsigned char> (key)), c) << key;
      }
}

TEST (Vok_Password, TheKeyIsDrawnForEachEncryption)
{
  std::set<std::string> keys;
  for (int k = 0; k < 32; ++k)
    {
      std::string encrypted;
      ASSERT_TRUE (vok_encode_password ("pw", encrypted).ok ());
      keys.insert (encrypted.substr (0, 2));
    }
  EXPECT_GT (keys.size (), 1u);
}

TEST (Vok_Password, RefusesWhatTheServerCannotDecode)
{
  std::string e_acute_50;
  for (int k = 0; k < 50; ++k)
    e_acute_50 += "\xC3\xA9";
  const struct
  {
    const char *name;
    std::string password;
  } cases[] = {
    {"empty", ""},
    {"100 characters", std::string (100, 'a')},
    {"100 characters, 2 bytes each", std::string (50, 'a') + e_acute_50},
    {"raw Latin-1 byte", "hunter\xE9"},
    {"zero inside", "hunter\0" "2"s},
    {"U+0100", "hunter\xC4\x80"},
    {"euro sign", "hunter\xE2\x82\xAC"},
    {"emoji", "hunter\xF0\x9F\x98\x80"},
    {"lone continuation byte", "hunter\x80"},
    {"cut sequence", "hunter\xC3"},
    {"overlong form", "hunter\xC1\x81"},
  };
  for (const auto &c : cases)
    {
      std::string encrypted = "unchanged";
      const Vok_Status status = vok_encode_password (c.password, 0x10, encrypted);
      EXPECT_EQ (status.result (), Vok_Result::invalid_argument) << c.name;
      EXPECT_EQ (encrypted, "unchanged") << c.name;
      EXPECT_EQ (status.message ().find ("hunter"), std::string::npos) << "never show the password";
    }
  std::string encrypted;
  EXPECT_TRUE (vok_encode_password (std::string (99, 'a'), 0, encrypted).ok ()) << "99 is the most";
  EXPECT_EQ (encrypted.size (), 200u);
}
}
