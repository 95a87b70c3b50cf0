#ifndef VOK_DECIMAL_H
#define VOK_DECIMAL_H

#include <string_view>
#include <type_traits>

// Reads a decimal number of digits only (no sign, no blanks) that is at
// most `limit`; false, with `value` unspecified, for anything else. The
// numbers of the server's text lines (sizes, offsets, counts) are read so.
template <typename Number>
bool vok_parse_decimal (std::string_view text, std::type_identity_t<Number> limit, Number &value)
{
  if (text.empty ())
    return false;
  value = 0;
  for (char c : text)
    {
      if (c < '0' || c > '9')
        return false;
      value = value * 10 + static_cast<Number> (c - '0');
      if (value > limit)
        return false;
    }
  return true;
}

#endif
