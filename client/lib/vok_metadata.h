#ifndef VOK_METADATA_H
#define VOK_METADATA_H

#include "vok_status.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// How a column's value is encoded in a record (all numbers little-endian).
enum class Vok_Column_Type : char
{
  character = 'C',  // UTF-16LE text padded with blanks, 2 bytes per character
  numeric = 'N',    // UTF-16LE digits, zero-filled on the left
  date = 'D',       // UTF-16LE YYYYMMDD, 16 bytes
  time = 'T',       // UTF-16LE HHMMSS, 12 bytes
  int4 = 'I',       // 4-byte signed integer
  int2 = 's',       // 2-byte signed integer
  int1 = 'b',       // 1-byte unsigned integer
  int8 = '8',       // 8-byte signed integer
  float8 = 'F',     // 8-byte IEEE-754 double
  packed = 'P',     // packed decimal: 2 x bytes - 1 digits and a sign nibble
  raw = 'X'         // bytes as they are
};

// The type of a type letter of a metadata line; false for an unknown letter.
bool vok_column_type (char letter, Vok_Column_Type &type);

// One column of a record.
struct Vok_Column
{
  // Packed numbers of more bytes have more digits than any dictionary type.
  static constexpr std::size_t max_packed_bytes = 16;

  std::string name;  // alias, field name or "SUM(PRICE)"; as the server sent it (UTF-8)
  Vok_Column_Type type = Vok_Column_Type::character;
  std::size_t bytes = 0;
  unsigned decimals = 0;  // implied decimal places; used for packed columns only
  std::size_t offset = 0;  // first byte of the column in the record
  std::string description;  // dictionary text, may be empty or cut

  // Whether the byte count fits the type: C and N an even number above 0,
  // D 16, T 12, I 4, s 2, b 1, 8 and F 8, P 1 to 16 with at most
  // 2 x bytes - 1 decimals, X at least 1. Fails with bad_record.
  Vok_Status check () const;
};

// The layout of the records of one select: the row width and the columns in
// record order.
struct Vok_Layout
{
  // Bytes of a row, without the flag byte.
  std::size_t row_bytes = 0;
  std::vector<Vok_Column> columns;

  // Checks that a record of this layout can be decoded: a row width of 1 to
  // Vok_Metadata_Parser::max_row_bytes, at least one column, every column
  // passing Vok_Column::check, offsets rising without overlaps, every column
  // inside the row. Gaps between columns (alignment) are allowed. Fails with
  // bad_record and a message naming the column.
  Vok_Status check () const;
};

// Reads the metadata lines that describe a select's records:
//
//   R,<row bytes>,<column count>
//   F,<column name>,<type>,<bytes>,<decimals>,<offset>,<description>   (one per column)
//
// The R line comes first and once; then exactly <column count> F lines in
// record order. The description is the last field: the server replaces
// commas in it by blanks and may cut it, and its trailing blanks may be gone.
// A column name with a comma is read whole, since the fields after it are
// counted from the end of the line.
//
//   Vok_Metadata_Parser parser;
//   for (const std::string &line : lines)
//     if (Vok_Metadata_Parser::is_metadata_line (line))
//       if (Vok_Status s = parser.add_line (line); !s.ok ()) return s;
//   Vok_Layout layout;
//   Vok_Status s = parser.finish (layout);
//
// Every refusal is bad_record with a message that names the line.
class Vok_Metadata_Parser
{
public:
  // The largest row width accepted.
  static constexpr std::size_t max_row_bytes = 64 * 1024 * 1024;

  // Whether a line of the request connection is a metadata line.
  static bool is_metadata_line (std::string_view line);

  // Takes one line: the R line first, then the F lines. A line out of order,
  // a second R line, an F line beyond the announced count, a field that is
  // not a number or a column that does not fit the ones before it fail;
  // the parser then refuses every further line.
  Vok_Status add_line (std::string_view line);

  // Whether the R line and all its F lines have come.
  bool complete () const;

  // The layout when complete (and checked as Vok_Layout::check does);
  // otherwise fails, saying how many lines are missing.
  Vok_Status finish (Vok_Layout &layout) const;

  // All metadata lines of a reply at once.
  static Vok_Status parse (const std::vector<std::string> &lines, Vok_Layout &layout);

private:
  Vok_Status add_row_line (std::string_view line);
  Vok_Status add_field_line (std::string_view line);
  Vok_Status refuse (std::string message);

  bool have_row_line_ = false;
  std::size_t column_count_ = 0;
  Vok_Layout layout_;
  Vok_Status failure_;
};

#endif
