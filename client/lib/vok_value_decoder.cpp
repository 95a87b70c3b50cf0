#include "vok_value_decoder.h"

#include <charconv>
#include <cstdint>
#include <cstring>

namespace
{
unsigned char byte_at (std::string_view bytes, std::size_t i)
{
  return static_cast<unsigned char> (bytes[i]);
}

// Little-endian unsigned value of `bytes` (at most 8).
std::uint64_t little_endian (std::string_view bytes)
{
  std::uint64_t value = 0;
  for (std::size_t i = bytes.size (); i-- > 0;)
    value = value << 8 | byte_at (bytes, i);
  return value;
}

void append_code_point (char32_t code, std::string &text)
{
  if (code < 0x80)
    text += static_cast<char> (code);
  else if (code < 0x800)
    {
      text += static_cast<char> (0xC0 | code >> 6);
      text += static_cast<char> (0x80 | (code & 0x3F));
    }
  else if (code < 0x10000)
    {
      text += static_cast<char> (0xE0 | code >> 12);
      text += static_cast<char> (0x80 | (code >> 6 & 0x3F));
      text += static_cast<char> (0x80 | (code & 0x3F));
    }
  else
    {
      text += static_cast<char> (0xF0 | code >> 18);
      text += static_cast<char> (0x80 | (code >> 12 & 0x3F));
      text += static_cast<char> (0x80 | (code >> 6 & 0x3F));
      text += static_cast<char> (0x80 | (code & 0x3F));
    }
}

template <typename Number>
void append_number (Number value, std::string &text)
{
  char digits[32];
  const std::to_chars_result result = std::to_chars (digits, digits + sizeof digits, value);
  text.append (digits, result.ptr);
}

std::string hex_byte (unsigned char byte)
{
  static const char digits[] = "0123456789abcdef";
  return std::string ("0x") + digits[byte >> 4] + digits[byte & 0xF];
}

Vok_Status append_packed (const Vok_Column &column, std::string_view bytes, std::string &text)
{
  const auto where = [&column] { return "column " + column.name; };
  const std::size_t count = 2 * bytes.size () - 1;
  if (bytes.find_first_not_of ('\0') == std::string_view::npos)
    {
      text += '0';
      if (column.decimals > 0)
        text.append (1, '.').append (column.decimals, '0');
      return {};
    }
  const unsigned char sign = byte_at (bytes, bytes.size () - 1) & 0x0F;
  bool negative;
  switch (sign)
    {
    case 0xA: case 0xC: case 0xE: case 0xF: negative = false; break;
    case 0xB: case 0xD: negative = true; break;
    default:
      return {Vok_Result::bad_record, where () + ": the packed number ends with " + hex_byte (sign)
                                        + ", which is no sign nibble (C plus, D minus)"};
    }
  char digits[2 * Vok_Column::max_packed_bytes];
  for (std::size_t i = 0; i < count; ++i)
    {
      const unsigned char nibble = i % 2 == 0 ? byte_at (bytes, i / 2) >> 4 : byte_at (bytes, i / 2) & 0x0F;
      if (nibble > 9)
        return {Vok_Result::bad_record, where () + ": the packed number holds the nibble " + hex_byte (nibble)
                                          + " at digit " + std::to_string (i + 1) + " (byte "
                                          + std::to_string (column.offset + i / 2) + " of the row)"};
      digits[i] = static_cast<char> ('0' + nibble);
    }
  const std::string_view all (digits, count);
  const std::string_view integer = all.substr (0, count - column.decimals);
  const std::string_view fraction = all.substr (count - column.decimals);
  if (negative && all.find_first_not_of ('0') != std::string_view::npos)
    text += '-';
  // Leading zeros go, but one integer digit stays: "0.05", not ".05".
  const std::size_t first = integer.find_first_not_of ('0');
  text += first == std::string_view::npos ? std::string_view ("0") : integer.substr (first);
  if (!fraction.empty ())
    text.append (1, '.').append (fraction);
  return {};
}

void append_hex (std::string_view bytes, std::string &text)
{
  static const char digits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < bytes.size (); ++i)
    {
      text += digits[byte_at (bytes, i) >> 4];
      text += digits[byte_at (bytes, i) & 0x0F];
    }
}
}

Vok_Status vok_append_utf16le (std::string_view bytes, std::string &text)
{
  if (bytes.size () % 2 != 0)
    return {Vok_Result::bad_record, "UTF-16 text of an odd number (" + std::to_string (bytes.size ()) + ") of bytes"};
  for (std::size_t i = 0; i < bytes.size (); i += 2)
    {
      const char32_t unit = byte_at (bytes, i) | byte_at (bytes, i + 1) << 8;
      if (unit >= 0xDC00 && unit <= 0xDFFF)
        return {Vok_Result::bad_record, "a UTF-16 low surrogate without its high surrogate at byte "
                                          + std::to_string (i)};
      if (unit < 0xD800 || unit > 0xDBFF)
        {
          append_code_point (unit, text);
          continue;
        }
      const char32_t low = i + 3 < bytes.size () ? byte_at (bytes, i + 2) | byte_at (bytes, i + 3) << 8 : 0;
      if (low < 0xDC00 || low > 0xDFFF)
        return {Vok_Result::bad_record, "a UTF-16 high surrogate without its low surrogate at byte "
                                          + std::to_string (i)};
      append_code_point (0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), text);
      i += 2;
    }
  return {};
}

bool vok_is_number_type (Vok_Column_Type type)
{
  switch (type)
    {
    case Vok_Column_Type::int4:
    case Vok_Column_Type::int2:
    case Vok_Column_Type::int1:
    case Vok_Column_Type::int8:
    case Vok_Column_Type::float8:
    case Vok_Column_Type::packed:
      return true;
    default:
      return false;
    }
}

Vok_Status vok_decode_value (const Vok_Column &column, std::string_view row, std::string &text)
{
  text.clear ();
  // Built only for a message: this runs once per value of every row.
  const auto where = [&column] { return "column " + column.name; };
  if (Vok_Status status = column.check (); !status.ok ())
    return status;
  if (column.offset > row.size () || column.bytes > row.size () - column.offset)
    return {Vok_Result::bad_record, where () + " at offset " + std::to_string (column.offset) + " with "
                                      + std::to_string (column.bytes) + " bytes lies outside the row of "
                                      + std::to_string (row.size ()) + " bytes"};
  const std::string_view bytes = row.substr (column.offset, column.bytes);
  Vok_Status status;
  switch (column.type)
    {
    case Vok_Column_Type::character:
      {
        // Blanks are the padding: trailing U+0020 units are not decoded.
        std::size_t end = bytes.size ();
        while (end >= 2 && bytes[end - 2] == ' ' && bytes[end - 1] == '\0')
          end -= 2;
        status = vok_append_utf16le (bytes.substr (0, end), text);
        break;
      }
    case Vok_Column_Type::numeric:
    case Vok_Column_Type::date:
    case Vok_Column_Type::time:
      status = vok_append_utf16le (bytes, text);
      break;
    case Vok_Column_Type::int4:
      append_number (static_cast<std::int32_t> (static_cast<std::uint32_t> (little_endian (bytes))), text);
      break;
    case Vok_Column_Type::int2:
      append_number (static_cast<std::int16_t> (static_cast<std::uint16_t> (little_endian (bytes))), text);
      break;
    case Vok_Column_Type::int1:
      append_number (static_cast<unsigned> (little_endian (bytes)), text);
      break;
    case Vok_Column_Type::int8:
      append_number (static_cast<std::int64_t> (little_endian (bytes)), text);
      break;
    case Vok_Column_Type::float8:
      {
        const std::uint64_t bits = little_endian (bytes);
        double value;
        static_assert (sizeof value == sizeof bits);
        std::memcpy (&value, &bits, sizeof value);
        append_number (value, text);
        break;
      }
    case Vok_Column_Type::packed:
      if (Vok_Status packed = append_packed (column, bytes, text); !packed.ok ())
        {
          text.clear ();
          return packed;
        }
      break;
    case Vok_Column_Type::raw:
      append_hex (bytes, text);
      break;
    }
  if (!status.ok ())
    {
      text.clear ();
      return {status.result (), where () + ": " + status.message ()};
    }
  return {};
}
