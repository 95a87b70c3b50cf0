#include "vok_function_interface.h"

#include "vok_decimal.h"

#include <algorithm>
#include <utility>

namespace
{
// Lines are quoted in messages up to this many bytes.
constexpr std::size_t shown_line_bytes = 120;
// Packed numbers have at most 31 digits, so no type has more decimals.
constexpr std::size_t max_decimals = 31;

struct Line_Kind
{
  std::string_view keyword;
  // Fields after the keyword, the description last.
  std::size_t fields;
  const char *format;
};

constexpr Line_Kind function_kind {"FUNCTION", 2, "FUNCTION,<name>,<description>"};
constexpr Line_Kind parameter_kind {
  "PARAMETER", 7, "PARAMETER,<name>,<class>,<type>,<bytes>,<decimals>,<optional>,<description>"};
constexpr Line_Kind table_kind {"TABLE", 5, "TABLE,<name>,<line bytes>,<structure>,<inputonly>,<description>"};
constexpr Line_Kind field_kind {"FIELD", 7, "FIELD,<table>,<field>,<type>,<bytes>,<decimals>,<offset>,<description>"};
constexpr Line_Kind exception_kind {"EXCEPTION", 2, "EXCEPTION,<name>,<description>"};
constexpr const Line_Kind *kinds[] = {&function_kind, &parameter_kind, &table_kind, &field_kind, &exception_kind};

std::string shown (std::string_view line)
{
  std::string text = "\"";
  text += line.substr (0, shown_line_bytes);
  if (line.size () > shown_line_bytes)
    text += "...";
  return text + "\"";
}

// The kind of a line by its keyword, or null.
const Line_Kind *kind_of (std::string_view line)
{
  for (const Line_Kind *kind : kinds)
    if (line.size () > kind->keyword.size () && line.substr (0, kind->keyword.size ()) == kind->keyword
        && line[kind->keyword.size ()] == ',')
      return kind;
  return nullptr;
}

// The fields after the keyword: the first `kind.fields - 1` cut at commas,
// the description the rest (empty when its comma is missing). False when
// fields before the description are missing.
bool split_fields (std::string_view line, const Line_Kind &kind, std::vector<std::string_view> &parts)
{
  parts.clear ();
  std::string_view rest = line.substr (kind.keyword.size () + 1);
  while (parts.size () + 1 < kind.fields)
    {
      const std::size_t comma = rest.find (',');
      if (comma == std::string_view::npos)
        {
          if (parts.size () + 2 < kind.fields)
            return false;
          parts.push_back (rest);
          parts.emplace_back ();
          return true;
        }
      parts.push_back (rest.substr (0, comma));
      rest.remove_prefix (comma + 1);
    }
  parts.push_back (rest);
  return true;
}

// The type of a type letter; interfaces know the ten types of the function
// document, not the 8-byte integer of select results.
bool interface_type (std::string_view letter, Vok_Column_Type &type)
{
  return letter.size () == 1 && letter[0] != '8' && vok_column_type (letter[0], type);
}

// Why a column's size does not fit its type ("of type C and 5 bytes needs
// ..."), or an empty text.
std::string size_problem (const Vok_Column &column)
{
  const Vok_Status status = column.check ();
  if (status.ok ())
    return {};
  // The check names the column itself; the caller says what it is.
  const std::string named = "column " + column.name + " ";
  const std::string &message = status.message ();
  return message.starts_with (named) ? message.substr (named.size ()) : message;
}

std::string parameter_problem (const Vok_Function_Parameter &parameter)
{
  const std::string what = "parameter " + parameter.name;
  if (parameter.name.empty ())
    return "a parameter without a name";
  if (parameter.parameter_class != Vok_Parameter_Class::exporting
      && parameter.parameter_class != Vok_Parameter_Class::importing)
    return what + " has a class other than E and I";
  if (parameter.type == Vok_Column_Type::int8)
    return what + " has the type 8, which function modules do not have";
  if (const std::string problem = size_problem (parameter.column ()); !problem.empty ())
    return what + " " + problem;
  return {};
}

// Whether field `index` of `table` fits its type, the line and the fields
// before it.
std::string field_problem (const Vok_Function_Table &table, std::size_t index)
{
  const Vok_Column &field = table.fields[index];
  const std::string what = "field " + field.name + " of table " + table.name;
  if (field.name.empty ())
    return "a field without a name in table " + table.name;
  for (std::size_t i = 0; i < index; ++i)
    if (table.fields[i].name == field.name)
      return "table " + table.name + " has two fields named " + field.name;
  if (field.type == Vok_Column_Type::int8)
    return what + " has the type 8, which function modules do not have";
  if (const std::string problem = size_problem (field); !problem.empty ())
    return what + " " + problem;
  const std::size_t previous_end = index == 0 ? 0 : table.fields[index - 1].offset + table.fields[index - 1].bytes;
  if (field.offset < previous_end)
    return what + " at offset " + std::to_string (field.offset) + " overlaps the field before it, which ends at byte "
           + std::to_string (previous_end);
  if (field.offset > table.line_bytes || field.bytes > table.line_bytes - field.offset)
    return what + " at offset " + std::to_string (field.offset) + " with " + std::to_string (field.bytes)
           + " bytes ends beyond the line of " + std::to_string (table.line_bytes) + " bytes";
  return {};
}

std::string table_problem (const Vok_Function_Table &table)
{
  if (table.name.empty ())
    return "a table without a name";
  if (table.line_bytes == 0 || table.line_bytes > Vok_Function_Interface_Parser::max_bytes)
    return "table " + table.name + " has lines of " + std::to_string (table.line_bytes) + " bytes, not 1 to "
           + std::to_string (Vok_Function_Interface_Parser::max_bytes);
  for (std::size_t i = 0; i < table.fields.size (); ++i)
    if (std::string problem = field_problem (table, i); !problem.empty ())
      return problem;
  return {};
}

// Whether `name` is taken by a parameter or a table of `interface` other
// than the one at `self`.
bool name_taken (const Vok_Function_Interface &interface, std::string_view name, const void *self)
{
  for (const Vok_Function_Parameter &parameter : interface.parameters)
    if (&parameter != self && parameter.name == name)
      return true;
  for (const Vok_Function_Table &table : interface.tables)
    if (&table != self && table.name == name)
      return true;
  return false;
}
}

Vok_Column Vok_Function_Parameter::column () const
{
  Vok_Column column;
  column.name = name;
  column.type = type;
  column.bytes = bytes;
  column.decimals = decimals;
  column.description = description;
  return column;
}

Vok_Layout Vok_Function_Table::layout () const
{
  Vok_Layout layout;
  layout.row_bytes = line_bytes;
  layout.columns = fields;
  if (layout.columns.empty ())
    {
      Vok_Column line;
      line.name = whole_line;
      line.type = Vok_Column_Type::raw;
      line.bytes = line_bytes;
      layout.columns.push_back (std::move (line));
    }
  return layout;
}

const Vok_Function_Parameter *Vok_Function_Interface::parameter (std::string_view parameter_name) const
{
  const auto found = std::find_if (parameters.begin (), parameters.end (),
                                   [parameter_name] (const auto &p) { return p.name == parameter_name; });
  return found == parameters.end () ? nullptr : &*found;
}

const Vok_Function_Table *Vok_Function_Interface::table (std::string_view table_name) const
{
  const auto found
    = std::find_if (tables.begin (), tables.end (), [table_name] (const auto &t) { return t.name == table_name; });
  return found == tables.end () ? nullptr : &*found;
}

const Vok_Function_Exception *Vok_Function_Interface::exception (std::string_view exception_name) const
{
  const auto found = std::find_if (exceptions.begin (), exceptions.end (),
                                   [exception_name] (const auto &e) { return e.name == exception_name; });
  return found == exceptions.end () ? nullptr : &*found;
}

Vok_Status Vok_Function_Interface::check () const
{
  const auto refuse = [this] (const std::string &problem) {
    return Vok_Status (Vok_Result::bad_record, "the interface of " + (name.empty () ? "a function" : name) + ": "
                                                 + problem);
  };
  if (name.empty ())
    return refuse ("the function has no name");
  for (const Vok_Function_Parameter &p : parameters)
    {
      if (std::string problem = parameter_problem (p); !problem.empty ())
        return refuse (problem);
      if (name_taken (*this, p.name, &p))
        return refuse ("the name " + p.name + " is given twice to parameters or tables");
    }
  for (const Vok_Function_Table &t : tables)
    {
      if (std::string problem = table_problem (t); !problem.empty ())
        return refuse (problem);
      if (name_taken (*this, t.name, &t))
        return refuse ("the name " + t.name + " is given twice to parameters or tables");
    }
  for (std::size_t i = 0; i < exceptions.size (); ++i)
    {
      if (exceptions[i].name.empty ())
        return refuse ("an exception without a name");
      for (std::size_t j = 0; j < i; ++j)
        if (exceptions[j].name == exceptions[i].name)
          return refuse ("the exception " + exceptions[i].name + " is given twice");
    }
  return {};
}

bool Vok_Function_Interface_Parser::is_interface_line (std::string_view line)
{
  return kind_of (line) != nullptr;
}

Vok_Status Vok_Function_Interface_Parser::refuse (std::string message)
{
  failure_ = {Vok_Result::bad_record, std::move (message)};
  return failure_;
}

Vok_Status Vok_Function_Interface_Parser::add_line (std::string_view line)
{
  if (!failure_.ok ())
    return failure_;
  const Line_Kind *kind = kind_of (line);
  if (!kind)
    return refuse ("the interface line " + shown (line)
                   + " is none of FUNCTION, PARAMETER, TABLE, FIELD and EXCEPTION");
  std::vector<std::string_view> parts;
  if (!split_fields (line, *kind, parts))
    return refuse ("the interface line " + shown (line) + " is not " + kind->format);
  if (kind != &function_kind && stage_ == Stage::start)
    return refuse ("the interface line " + shown (line) + " comes before the FUNCTION line");
  if (kind == &function_kind)
    return add_function (line, parts);
  if (kind == &parameter_kind)
    return add_parameter (line, parts);
  if (kind == &table_kind)
    return add_table (line, parts);
  if (kind == &field_kind)
    return add_field (line, parts);
  return add_exception (line, parts);
}

Vok_Status Vok_Function_Interface_Parser::add_function (std::string_view line,
                                                        const std::vector<std::string_view> &parts)
{
  if (stage_ != Stage::start)
    return refuse ("a second FUNCTION line " + shown (line));
  if (parts[0].empty ())
    return refuse ("the interface line " + shown (line) + " names no function");
  interface_.name.assign (parts[0]);
  interface_.description.assign (parts[1]);
  stage_ = Stage::parameters;
  return {};
}

Vok_Status Vok_Function_Interface_Parser::add_parameter (std::string_view line,
                                                         const std::vector<std::string_view> &parts)
{
  if (stage_ != Stage::parameters)
    return refuse ("the PARAMETER line " + shown (line) + " comes after the tables or exceptions");
  Vok_Function_Parameter parameter;
  parameter.name.assign (parts[0]);
  if (parts[1] != "E" && parts[1] != "I")
    return refuse ("the interface line " + shown (line) + " has the class \"" + std::string (parts[1])
                   + "\", not E (sent by the caller) or I (received)");
  parameter.parameter_class = static_cast<Vok_Parameter_Class> (parts[1][0]);
  if (!interface_type (parts[2], parameter.type))
    return refuse ("the interface line " + shown (line) + " names the unknown type \"" + std::string (parts[2])
                   + "\"");
  std::size_t decimals = 0;
  if (!vok_parse_decimal (parts[3], max_bytes, parameter.bytes) || !vok_parse_decimal (parts[4], max_decimals, decimals))
    return refuse ("the interface line " + shown (line) + " is not " + parameter_kind.format + " with bytes up to "
                   + std::to_string (max_bytes) + " and decimals up to " + std::to_string (max_decimals));
  parameter.decimals = static_cast<unsigned> (decimals);
  if (parts[5] != "X" && !parts[5].empty ())
    return refuse ("the interface line " + shown (line) + " marks the parameter optional with \""
                   + std::string (parts[5]) + "\", not X or nothing");
  parameter.optional = parts[5] == "X";
  parameter.description.assign (parts[6]);
  if (std::string problem = parameter_problem (parameter); !problem.empty ())
    return refuse ("the interface line " + shown (line) + ": " + problem);
  if (name_taken (interface_, parameter.name, nullptr))
    return refuse ("the interface line " + shown (line) + " names " + parameter.name + " a second time");
  interface_.parameters.push_back (std::move (parameter));
  return {};
}

Vok_Status Vok_Function_Interface_Parser::add_table (std::string_view line, const std::vector<std::string_view> &parts)
{
  if (stage_ == Stage::exceptions)
    return refuse ("the TABLE line " + shown (line) + " comes after the exceptions");
  Vok_Function_Table table;
  table.name.assign (parts[0]);
  if (!vok_parse_decimal (parts[1], max_bytes, table.line_bytes))
    return refuse ("the interface line " + shown (line) + " is not " + table_kind.format + " with line bytes up to "
                   + std::to_string (max_bytes));
  table.structure.assign (parts[2]);
  if (parts[3] != "Y" && parts[3] != "N")
    return refuse ("the interface line " + shown (line) + " has inputonly \"" + std::string (parts[3])
                   + "\", not Y or N");
  table.input_only = parts[3] == "Y";
  table.description.assign (parts[4]);
  if (std::string problem = table_problem (table); !problem.empty ())
    return refuse ("the interface line " + shown (line) + ": " + problem);
  if (name_taken (interface_, table.name, nullptr))
    return refuse ("the interface line " + shown (line) + " names " + table.name + " a second time");
  interface_.tables.push_back (std::move (table));
  stage_ = Stage::tables;
  return {};
}

Vok_Status Vok_Function_Interface_Parser::add_field (std::string_view line, const std::vector<std::string_view> &parts)
{
  if (stage_ != Stage::tables || interface_.tables.back ().name != parts[0])
    return refuse ("the FIELD line " + shown (line) + " does not follow the TABLE line of " + std::string (parts[0])
                   + " and its fields");
  Vok_Function_Table &table = interface_.tables.back ();
  Vok_Column field;
  field.name.assign (parts[1]);
  if (!interface_type (parts[2], field.type))
    return refuse ("the interface line " + shown (line) + " names the unknown type \"" + std::string (parts[2])
                   + "\"");
  std::size_t decimals = 0;
  if (!vok_parse_decimal (parts[3], max_bytes, field.bytes) || !vok_parse_decimal (parts[4], max_decimals, decimals)
      || !vok_parse_decimal (parts[5], max_bytes, field.offset))
    return refuse ("the interface line " + shown (line) + " is not " + field_kind.format
                   + " with bytes and offset up to " + std::to_string (max_bytes) + " and decimals up to "
                   + std::to_string (max_decimals));
  field.decimals = static_cast<unsigned> (decimals);
  field.description.assign (parts[6]);
  table.fields.push_back (std::move (field));
  if (std::string problem = field_problem (table, table.fields.size () - 1); !problem.empty ())
    {
      table.fields.pop_back ();
      return refuse ("the interface line " + shown (line) + ": " + problem);
    }
  return {};
}

Vok_Status Vok_Function_Interface_Parser::add_exception (std::string_view line,
                                                         const std::vector<std::string_view> &parts)
{
  if (parts[0].empty ())
    return refuse ("the interface line " + shown (line) + " names no exception");
  if (interface_.exception (parts[0]))
    return refuse ("the interface line " + shown (line) + " names the exception " + std::string (parts[0])
                   + " a second time");
  interface_.exceptions.push_back ({std::string (parts[0]), std::string (parts[1])});
  stage_ = Stage::exceptions;
  return {};
}

Vok_Status Vok_Function_Interface_Parser::finish (Vok_Function_Interface &interface) const
{
  if (!failure_.ok ())
    return failure_;
  if (stage_ == Stage::start)
    return {Vok_Result::bad_record, "the interface has no FUNCTION line"};
  interface = interface_;
  return {};
}

Vok_Status Vok_Function_Interface_Parser::parse (const std::vector<std::string> &lines,
                                                 Vok_Function_Interface &interface)
{
  Vok_Function_Interface_Parser parser;
  for (const std::string &line : lines)
    if (Vok_Status status = parser.add_line (line); !status.ok ())
      return status;
  return parser.finish (interface);
}
