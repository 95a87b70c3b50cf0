#include "vok_metadata.h"

#include "vok_decimal.h"

#include <utility>

namespace
{
constexpr std::string_view row_prefix = "R,";
constexpr std::string_view field_prefix = "F,";
// Lines are quoted in messages up to this many bytes.
constexpr std::size_t shown_line_bytes = 120;

std::string shown (std::string_view line)
{
  std::string text = "\"";
  text += line.substr (0, shown_line_bytes);
  if (line.size () > shown_line_bytes)
    text += "...";
  return text + "\"";
}

// Splits at every comma.
std::vector<std::string_view> split (std::string_view text)
{
  std::vector<std::string_view> parts;
  for (;;)
    {
      const std::size_t comma = text.find (',');
      parts.push_back (text.substr (0, comma));
      if (comma == std::string_view::npos)
        return parts;
      text.remove_prefix (comma + 1);
    }
}

std::string column_label (std::size_t index, const Vok_Column &column)
{
  return "column " + std::to_string (index + 1) + " (" + column.name + ")";
}

// The byte count a type demands, or an empty text when it fits.
std::string size_problem (const Vok_Column &column)
{
  const std::size_t bytes = column.bytes;
  switch (column.type)
    {
    case Vok_Column_Type::character:
    case Vok_Column_Type::numeric:
      return bytes > 0 && bytes % 2 == 0 ? "" : "needs an even number of bytes above 0";
    case Vok_Column_Type::date: return bytes == 16 ? "" : "needs 16 bytes";
    case Vok_Column_Type::time: return bytes == 12 ? "" : "needs 12 bytes";
    case Vok_Column_Type::int4: return bytes == 4 ? "" : "needs 4 bytes";
    case Vok_Column_Type::int2: return bytes == 2 ? "" : "needs 2 bytes";
    case Vok_Column_Type::int1: return bytes == 1 ? "" : "needs 1 byte";
    case Vok_Column_Type::int8:
    case Vok_Column_Type::float8: return bytes == 8 ? "" : "needs 8 bytes";
    case Vok_Column_Type::packed:
      if (bytes < 1 || bytes > Vok_Column::max_packed_bytes)
        return "needs 1 to " + std::to_string (Vok_Column::max_packed_bytes) + " bytes";
      if (column.decimals > 2 * bytes - 1)
        return "has " + std::to_string (column.decimals) + " decimals but only " + std::to_string (2 * bytes - 1)
               + " digits";
      return "";
    case Vok_Column_Type::raw: return bytes > 0 ? "" : "needs at least 1 byte";
    }
  return "has an unknown type";
}

// Whether column `index` fits its type, the row and the column before it.
Vok_Status check_column (std::size_t row_bytes, const std::vector<Vok_Column> &columns, std::size_t index)
{
  const Vok_Column &column = columns[index];
  const std::string label = column_label (index, column);
  if (const std::string problem = size_problem (column); !problem.empty ())
    return {Vok_Result::bad_record, label + " of type " + static_cast<char> (column.type) + " and "
                                      + std::to_string (column.bytes) + " bytes " + problem};
  const std::size_t end_of_previous = index == 0 ? 0 : columns[index - 1].offset + columns[index - 1].bytes;
  if (column.offset < end_of_previous)
    return {Vok_Result::bad_record, label + " at offset " + std::to_string (column.offset)
                                      + " overlaps the column before it, which ends at byte "
                                      + std::to_string (end_of_previous)};
  if (column.offset > row_bytes || column.bytes > row_bytes - column.offset)
    return {Vok_Result::bad_record, label + " at offset " + std::to_string (column.offset) + " with "
                                      + std::to_string (column.bytes) + " bytes ends beyond the row of "
                                      + std::to_string (row_bytes) + " bytes"};
  return {};
}
}

Vok_Status Vok_Column::check () const
{
  if (const std::string problem = size_problem (*this); !problem.empty ())
    return {Vok_Result::bad_record, "column " + name + " of type " + static_cast<char> (type) + " and "
                                      + std::to_string (bytes) + " bytes " + problem};
  return {};
}

bool vok_column_type (char letter, Vok_Column_Type &type)
{
  switch (letter)
    {
    case 'C': case 'N': case 'D': case 'T': case 'I': case 's':
    case 'b': case '8': case 'F': case 'P': case 'X':
      type = static_cast<Vok_Column_Type> (letter);
      return true;
    default:
      return false;
    }
}

Vok_Status Vok_Layout::check () const
{
  if (row_bytes == 0 || row_bytes > Vok_Metadata_Parser::max_row_bytes)
    return {Vok_Result::bad_record, "a row width of " + std::to_string (row_bytes) + " bytes is not 1 to "
                                      + std::to_string (Vok_Metadata_Parser::max_row_bytes)};
  if (columns.empty ())
    return {Vok_Result::bad_record, "a layout needs at least one column"};
  for (std::size_t i = 0; i < columns.size (); ++i)
    if (Vok_Status status = check_column (row_bytes, columns, i); !status.ok ())
      return status;
  return {};
}

bool Vok_Metadata_Parser::is_metadata_line (std::string_view line)
{
  return line.substr (0, 2) == row_prefix || line.substr (0, 2) == field_prefix;
}

Vok_Status Vok_Metadata_Parser::refuse (std::string message)
{
  failure_ = {Vok_Result::bad_record, std::move (message)};
  return failure_;
}

Vok_Status Vok_Metadata_Parser::add_line (std::string_view line)
{
  if (!failure_.ok ())
    return failure_;
  if (line.substr (0, 2) == row_prefix)
    return add_row_line (line);
  if (line.substr (0, 2) == field_prefix)
    return add_field_line (line);
  return refuse ("the metadata line " + shown (line) + " is neither an R nor an F line");
}

Vok_Status Vok_Metadata_Parser::add_row_line (std::string_view line)
{
  if (have_row_line_)
    return refuse ("a second R line " + shown (line) + " in the metadata");
  const std::vector<std::string_view> parts = split (line.substr (row_prefix.size ()));
  std::size_t row_bytes = 0;
  if (parts.size () != 2 || !vok_parse_decimal (parts[0], max_row_bytes, row_bytes)
      || !vok_parse_decimal (parts[1], max_row_bytes, column_count_))
    return refuse ("the metadata line " + shown (line) + " is not R,<row bytes>,<column count> with numbers up to "
                   + std::to_string (max_row_bytes));
  if (row_bytes == 0 || column_count_ == 0)
    return refuse ("the metadata line " + shown (line) + " announces an empty row");
  if (column_count_ > row_bytes)
    return refuse ("the metadata line " + shown (line) + " announces more columns than the row has bytes");
  have_row_line_ = true;
  layout_.row_bytes = row_bytes;
  layout_.columns.reserve (column_count_);
  return {};
}

Vok_Status Vok_Metadata_Parser::add_field_line (std::string_view line)
{
  if (!have_row_line_)
    return refuse ("the metadata line " + shown (line) + " comes before the R line");
  if (layout_.columns.size () == column_count_)
    return refuse ("the metadata line " + shown (line) + " is one more than the " + std::to_string (column_count_)
                   + " columns the R line announced");
  const std::vector<std::string_view> parts = split (line.substr (field_prefix.size ()));
  const std::string format = " is not F,<name>,<type>,<bytes>,<decimals>,<offset>,<description>";
  if (parts.size () < 6)
    return refuse ("the metadata line " + shown (line) + format);

  // The description is the last field and the numbers come before it; a
  // name holding commas takes all fields before the type.
  const std::size_t n = parts.size ();
  Vok_Column column;
  std::size_t decimals = 0;
  if (parts[n - 5].size () != 1 || !vok_column_type (parts[n - 5][0], column.type))
    return refuse ("the metadata line " + shown (line) + " names the unknown type \"" + std::string (parts[n - 5])
                   + "\"");
  if (!vok_parse_decimal (parts[n - 4], max_row_bytes, column.bytes)
      || !vok_parse_decimal (parts[n - 3], max_row_bytes, decimals)
      || !vok_parse_decimal (parts[n - 2], max_row_bytes, column.offset))
    return refuse ("the metadata line " + shown (line) + format + " with numbers up to "
                   + std::to_string (max_row_bytes));
  column.decimals = static_cast<unsigned> (decimals);
  const std::string_view rest = line.substr (field_prefix.size ());
  column.name.assign (rest.substr (0, static_cast<std::size_t> (parts[n - 5].data () - rest.data ()) - 1));
  column.description.assign (parts[n - 1]);

  // The columns so far with this one must still make a layout.
  layout_.columns.push_back (std::move (column));
  if (Vok_Status status = check_column (layout_.row_bytes, layout_.columns, layout_.columns.size () - 1);
      !status.ok ())
    {
      layout_.columns.pop_back ();
      return refuse (status.message ());
    }
  return {};
}

bool Vok_Metadata_Parser::complete () const
{
  return failure_.ok () && have_row_line_ && layout_.columns.size () == column_count_;
}

Vok_Status Vok_Metadata_Parser::finish (Vok_Layout &layout) const
{
  if (!failure_.ok ())
    return failure_;
  if (!have_row_line_)
    return {Vok_Result::bad_record, "the metadata has no R line"};
  if (layout_.columns.size () != column_count_)
    return {Vok_Result::bad_record, "the R line announced " + std::to_string (column_count_) + " columns, but "
                                      + std::to_string (layout_.columns.size ()) + " F lines came"};
  layout = layout_;
  return {};
}

Vok_Status Vok_Metadata_Parser::parse (const std::vector<std::string> &lines, Vok_Layout &layout)
{
  Vok_Metadata_Parser parser;
  for (const std::string &line : lines)
    if (Vok_Status status = parser.add_line (line); !status.ok ())
      return status;
  return parser.finish (layout);
}
