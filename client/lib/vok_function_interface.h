#ifndef VOK_FUNCTION_INTERFACE_H
#define VOK_FUNCTION_INTERFACE_H

#include "vok_metadata.h"
#include "vok_status.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Which way a parameter's value travels, seen from the caller. The letters
// are the paramclass of the function document.
enum class Vok_Parameter_Class : char
{
  exporting = 'E',  // the caller sends it (the module imports it)
  importing = 'I'   // the caller receives it (the module exports it)
};

// One scalar parameter of a function module.
struct Vok_Function_Parameter
{
  std::string name;
  Vok_Parameter_Class parameter_class = Vok_Parameter_Class::exporting;
  // One of C N D T I s b F P X (never 8).
  Vok_Column_Type type = Vok_Column_Type::character;
  // Value size in bytes (C, N, D, T: 2 x characters).
  std::size_t bytes = 0;
  unsigned decimals = 0;
  bool optional = false;
  std::string description;

  // The parameter as a column at offset 0 of its value, for
  // vok_encode_value and vok_decode_value.
  Vok_Column column () const;
};

// One table parameter: lines of a fixed size, described by its fields.
struct Vok_Function_Table
{
  // The column that stands for the whole line of a table without fields.
  static constexpr std::string_view whole_line = "LINE";

  std::string name;
  std::size_t line_bytes = 0;
  // The dictionary structure of a line; may be empty.
  std::string structure;
  // The module only reads the table: it is sent, never returned.
  bool input_only = false;
  std::string description;
  // The line layout in the UTF-16 form: offsets rising, inside the line.
  std::vector<Vok_Column> fields;

  // The fields as the layout of a line. A table without fields has one
  // raw column, named `whole_line`, over the whole line.
  Vok_Layout layout () const;
};

struct Vok_Function_Exception
{
  std::string name;
  std::string description;
};

// What a function module takes and gives: its scalar parameters, its
// tables with their line layouts, and the exceptions it may raise.
struct Vok_Function_Interface
{
  std::string name;
  std::string description;
  std::vector<Vok_Function_Parameter> parameters;
  std::vector<Vok_Function_Table> tables;
  std::vector<Vok_Function_Exception> exceptions;

  // Looked up by exact name; null when there is none.
  const Vok_Function_Parameter *parameter (std::string_view parameter_name) const;
  const Vok_Function_Table *table (std::string_view table_name) const;
  const Vok_Function_Exception *exception (std::string_view exception_name) const;

  // The rules the parser applies, for an interface built by hand: a name;
  // parameters, tables and exceptions with names, each name once (a
  // parameter and a table may not share one); parameter sizes that fit their
  // types as Vok_Column::check says; tables of at least one byte a line whose
  // fields fit their types, each field name once, offsets rising without
  // overlaps, every field inside the line. Fails with bad_record.
  Vok_Status check () const;
};

// Reads the lines in which the server describes a function module:
//
//   FUNCTION,<name>,<description>
//   PARAMETER,<name>,<class>,<type>,<bytes>,<decimals>,<optional>,<description>
//   TABLE,<name>,<line bytes>,<structure>,<inputonly>,<description>
//   FIELD,<table>,<field>,<type>,<bytes>,<decimals>,<offset>,<description>
//   EXCEPTION,<name>,<description>
//
// in that order: FUNCTION once, the PARAMETER lines, each TABLE followed by
// its FIELD lines, the EXCEPTION lines. <class> is E (the caller sends it)
// or I (the caller receives it); <optional> X or empty; <inputonly> Y or N.
// Descriptions may be empty, and may lack their comma when the server cut
// the line. Every refusal is bad_record with a message that quotes the line;
// after one the parser refuses every further line.
//
//   Vok_Function_Interface_Parser parser;
//   for (const std::string &line : lines)
//     if (Vok_Status s = parser.add_line (line); !s.ok ()) return s;
//   Vok_Function_Interface interface;
//   Vok_Status s = parser.finish (interface);
class Vok_Function_Interface_Parser
{
public:
  // The largest size (of a value, a line) and offset accepted.
  static constexpr std::size_t max_bytes = 64 * 1024 * 1024;

  // Whether a line of the server is one of the five kinds above.
  static bool is_interface_line (std::string_view line);

  Vok_Status add_line (std::string_view line);
  // The interface when the FUNCTION line has come; otherwise fails.
  Vok_Status finish (Vok_Function_Interface &interface) const;

  // All lines at once.
  static Vok_Status parse (const std::vector<std::string> &lines, Vok_Function_Interface &interface);

private:
  // Where the parser stands: which kinds of lines may come next.
  enum class Stage { start, parameters, tables, exceptions };

  Vok_Status add_function (std::string_view line, const std::vector<std::string_view> &parts);
  Vok_Status add_parameter (std::string_view line, const std::vector<std::string_view> &parts);
  Vok_Status add_table (std::string_view line, const std::vector<std::string_view> &parts);
  Vok_Status add_field (std::string_view line, const std::vector<std::string_view> &parts);
  Vok_Status add_exception (std::string_view line, const std::vector<std::string_view> &parts);
  Vok_Status refuse (std::string message);

  Stage stage_ = Stage::start;
  Vok_Function_Interface interface_;
  Vok_Status failure_;
};

#endif
