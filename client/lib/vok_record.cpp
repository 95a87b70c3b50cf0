#include "vok_record.h"

#include <algorithm>
#include <cstdio>

namespace
{
std::string hex (unsigned char byte)
{
  char text[8];
  std::snprintf (text, sizeof text, "0x%02X", byte);
  return text;
}
}

Vok_Status Vok_Record::assign (std::string_view bytes)
{
  if (bytes.empty ())
    return {Vok_Result::bad_record, "a record holds at least its flag byte"};
  const auto flag = static_cast<unsigned char> (bytes.back ());
  const std::string_view row = bytes.substr (0, bytes.size () - 1);

  Vok_Record_Kind kind;
  switch (flag)
    {
    case 0x00:
    case 0x01:
      kind = Vok_Record_Kind::row;
      break;
    case end_flag:
      kind = Vok_Record_Kind::end;
      break;
    case error_flag:
      kind = Vok_Record_Kind::error;
      break;
    default:
      return {Vok_Result::bad_record, "a record of " + std::to_string (row.size ())
                                        + " bytes ends with the unknown flag byte " + hex (flag)};
    }
  if (kind != Vok_Record_Kind::row && std::any_of (row.begin (), row.end (), [] (char c) { return c != 0; }))
    return {Vok_Result::bad_record, "a record with flag byte " + hex (flag)
                                      + " must be zero bytes, but holds data"};
  kind_ = kind;
  row_.assign (row);
  flag_ = flag;
  return {};
}
