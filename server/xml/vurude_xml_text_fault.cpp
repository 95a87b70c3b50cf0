#include "vurude_xml_text_fault.h"

#include <cstdint>

namespace
{
// Bytes of the valid multi-byte UTF-8 sequence whose lead byte (0x80 or
// above) is at `at`, by Unicode's well-formed byte sequences: no overlong
// forms, no surrogates, nothing beyond U+10FFFF; 0 when there is none.
std::size_t sequence_length (std::string_view text, std::size_t at)
{
  const auto byte = [&] (std::size_t k) { return static_cast<std::uint8_t> (text[at + k]); };
  const std::uint8_t lead = byte (0);
  std::size_t length;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF)
    {
      length = 3;
      if (lead == 0xE0)
        low = 0xA0;
      else if (lead == 0xED)
        high = 0x9F;
    }
  else if (lead >= 0xF0 && lead <= 0xF4)
    {
      length = 4;
      if (lead == 0xF0)
        low = 0x90;
      else if (lead == 0xF4)
        high = 0x8F;
    }
  else
    return 0;
  if (text.size () - at < length)
    return 0;
  if (byte (1) < low || byte (1) > high)
    return 0;
  for (std::size_t k = 2; k < length; ++k)
    if (byte (k) < 0x80 || byte (k) > 0xBF)
      return 0;
  return length;
}

std::u16string hex_byte (std::uint8_t value)
{
  static constexpr char16_t digits[] = u"0123456789ABCDEF";
  return {digits[value >> 4], digits[value & 0x0F]};
}
}

Vurude_Xml_Text_Fault find_text_fault (std::string_view text)
{
  Vurude_Xml_Text_Fault fault;
  XMLFileLoc line = 1;
  XMLFileLoc column = 1;
  std::size_t at = 0;
  while (at < text.size ())
    {
      const auto byte = static_cast<std::uint8_t> (text[at]);
      if (byte == 0)
        {
          fault.message = u"invalid character 0x0";
          break;
        }
      if (byte == '\n' || byte == '\r')
        {
          at += byte == '\r' && at + 1 < text.size () && text[at + 1] == '\n' ? 2 : 1;
          ++line;
          column = 1;
        }
      else if (byte < 0x80)
        {
          ++at;
          ++column;
        }
      else if (const std::size_t length = sequence_length (text, at); length > 0)
        {
          at += length;
          column += length == 4 ? 2 : 1;
        }
      else
        {
          fault.message = u"invalid UTF-8 sequence starting with byte 0x" + hex_byte (byte);
          break;
        }
    }
  if (at < text.size ())
    {
      fault.offset = at;
      fault.line = line;
      fault.column = column;
    }
  return fault;
}
