// Turning text into the bytes of a value, type by type and at the limits of
// each type, and reading it back with the decoder: what the encoder takes,
// the decoder gives back (in its own spelling).
#include "vok_value_decoder.h"
#include "vok_value_encoder.h"

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

struct Encode_Case
{
  const char *name;
  Vok_Column_Type type;
  std::size_t bytes;
  unsigned decimals;
  std::string text;
  std::string encoded;  // the bytes, when it encodes
  std::string decoded;  // what the decoder makes of them
  std::string failure;  // part of the message, when it does not encode
  friend void PrintTo (const Encode_Case &c, std::ostream *os) { *os << c.name; }
};

Encode_Case ok (const char *name, Vok_Column_Type type, std::size_t bytes, unsigned decimals, std::string text,
                std::string encoded, std::string decoded)
{
  return {name, type, bytes, decimals, std::move (text), std::move (encoded), std::move (decoded), ""};
}

Encode_Case refused (const char *name, Vok_Column_Type type, std::size_t bytes, unsigned decimals, std::string text,
                     std::string failure)
{
  return {name, type, bytes, decimals, std::move (text), "", "", std::move (failure)};
}

class Value_Encoder : public testing::TestWithParam<Encode_Case> {};

TEST_P (Value_Encoder, EncodesAndDecodesBack)
{
  const Encode_Case &c = GetParam ();
  Vok_Column column;
  column.name = "AIRLINE";
  column.type = c.type;
  column.bytes = c.bytes;
  column.decimals = c.decimals;
  std::string bytes = "left over";
  const Vok_Status status = vok_encode_value (column, c.text, bytes);
  if (!c.failure.empty ())
    {
      ASSERT_EQ (status.result (), Vok_Result::invalid_argument);
      EXPECT_EQ (status.message ().find ("AIRLINE: "), 0u) << status.message ();
      EXPECT_NE (status.message ().find (c.failure), std::string::npos) << status.message ();
      EXPECT_EQ (bytes, "");
      return;
    }
  ASSERT_TRUE (status.ok ()) << status.message ();
  EXPECT_EQ (bytes, c.encoded);
  std::string text;
  const Vok_Status decoded = vok_decode_value (column, bytes, text);
  ASSERT_TRUE (decoded.ok ()) << decoded.message ();
  EXPECT_EQ (text, c.decoded);
}

using T = Vok_Column_Type;

INSTANTIATE_TEST_SUITE_P (
  Characters, Value_Encoder,
  testing::Values (
    ok ("PaddedWithBlanks", T::character, 8, 0, "LH", utf16 ("LH  "), "LH"),
    ok ("FillsTheField", T::character, 6, 0, "ABC", utf16 ("ABC"), "ABC"),
    ok ("LeadingBlanksStay", T::character, 6, 0, " A", utf16 (" A "), " A"),
    ok ("EmptyIsBlanks", T::character, 4, 0, "", utf16 ("  "), ""),
    ok ("Umlaut", T::character, 4, 0, "M\xC3\xBC", "M\0\xFC\0"s, "M\xC3\xBC"),
    ok ("SurrogatePairTakesTwoUnits", T::character, 4, 0, "\xF0\x9F\x98\x80", "\x3D\xD8\x00\xDE"s,
        "\xF0\x9F\x98\x80"),
    refused ("TooLong", T::character, 4, 0, "ABC", "takes 3 UTF-16 characters; the field holds 2"),
    refused ("SurrogatePairBeyondTheField", T::character, 2, 0, "\xF0\x9F\x98\x80",
             "takes 2 UTF-16 characters; the field holds 1"),
    refused ("CutUtf8", T::character, 4, 0, "A\xC3", "not UTF-8 at byte 1"),
    refused ("OverlongUtf8", T::character, 4, 0, "\xC0\xAF", "not UTF-8 at byte 0"),
    refused ("EncodedSurrogate", T::character, 4, 0, "\xED\xA0\x80", "not UTF-8 at byte 0"),
    ok ("NumericZeroFilled", T::numeric, 8, 0, "120", utf16 ("0120"), "0120"),
    ok ("NumericEmptyIsZeros", T::numeric, 6, 0, "", utf16 ("000"), "000"),
    refused ("NumericTooManyDigits", T::numeric, 4, 0, "123", "has 3 digits; the field holds 2"),
    refused ("NumericSign", T::numeric, 4, 0, "-1", "is not made of the digits 0 to 9"),
    refused ("NumericBlank", T::numeric, 4, 0, "1 ", "is not made of the digits 0 to 9")),
  [] (const auto &test) { return std::string (test.param.name); });

INSTANTIATE_TEST_SUITE_P (
  DatesAndTimes, Value_Encoder,
  testing::Values (
    ok ("Date", T::date, 16, 0, "20240131", utf16 ("20240131"), "20240131"),
    ok ("IsoDate", T::date, 16, 0, "2024-01-31", utf16 ("20240131"), "20240131"),
    ok ("LeapDay", T::date, 16, 0, "20240229", utf16 ("20240229"), "20240229"),
    ok ("LeapDayOfA400thYear", T::date, 16, 0, "20000229", utf16 ("20000229"), "20000229"),
    ok ("InitialDate", T::date, 16, 0, "00000000", utf16 ("00000000"), "00000000"),
    ok ("EmptyDate", T::date, 16, 0, "", utf16 ("00000000"), "00000000"),
    ok ("LastDate", T::date, 16, 0, "99991231", utf16 ("99991231"), "99991231"),
    refused ("NoLeapDay", T::date, 16, 0, "20230229", "is no day of the calendar"),
    refused ("NoLeapDayOfACentury", T::date, 16, 0, "19000229", "is no day of the calendar"),
    refused ("Month13", T::date, 16, 0, "20241301", "is no day of the calendar"),
    refused ("DayZero", T::date, 16, 0, "20240100", "is no day of the calendar"),
    refused ("April31", T::date, 16, 0, "20240431", "is no day of the calendar"),
    refused ("SevenDigits", T::date, 16, 0, "2024013", "is not a date YYYYMMDD or YYYY-MM-DD"),
    refused ("OtherSeparators", T::date, 16, 0, "2024/01/31", "is not a date"),
    ok ("Time", T::time, 12, 0, "235959", utf16 ("235959"), "235959"),
    ok ("TimeWithColons", T::time, 12, 0, "07:05:00", utf16 ("070500"), "070500"),
    ok ("EmptyTime", T::time, 12, 0, "", utf16 ("000000"), "000000"),
    refused ("Hour24", T::time, 12, 0, "240000", "is no time of the day"),
    refused ("Minute60", T::time, 12, 0, "126000", "is no time of the day"),
    refused ("TimeLetters", T::time, 12, 0, "12ab00", "is not a time HHMMSS or HH:MM:SS")),
  [] (const auto &test) { return std::string (test.param.name); });

INSTANTIATE_TEST_SUITE_P (
  Integers, Value_Encoder,
  testing::Values (
    ok ("Int4", T::int4, 4, 0, "-42", "\xD6\xFF\xFF\xFF"s, "-42"),
    ok ("Int4Smallest", T::int4, 4, 0, "-2147483648", "\x00\x00\x00\x80"s, "-2147483648"),
    ok ("Int4Largest", T::int4, 4, 0, "2147483647", "\xFF\xFF\xFF\x7F"s, "2147483647"),
    ok ("Int4WithPlus", T::int4, 4, 0, "+7", "\x07\x00\x00\x00"s, "7"),
    ok ("Int4Empty", T::int4, 4, 0, "", "\x00\x00\x00\x00"s, "0"),
    refused ("Int4BeyondLargest", T::int4, 4, 0, "2147483648", "out of the range -2147483648 to 2147483647"),
    refused ("Int4BelowSmallest", T::int4, 4, 0, "-2147483649", "out of the range"),
    refused ("Int4Fraction", T::int4, 4, 0, "1.5", "is not a whole number"),
    refused ("Int4LeadingBlank", T::int4, 4, 0, " 1", "is not a whole number"),
    refused ("Int4TwoSigns", T::int4, 4, 0, "+-1", "is not a whole number"),
    ok ("Int2Smallest", T::int2, 2, 0, "-32768", "\x00\x80"s, "-32768"),
    refused ("Int2BeyondLargest", T::int2, 2, 0, "32768", "out of the range -32768 to 32767"),
    ok ("Int1Largest", T::int1, 1, 0, "255", "\xFF"s, "255"),
    refused ("Int1BeyondLargest", T::int1, 1, 0, "256", "out of the range 0 to 255"),
    refused ("Int1Negative", T::int1, 1, 0, "-1", "out of the range 0 to 255"),
    ok ("Int8Smallest", T::int8, 8, 0, "-9223372036854775808", "\x00\x00\x00\x00\x00\x00\x00\x80"s,
        "-9223372036854775808")),
  [] (const auto &test) { return std::string (test.param.name); });

INSTANTIATE_TEST_SUITE_P (
  Floats, Value_Encoder,
  testing::Values (
    ok ("Tenth", T::float8, 8, 0, "0.1", "\x9A\x99\x99\x99\x99\x99\xB9\x3F"s, "0.1"),
    ok ("Exponent", T::float8, 8, 0, "1e+20", "\x40\x8C\xB5\x78\x1D\xAF\x15\x44"s, "1e+20"),
    ok ("WithPlus", T::float8, 8, 0, "+123", "\x00\x00\x00\x00\x00\xC0\x5E\x40"s, "123"),
    ok ("NegativeZero", T::float8, 8, 0, "-0", "\x00\x00\x00\x00\x00\x00\x00\x80"s, "-0"),
    ok ("Infinity", T::float8, 8, 0, "-inf", "\x00\x00\x00\x00\x00\x00\xF0\xFF"s, "-inf"),
    ok ("NotANumber", T::float8, 8, 0, "nan", "\x00\x00\x00\x00\x00\x00\xF8\x7F"s, "nan"),
    refused ("BeyondDouble", T::float8, 8, 0, "1e400", "beyond the range of a double"),
    refused ("Words", T::float8, 8, 0, "one", "is not a number"),
    refused ("DecimalComma", T::float8, 8, 0, "1,5", "is not a number")),
  [] (const auto &test) { return std::string (test.param.name); });

INSTANTIATE_TEST_SUITE_P (
  Packed, Value_Encoder,
  testing::Values (
    ok ("WithDecimals", T::packed, 4, 2, "12.34", "\x00\x01\x23\x4C"s, "12.34"),
    ok ("Negative", T::packed, 4, 2, "-12.34", "\x00\x01\x23\x4D"s, "-12.34"),
    ok ("FewerDecimals", T::packed, 4, 2, "7", "\x00\x00\x70\x0C"s, "7.00"),
    ok ("OnlyAFraction", T::packed, 2, 1, ".5", "\x00\x5C"s, "0.5"),
    ok ("LeadingZerosGo", T::packed, 2, 1, "+00012.5", "\x12\x5C"s, "12.5"),
    ok ("ZerosBeyondTheDecimalsGo", T::packed, 4, 2, "12.3400", "\x00\x01\x23\x4C"s, "12.34"),
    ok ("NegativeZeroIsPlus", T::packed, 2, 0, "-0", "\x00\x0C"s, "0"),
    ok ("EmptyIsPackedZero", T::packed, 3, 2, "", "\x00\x00\x0C"s, "0.00"),
    ok ("LargestOfSixteenBytes", T::packed, 16, 0, std::string (31, '9'),
        "\x99\x99\x99\x99\x99\x99\x99\x99\x99\x99\x99\x99\x99\x99\x99\x9C"s, std::string (31, '9')),
    ok ("AllDigitsDecimals", T::packed, 2, 3, "-0.123", "\x12\x3D"s, "-0.123"),
    refused ("TooManyDecimals", T::packed, 4, 2, "12.345", "has 3 decimals; the field has 2"),
    refused ("TooManyDigits", T::packed, 2, 0, "1000", "has 4 digits before the decimal point; the field holds 3"),
    refused ("IntegerDigitsLeftByDecimals", T::packed, 2, 1, "100", "the field holds 2"),
    refused ("BeyondSixteenBytes", T::packed, 16, 0, "1" + std::string (31, '0'), "has 32 digits"),
    refused ("Exponent", T::packed, 4, 0, "1e5", "is not a decimal number"),
    refused ("PointAlone", T::packed, 4, 0, ".", "is not a decimal number"),
    refused ("SignInside", T::packed, 4, 0, "1-2", "is not a decimal number")),
  [] (const auto &test) { return std::string (test.param.name); });

INSTANTIATE_TEST_SUITE_P (
  Raw, Value_Encoder,
  testing::Values (
    ok ("Hexadecimal", T::raw, 3, 0, "00ff1A", "\x00\xFF\x1A"s, "00ff1a"),
    ok ("ShortIsZeroFilled", T::raw, 3, 0, "0a", "\x0A\x00\x00"s, "0a0000"),
    refused ("OddDigits", T::raw, 3, 0, "abc", "odd number of hexadecimal digits"),
    refused ("NotHexadecimal", T::raw, 3, 0, "0z", "is not hexadecimal (at character 2)"),
    refused ("TooLong", T::raw, 3, 0, "00112233", "has 4 bytes; the field holds 3")),
  [] (const auto &test) { return std::string (test.param.name); });

TEST (Value_Encoder_Column, RefusesAColumnWhoseSizeDoesNotFitItsType)
{
  Vok_Column column;
  column.name = "DATE";
  column.type = Vok_Column_Type::date;
  column.bytes = 8;
  std::string bytes;
  const Vok_Status status = vok_encode_value (column, "20240131", bytes);
  EXPECT_EQ (status.result (), Vok_Result::invalid_argument);
  EXPECT_NE (status.message ().find ("needs 16 bytes"), std::string::npos) << status.message ();
  EXPECT_EQ (vok_initial_value (column), "");
}
}
