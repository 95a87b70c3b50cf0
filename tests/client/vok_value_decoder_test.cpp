// Turning the columns of a record into text, type by type, and refusing
// bytes a column of that type cannot hold.
#include "vok_value_decoder.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace
{
using namespace std::string_literals;

// UTF-16LE of ASCII text.
std::string utf16 (std::string_view text)
{
  std::string bytes;
  for (char c : text)
    {
      bytes += c;
      bytes += '\0';
    }
  return bytes;
}

struct Decode_Case
{
  const char *name;
  Vok_Column_Type type;
  unsigned decimals;
  std::string bytes;     // the column's bytes; the column is all of the row
  std::string text;      // expected text, when it decodes
  std::string failure;   // part of the message, when it does not
  friend void PrintTo (const Decode_Case &c, std::ostream *os) { *os << c.name; }
};

class Value_Decoder : public testing::TestWithParam<Decode_Case> {};

// The column sits behind a prefix of other bytes, so that its offset counts.
TEST_P (Value_Decoder, DecodesOneColumn)
{
  const Decode_Case &c = GetParam ();
  const std::string prefix = "\x7F\x7F\x7F"s;
  Vok_Column column;
  column.name = "V";
  column.type = c.type;
  column.bytes = c.bytes.size ();
  column.decimals = c.decimals;
  column.offset = prefix.size ();
  const std::string row = prefix + c.bytes + "\x7F"s;
  std::string text = "left over";
  const Vok_Status status = vok_decode_value (column, row, text);
  if (c.failure.empty ())
    {
      ASSERT_TRUE (status.ok ()) << status.message ();
      EXPECT_EQ (text, c.text);
    }
  else
    {
      ASSERT_EQ (status.result (), Vok_Result::bad_record);
      EXPECT_NE (status.message ().find ("column V"), std::string::npos) << status.message ();
      EXPECT_NE (status.message ().find (c.failure), std::string::npos) << status.message ();
      EXPECT_EQ (text, "");
    }
}

using T = Vok_Column_Type;

INSTANTIATE_TEST_SUITE_P (
  Characters, Value_Decoder,
  testing::Values (
    Decode_Case {"TrailingBlanksGo", T::character, 0, utf16 ("LH  "), "LH", ""},
    Decode_Case {"LeadingBlanksStay", T::character, 0, utf16 (" A  "), " A", ""},
    Decode_Case {"BlanksOnly", T::character, 0, utf16 ("   "), "", ""},
    Decode_Case {"Umlaut", T::character, 0, "M\0\xFC\0"s, "M\xC3\xBC", ""},
    Decode_Case {"ThreeByteUtf8", T::character, 0, "\xAC\x20"s, "\xE2\x82\xAC", ""},
    Decode_Case {"SurrogatePair", T::character, 0, "\x3D\xD8\x00\xDE"s, "\xF0\x9F\x98\x80", ""},
    Decode_Case {"LowSurrogateAlone", T::character, 0, "\x00\xDE" "A\0"s, "", "low surrogate"},
    Decode_Case {"HighSurrogateAlone", T::character, 0, "\x3D\xD8" "A\0"s, "", "high surrogate"},
    Decode_Case {"HighSurrogateAtTheEnd", T::character, 0, "A\0\x3D\xD8"s, "", "high surrogate"},
    Decode_Case {"NumericKeepsItsZeros", T::numeric, 0, utf16 ("000120"), "000120", ""},
    Decode_Case {"NumericKeepsTrailingBlanks", T::numeric, 0, utf16 ("12 "), "12 ", ""},
    Decode_Case {"Date", T::date, 0, utf16 ("20240131"), "20240131", ""},
    Decode_Case {"InitialDate", T::date, 0, utf16 ("00000000"), "00000000", ""},
    Decode_Case {"Time", T::time, 0, utf16 ("235959"), "235959", ""}),
  [] (const auto &test) { return std::string (test.param.name); });

INSTANTIATE_TEST_SUITE_P (
  Numbers, Value_Decoder,
  testing::Values (
    Decode_Case {"Int4", T::int4, 0, "\xD6\xFF\xFF\xFF"s, "-42", ""},
    Decode_Case {"Int4Smallest", T::int4, 0, "\x00\x00\x00\x80"s, "-2147483648", ""},
    Decode_Case {"Int4Largest", T::int4, 0, "\xFF\xFF\xFF\x7F"s, "2147483647", ""},
    Decode_Case {"Int2", T::int2, 0, "\xFF\xFF"s, "-1", ""},
    Decode_Case {"Int1IsUnsigned", T::int1, 0, "\xFF"s, "255", ""},
    Decode_Case {"Int8", T::int8, 0, "\x00\x00\x00\x00\x00\x00\x00\x80"s, "-9223372036854775808", ""},
    Decode_Case {"Int8Count", T::int8, 0, "\x10\x27\x00\x00\x00\x00\x00\x00"s, "10000", ""},
    Decode_Case {"FloatShortest", T::float8, 0, "\x9A\x99\x99\x99\x99\x99\xB9\x3F"s, "0.1", ""},
    Decode_Case {"FloatWhole", T::float8, 0, "\x00\x00\x00\x00\x00\xC0\x5E\x40"s, "123", ""},
    Decode_Case {"FloatLarge", T::float8, 0, "\x40\x8C\xB5\x78\x1D\xAF\x15\x44"s, "1e+20", ""},
    Decode_Case {"FloatNegativeZero", T::float8, 0, "\x00\x00\x00\x00\x00\x00\x00\x80"s, "-0", ""},
    Decode_Case {"FloatInfinity", T::float8, 0, "\x00\x00\x00\x00\x00\x00\xF0\x7F"s, "inf", ""},
    Decode_Case {"FloatNan", T::float8, 0, "\x00\x00\x00\x00\x00\x00\xF8\x7F"s, "nan", ""},
    Decode_Case {"Raw", T::raw, 0, "\x00\xFF\x1A"s, "00ff1a", ""},
    Decode_Case {"IntegerOfWrongSize", T::int4, 0, "\x01\x02\x03"s, "", "needs 4 bytes"}),
  [] (const auto &test) { return std::string (test.param.name); });

INSTANTIATE_TEST_SUITE_P (
  Packed, Value_Decoder,
  testing::Values (
    Decode_Case {"WithDecimals", T::packed, 2, "\x00\x01\x23\x4C"s, "12.34", ""},
    Decode_Case {"Negative", T::packed, 2, "\x00\x01\x23\x4D"s, "-12.34", ""},
    Decode_Case {"NegativeWithB", T::packed, 0, "\x01\x2B"s, "-12", ""},
    Decode_Case {"UnsignedF", T::packed, 0, "\x01\x2F"s, "12", ""},
    Decode_Case {"Whole", T::packed, 0, "\x00\x01\x23\x4C"s, "1234", ""},
    Decode_Case {"Fraction", T::packed, 2, "\x00\x00\x5C"s, "0.05", ""},
    Decode_Case {"AllDigitsDecimals", T::packed, 3, "\x12\x3D"s, "-0.123", ""},
    Decode_Case {"LargestOfSixteenBytes", T::packed, 0,
                 "\x99\x99\x99\x99\x99\x99\x99\x99\x99\x99\x99\x99\x99\x99\x99\x9C"s,
                 "9999999999999999999999999999999", ""},
    Decode_Case {"NegativeZeroHasNoSign", T::packed, 2, "\x00\x0D"s, "0.00", ""},
    Decode_Case {"ZeroBytesAreZero", T::packed, 2, "\x00\x00\x00"s, "0.00", ""},
    Decode_Case {"DigitNibbleA", T::packed, 0, "\x1A\x2C"s, "", "nibble 0x0a at digit 2"},
    Decode_Case {"DigitNibbleF", T::packed, 0, "\xF1\x2C"s, "", "nibble 0x0f at digit 1"},
    Decode_Case {"SignNibbleIsADigit", T::packed, 0, "\x12\x35"s, "", "no sign nibble"},
    Decode_Case {"MoreDecimalsThanDigits", T::packed, 4, "\x12\x3C"s, "", "4 decimals but only 3 digits"}),
  [] (const auto &test) { return std::string (test.param.name); });

TEST (Value_Decoder_Bounds, RefusesAColumnOutsideTheRow)
{
  Vok_Column column;
  column.name = "V";
  column.type = Vok_Column_Type::raw;
  column.bytes = 4;
  column.offset = 2;
  std::string text;
  const Vok_Status status = vok_decode_value (column, "\x01\x02\x03\x04\x05"s, text);
  EXPECT_EQ (status.result (), Vok_Result::bad_record);
  EXPECT_NE (status.message ().find ("lies outside the row of 5 bytes"), std::string::npos) << status.message ();
}

TEST (Value_Decoder_Bounds, RefusesUtf16OfAnOddLength)
{
  std::string text;
  EXPECT_EQ (vok_append_utf16le ("A\0B"s, text).result (), Vok_Result::bad_record);
}
}
