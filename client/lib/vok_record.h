#ifndef VOK_RECORD_H
#define VOK_RECORD_H

#include "vok_status.h"

#include <cstddef>
#include <string>
#include <string_view>

enum class Vok_Record_Kind
{
  row,    // a row of data: flag byte 0x00 (or 0x01)
  end,    // no more rows: zero bytes and 0xFF
  error   // the request failed, its reason comes on the request connection: zero bytes and 'X'
};

// One fixed-size record of a data connection: a row of the table's width
// followed by one flag byte.
class Vok_Record
{
public:
  static constexpr unsigned char end_flag = 0xFF;
  static constexpr unsigned char error_flag = 'X';

  // Takes a complete record (row and flag byte). Fails with bad_record, and
  // leaves the record as it was, when the flag byte is none of the four or
  // an end or error record carries anything but zero bytes.
  Vok_Status assign (std::string_view bytes);

  Vok_Record_Kind kind () const { return kind_; }
  // The row's bytes, without the flag byte.
  const std::string &row () const { return row_; }
  unsigned char flag () const { return flag_; }

private:
  Vok_Record_Kind kind_ = Vok_Record_Kind::row;
  std::string row_;
  unsigned char flag_ = 0;
};

#endif
