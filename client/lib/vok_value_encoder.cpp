#include "vok_value_encoder.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

namespace
{
// Values are quoted in messages up to this many bytes.
constexpr std::size_t shown_value_bytes = 40;

std::string quoted (std::string_view text)
{
  std::string shown = "\"";
  shown += text.substr (0, shown_value_bytes);
  if (text.size () > shown_value_bytes)
    shown += "...";
  return shown + "\"";
}

Vok_Status refuse (const Vok_Column &column, const std::string &problem)
{
  return {Vok_Result::invalid_argument, column.name + ": " + problem};
}

void append_utf16 (char16_t unit, std::string &bytes)
{
  bytes += static_cast<char> (unit & 0xFF);
  bytes += static_cast<char> (unit >> 8);
}

void append_ascii_utf16 (std::string_view text, std::string &bytes)
{
  for (char c : text)
    append_utf16 (static_cast<char16_t> (c), bytes);
}

void append_little_endian (std::uint64_t value, std::size_t count, std::string &bytes)
{
  for (std::size_t i = 0; i < count; ++i)
    bytes += static_cast<char> (value >> (8 * i) & 0xFF);
}

bool all_digits (std::string_view text)
{
  return text.find_first_not_of ("0123456789") == std::string_view::npos;
}

// The code points of well-formed UTF-8 as UTF-16LE; false at the first
// byte that does not belong (stray or missing continuation, overlong form,
// surrogate, beyond U+10FFFF), with `where` its offset.
bool utf8_to_utf16le (std::string_view text, std::string &bytes, std::size_t &where)
{
  for (std::size_t i = 0; i < text.size ();)
    {
      where = i;
      const auto lead = static_cast<unsigned char> (text[i]);
      std::size_t length;
      char32_t code;
      if (lead < 0x80)
        length = 1, code = lead;
      else if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, code = lead & 0x1F;
      else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, code = lead & 0x0F;
      else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, code = lead & 0x07;
      else
        return false;
      if (text.size () - i < length)
        return false;
      for (std::size_t k = 1; k < length; ++k)
        {
          const auto next = static_cast<unsigned char> (text[i + k]);
          if ((next & 0xC0) != 0x80)
            return false;
          code = code << 6 | (next & 0x3F);
        }
      static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
      if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return false;
      if (code < 0x10000)
        append_utf16 (static_cast<char16_t> (code), bytes);
      else
        {
          append_utf16 (static_cast<char16_t> (0xD800 + ((code - 0x10000) >> 10)), bytes);
          append_utf16 (static_cast<char16_t> (0xDC00 + ((code - 0x10000) & 0x3FF)), bytes);
        }
      i += length;
    }
  return true;
}

Vok_Status encode_character (const Vok_Column &column, std::string_view text, std::string &bytes)
{
  std::size_t where = 0;
  if (!utf8_to_utf16le (text, bytes, where))
    return refuse (column, "the value is not UTF-8 at byte " + std::to_string (where));
  if (bytes.size () > column.bytes)
    return refuse (column, "the value " + quoted (text) + " takes " + std::to_string (bytes.size () / 2)
                             + " UTF-16 characters; the field holds " + std::to_string (column.bytes / 2));
  while (bytes.size () < column.bytes)
    append_utf16 (u' ', bytes);
  return {};
}

Vok_Status encode_numeric (const Vok_Column &column, std::string_view text, std::string &bytes)
{
  const std::size_t characters = column.bytes / 2;
  if (!all_digits (text))
    return refuse (column, "the value " + quoted (text) + " is not made of the digits 0 to 9");
  if (text.size () > characters)
    return refuse (column, "the value " + quoted (text) + " has " + std::to_string (text.size ())
                             + " digits; the field holds " + std::to_string (characters));
  append_ascii_utf16 (std::string (characters - text.size (), '0'), bytes);
  append_ascii_utf16 (text, bytes);
  return {};
}

bool leap_year (unsigned year)
{
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned two_digits (std::string_view text, std::size_t at)
{
  return static_cast<unsigned> ((text[at] - '0') * 10 + (text[at + 1] - '0'));
}

// "YYYY-MM-DD" and "HH:MM:SS" lose their separators.
std::string without_separators (std::string_view text, char separator, std::size_t first, std::size_t second)
{
  if (text.size () == second + 3 && text[first] == separator && text[second] == separator)
    {
      std::string plain (text);
      plain.erase (second, 1);
      plain.erase (first, 1);
      return plain;
    }
  return std::string (text);
}

Vok_Status encode_date (const Vok_Column &column, std::string_view text, std::string &bytes)
{
  const std::string date = without_separators (text, '-', 4, 7);
  if (date.size () != 8 || !all_digits (date))
    return refuse (column, "the value " + quoted (text) + " is not a date YYYYMMDD or YYYY-MM-DD");
  if (date != "00000000")
    {
      static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      const unsigned year = two_digits (date, 0) * 100 + two_digits (date, 2);
      const unsigned month = two_digits (date, 4);
      const unsigned day = two_digits (date, 6);
      if (month < 1 || month > 12 || day < 1
          || day > days[month - 1] + (month == 2 && leap_year (year) ? 1 : 0))
        return refuse (column, "the value " + quoted (text) + " is no day of the calendar");
    }
  append_ascii_utf16 (date, bytes);
  return {};
}

Vok_Status encode_time (const Vok_Column &column, std::string_view text, std::string &bytes)
{
  const std::string time = without_separators (text, ':', 2, 5);
  if (time.size () != 6 || !all_digits (time))
    return refuse (column, "the value " + quoted (text) + " is not a time HHMMSS or HH:MM:SS");
  if (two_digits (time, 0) > 23 || two_digits (time, 2) > 59 || two_digits (time, 4) > 59)
    return refuse (column, "the value " + quoted (text) + " is no time of the day (000000 to 235959)");
  append_ascii_utf16 (time, bytes);
  return {};
}

// A leading "+" is taken; std::from_chars does not know it.
std::string_view without_plus (std::string_view text)
{
  if (text.size () > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+')
    text.remove_prefix (1);
  return text;
}

template <typename Integer>
Vok_Status encode_integer (const Vok_Column &column, std::string_view text, std::string &bytes)
{
  const std::string_view digits = without_plus (text);
  Integer value {};
  std::from_chars_result result = std::from_chars (digits.data (), digits.data () + digits.size (), value);
  // A negative number is out of the range of an unsigned type, not malformed.
  if (std::is_unsigned_v<Integer> && digits.size () > 1 && digits[0] == '-' && all_digits (digits.substr (1)))
    result.ec = std::errc::result_out_of_range;
  if (result.ec == std::errc::result_out_of_range)
    return refuse (column, "the value " + quoted (text) + " is out of the range "
                             + std::to_string (std::numeric_limits<Integer>::min ()) + " to "
                             + std::to_string (std::numeric_limits<Integer>::max ()));
  if (result.ec != std::errc () || result.ptr != digits.data () + digits.size ())
    return refuse (column, "the value " + quoted (text) + " is not a whole number");
  append_little_endian (static_cast<std::make_unsigned_t<Integer>> (value), sizeof (Integer), bytes);
  return {};
}

Vok_Status encode_float (const Vok_Column &column, std::string_view text, std::string &bytes)
{
  const std::string_view number = without_plus (text);
  double value = 0;
  const std::from_chars_result result = std::from_chars (number.data (), number.data () + number.size (), value);
  if (result.ec == std::errc::result_out_of_range)
    return refuse (column, "the value " + quoted (text) + " is beyond the range of a double");
  if (result.ec != std::errc () || result.ptr != number.data () + number.size ())
    return refuse (column, "the value " + quoted (text) + " is not a number");
  std::uint64_t bits;
  static_assert (sizeof bits == sizeof value);
  std::memcpy (&bits, &value, sizeof bits);
  append_little_endian (bits, 8, bytes);
  return {};
}

Vok_Status encode_packed (const Vok_Column &column, std::string_view text, std::string &bytes)
{
  const std::size_t count = 2 * column.bytes - 1;
  const std::size_t decimals = column.decimals;
  std::string_view rest = text;
  const bool negative = !rest.empty () && rest[0] == '-';
  if (!rest.empty () && (rest[0] == '-' || rest[0] == '+'))
    rest.remove_prefix (1);
  const std::size_t point = rest.find ('.');
  std::string_view integer = rest.substr (0, point);
  std::string_view fraction = point == std::string_view::npos ? std::string_view () : rest.substr (point + 1);
  if ((integer.empty () && fraction.empty ()) || !all_digits (integer) || !all_digits (fraction))
    return refuse (column, "the value " + quoted (text) + " is not a decimal number [-]digits[.digits]");
  // Zeros beyond the decimals change nothing; other digits there would be lost.
  while (fraction.size () > decimals && fraction.back () == '0')
    fraction.remove_suffix (1);
  if (fraction.size () > decimals)
    return refuse (column, "the value " + quoted (text) + " has " + std::to_string (fraction.size ())
                             + " decimals; the field has " + std::to_string (decimals));
  integer.remove_prefix (std::min (integer.find_first_not_of ('0'), integer.size ()));
  if (integer.size () > count - decimals)
    return refuse (column, "the value " + quoted (text) + " has " + std::to_string (integer.size ())
                             + " digits before the decimal point; the field holds "
                             + std::to_string (count - decimals));

  std::string digits (count - decimals - integer.size (), '0');
  digits.append (integer).append (fraction).append (decimals - fraction.size (), '0');
  const bool zero = digits.find_first_not_of ('0') == std::string::npos;
  // A nibble per digit, the sign nibble last: zero carries the plus sign.
  digits += negative && !zero ? char ('0' + 0xD) : char ('0' + 0xC);
  for (std::size_t i = 0; i < digits.size (); i += 2)
    bytes += static_cast<char> ((digits[i] - '0') << 4 | (digits[i + 1] - '0'));
  return {};
}

int hex_value (char c)
{
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

Vok_Status encode_raw (const Vok_Column &column, std::string_view text, std::string &bytes)
{
  if (text.size () % 2 != 0)
    return refuse (column, "the value " + quoted (text) + " has an odd number of hexadecimal digits");
  if (text.size () / 2 > column.bytes)
    return refuse (column, "the value " + quoted (text) + " has " + std::to_string (text.size () / 2)
                             + " bytes; the field holds " + std::to_string (column.bytes));
  for (std::size_t i = 0; i < text.size (); i += 2)
    {
      const int high = hex_value (text[i]);
      const int low = hex_value (text[i + 1]);
      if (high < 0 || low < 0)
        return refuse (column, "the value " + quoted (text) + " is not hexadecimal (at character "
                                 + std::to_string (high < 0 ? i + 1 : i + 2) + ")");
      bytes += static_cast<char> (high << 4 | low);
    }
  bytes.append (column.bytes - bytes.size (), '\0');
  return {};
}
}

std::string vok_initial_value (const Vok_Column &column)
{
  if (!column.check ().ok ())
    return {};
  std::string bytes;
  switch (column.type)
    {
    case Vok_Column_Type::character:
      append_ascii_utf16 (std::string (column.bytes / 2, ' '), bytes);
      break;
    case Vok_Column_Type::numeric:
    case Vok_Column_Type::date:
    case Vok_Column_Type::time:
      append_ascii_utf16 (std::string (column.bytes / 2, '0'), bytes);
      break;
    case Vok_Column_Type::packed:
      bytes.assign (column.bytes - 1, '\0');
      bytes += '\x0C';
      break;
    default:
      bytes.assign (column.bytes, '\0');
      break;
    }
  return bytes;
}

Vok_Status vok_encode_value (const Vok_Column &column, std::string_view text, std::string &bytes)
{
  bytes.clear ();
  if (Vok_Status status = column.check (); !status.ok ())
    return {Vok_Result::invalid_argument, status.message ()};
  if (text.empty ())
    {
      bytes = vok_initial_value (column);
      return {};
    }
  Vok_Status status;
  switch (column.type)
    {
    case Vok_Column_Type::character: status = encode_character (column, text, bytes); break;
    case Vok_Column_Type::numeric: status = encode_numeric (column, text, bytes); break;
    case Vok_Column_Type::date: status = encode_date (column, text, bytes); break;
    case Vok_Column_Type::time: status = encode_time (column, text, bytes); break;
    case Vok_Column_Type::int4: status = encode_integer<std::int32_t> (column, text, bytes); break;
    case Vok_Column_Type::int2: status = encode_integer<std::int16_t> (column, text, bytes); break;
    case Vok_Column_Type::int1: status = encode_integer<std::uint8_t> (column, text, bytes); break;
    case Vok_Column_Type::int8: status = encode_integer<std::int64_t> (column, text, bytes); break;
    case Vok_Column_Type::float8: status = encode_float (column, text, bytes); break;
    case Vok_Column_Type::packed: status = encode_packed (column, text, bytes); break;
    case Vok_Column_Type::raw: status = encode_raw (column, text, bytes); break;
    }
  if (!status.ok ())
    bytes.clear ();
  return status;
}
