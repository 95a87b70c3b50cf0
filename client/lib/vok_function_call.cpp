#include "vok_function_call.h"

#include "vok_decimal.h"

#include "vok_connection.h"
#include "vok_record.h"
#include "vok_value_encoder.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>

namespace
{
constexpr std::string_view error_prefix = "E,";
constexpr std::string_view data_prefix = "D,";
constexpr std::string_view exception_prefix = "RFC Exception: ";
constexpr std::string_view end_line = "EOF";
// Lines are quoted in messages up to this many bytes.
constexpr std::size_t shown_line_bytes = 120;
// Larger counts of a "D" line are no number; smaller ones are held to the
// byte bound of the result.
constexpr std::uint64_t max_count = 1000000000000000;

bool is_error_line (std::string_view line)
{
  return line.substr (0, error_prefix.size ()) == error_prefix;
}

std::string shown (std::string_view line)
{
  std::string text = "\"";
  text += line.substr (0, shown_line_bytes);
  if (line.size () > shown_line_bytes)
    text += "...";
  return text + "\"";
}

Vok_Status with_context (const Vok_Status &status, const std::string &context)
{
  return {status.result (), context + ": " + status.message (), status.server_reply ()};
}

Vok_Status invalid (std::string message)
{
  return {Vok_Result::invalid_argument, std::move (message)};
}

// The encoder's message begins with the column's name; `what` says what
// the column is ("parameter ", "table T, row 2, field ").
Vok_Status named (const Vok_Status &status, const std::string &what)
{
  return {status.result (), what + status.message ()};
}

std::string hex_byte (unsigned char byte)
{
  static const char digits[] = "0123456789abcdef";
  return std::string ("0x") + digits[byte >> 4] + digits[byte & 0xF];
}

bool is_character_type (Vok_Column_Type type)
{
  return type == Vok_Column_Type::character || type == Vok_Column_Type::numeric || type == Vok_Column_Type::date
         || type == Vok_Column_Type::time;
}

// The server passes C, N, D and T values as characters, the others as bytes.
Vok_Value_Type value_type (Vok_Column_Type type)
{
  return is_character_type (type) ? Vok_Value_Type::character : Vok_Value_Type::bytes;
}

// Number types sit at multiples of their size in a line of one byte per
// character.
std::size_t one_byte_alignment (Vok_Column_Type type)
{
  switch (type)
    {
    case Vok_Column_Type::int4: return 4;
    case Vok_Column_Type::int2: return 2;
    case Vok_Column_Type::float8:
    case Vok_Column_Type::int8: return 8;
    default: return 1;
    }
}

// The `field` elements of a table: the UTF-16 layout as len2 and offset2,
// and the same fields with one byte per character as len and offset.
void add_fields (const Vok_Function_Table &table, Vok_Xml_Element &element)
{
  std::size_t end = 0;
  for (const Vok_Column &field : table.fields)
    {
      const std::size_t length = is_character_type (field.type) ? field.bytes / 2 : field.bytes;
      const std::size_t alignment = one_byte_alignment (field.type);
      const std::size_t offset = (end + alignment - 1) / alignment * alignment;
      end = offset + length;
      Vok_Xml_Element child = Vok_Function_Document::field (field.name, static_cast<char> (field.type), length, offset);
      child.set_attribute ("len2", std::to_string (field.bytes));
      child.set_attribute ("offset2", std::to_string (field.offset));
      child.set_attribute ("dec", std::to_string (field.decimals));
      element.add_child (std::move (child));
    }
}

// The lines of a table from rows of text.
Vok_Status encode_rows (const Vok_Function_Table &table, const Vok_Table_Rows &rows, Vok_Xml_Element &element)
{
  const Vok_Layout layout = table.layout ();
  const std::string where = "table " + table.name;
  std::vector<const Vok_Column *> columns;
  for (const std::string &name : rows.fields)
    {
      const auto found = std::find_if (layout.columns.begin (), layout.columns.end (),
                                       [&name] (const Vok_Column &column) { return column.name == name; });
      if (found == layout.columns.end ())
        return invalid (where + " has no field " + name);
      if (std::find (columns.begin (), columns.end (), &*found) != columns.end ())
        return invalid (where + ": the field " + name + " is named twice");
      columns.push_back (&*found);
    }
  // Bytes between fields stay zero; fields not named hold their initial value.
  std::string initial (table.line_bytes, '\0');
  for (const Vok_Column &column : layout.columns)
    initial.replace (column.offset, column.bytes, vok_initial_value (column));

  std::string line;
  std::string bytes;
  for (std::size_t r = 0; r < rows.rows.size (); ++r)
    {
      const std::vector<std::string> &texts = rows.rows[r];
      const std::string row_where = where + ", row " + std::to_string (r + 1);
      if (texts.size () != columns.size ())
        return invalid (row_where + " has " + std::to_string (texts.size ()) + " values for "
                        + std::to_string (columns.size ()) + " fields");
      line = initial;
      for (std::size_t i = 0; i < columns.size (); ++i)
        {
          if (Vok_Status status = vok_encode_value (*columns[i], texts[i], bytes); !status.ok ())
            return named (status, row_where + ", field ");
          line.replace (columns[i]->offset, bytes.size (), bytes);
        }
      element.add_child (Vok_Function_Document::line (line));
    }
  return {};
}

// The name of an exception line, or nothing.
std::optional<std::string> exception_of (std::string_view error)
{
  if (error.substr (0, exception_prefix.size ()) != exception_prefix)
    return std::nullopt;
  std::string_view name = error.substr (exception_prefix.size ());
  while (!name.empty () && name.back () == ' ')
    name.remove_suffix (1);
  return std::string (name);
}

bool same_name (std::string_view a, std::string_view b)
{
  return a.size () == b.size ()
         && std::equal (a.begin (), a.end (), b.begin (), [] (char x, char y) {
              return std::toupper (static_cast<unsigned char> (x)) == std::toupper (static_cast<unsigned char> (y));
            });
}

std::string error_summary (std::size_t error_lines, const std::string &exception)
{
  if (!exception.empty ())
    return "the function raised the exception " + exception;
  return "the server reported a failure: " + std::to_string (error_lines) + " error line(s)";
}

// Reading the replies of a request connection, shared by both runs.
struct Reply_Reader
{
  Reply_Reader (const Vok_Function_Settings &reader_settings, Vok_Connection &reader_connection,
                std::vector<std::string> &errors, std::string &first_exception, std::vector<std::string> &others)
    : settings (reader_settings), connection (reader_connection), error_lines (errors), exception (first_exception),
      other_lines (others)
  {
  }

  // The next line that is not empty; nothing when the connection closed (a
  // last line cut off by the close is returned first). Failures go to
  // `problem`.
  std::optional<std::string> next (Vok_Status &problem)
  {
    std::string line;
    for (;;)
      {
        if (closed)
          return std::nullopt;
        const Vok_Status status = connection.read_line (line);
        if (status.result () == Vok_Result::closed)
          {
            closed = true;
            if (!connection.read_until_closed (line, settings.connection.max_line_bytes).ok () || line.empty ())
              return std::nullopt;
          }
        else if (!status.ok ())
          {
            problem = status;
            return std::nullopt;
          }
        if (++lines > settings.max_lines)
          {
            problem = {Vok_Result::too_long, "the server sent more than " + std::to_string (settings.max_lines)
                                               + " lines on the request connection"};
            return std::nullopt;
          }
        // The server ends some error replies with an empty line.
        if (!line.empty ())
          return line;
      }
  }

  // Files an error line; false for any other line.
  bool take_error (const std::string &line)
  {
    if (!is_error_line (line))
      return false;
    error_lines.push_back (line.substr (error_prefix.size ()));
    if (exception.empty ())
      if (std::optional<std::string> name = exception_of (error_lines.back ()))
        exception = std::move (*name);
    return true;
  }

  // Reads to the close, filing error lines and other lines.
  Vok_Status read_to_close ()
  {
    Vok_Status problem;
    while (std::optional<std::string> line = next (problem))
      if (!take_error (*line))
        other_lines.push_back (std::move (*line));
    return problem;
  }

  const Vok_Function_Settings &settings;
  Vok_Connection &connection;
  std::vector<std::string> &error_lines;
  std::string &exception;
  std::vector<std::string> &other_lines;
  std::size_t lines = 0;
  bool closed = false;
};
}

Vok_Function_Call::Vok_Function_Call (const Vok_Function_Settings &settings)
  : settings_ (settings)
{
}

Vok_Status Vok_Function_Call::make_document (const Vok_Function_Interface &interface,
                                             const Vok_Function_Arguments &arguments, Vok_Function_Document &document)
{
  if (Vok_Status status = interface.check (); !status.ok ())
    return status;
  std::map<std::string_view, std::string_view> values;
  for (const auto &[name, text] : arguments.values)
    {
      const Vok_Function_Parameter *parameter = interface.parameter (name);
      if (!parameter)
        return invalid (interface.name + " has no parameter " + name);
      if (parameter->parameter_class == Vok_Parameter_Class::importing)
        return invalid ("parameter " + name + " of " + interface.name + " is received from the function, not sent");
      if (!values.emplace (name, text).second)
        return invalid ("parameter " + name + " is given twice");
    }
  std::map<std::string_view, const Vok_Table_Rows *> rows;
  for (const auto &[name, table_rows] : arguments.tables)
    {
      if (!interface.table (name))
        return invalid (interface.name + " has no table " + name);
      if (!rows.emplace (name, &table_rows).second)
        return invalid ("table " + name + " is given twice");
    }

  Vok_Function_Document built;
  built.data = true;
  built.name = interface.name;
  std::string bytes;
  for (const Vok_Function_Parameter &parameter : interface.parameters)
    {
      const Vok_Value_Type type = value_type (parameter.type);
      if (parameter.parameter_class == Vok_Parameter_Class::importing)
        {
          built.content.push_back (Vok_Function_Document::importing (parameter.name, parameter.bytes, type));
          continue;
        }
      const auto value = values.find (parameter.name);
      if (value != values.end ())
        {
          if (Vok_Status status = vok_encode_value (parameter.column (), value->second, bytes); !status.ok ())
            return named (status, "parameter ");
        }
      else if (parameter.optional)
        bytes = vok_initial_value (parameter.column ());
      else
        return invalid ("parameter " + parameter.name + " of " + interface.name + " is required");
      built.content.push_back (Vok_Function_Document::exporting (parameter.name, parameter.bytes, bytes, type));
    }
  for (const Vok_Function_Table &table : interface.tables)
    {
      Vok_Xml_Element element = Vok_Function_Document::table (table.name, table.line_bytes);
      if (!table.structure.empty ())
        element.set_attribute ("structure", table.structure);
      element.set_attribute ("inputonly", table.input_only ? "Y" : "N");
      add_fields (table, element);
      if (const auto given = rows.find (table.name); given != rows.end ())
        if (Vok_Status status = encode_rows (table, *given->second, element); !status.ok ())
          return status;
      built.content.push_back (std::move (element));
    }
  document = std::move (built);
  return {};
}

// --- Describing ---

struct Vok_Function_Call::Description_Run
{
  Description_Run (const Vok_Function_Settings &run_settings)
    : settings (run_settings), request (run_settings.connection),
      reader (run_settings, request, result.error_lines, result.exception, result.other_lines)
  {
  }

  void execute (const std::string &host, std::uint16_t port, const std::string &chandle, std::string_view module);
  void fail (Vok_Status status)
  {
    result.outcome = Vok_Function_Outcome::failed;
    result.status = std::move (status);
  }

  const Vok_Function_Settings &settings;
  Vok_Connection request;
  Vok_Function_Description result;
  Reply_Reader reader;
};

void Vok_Function_Call::Description_Run::execute (const std::string &host, std::uint16_t port,
                                                  const std::string &chandle, std::string_view module)
{
  if (module.empty ())
    return fail (invalid ("no function module named"));
  Vok_Function_Document document;
  document.chandle = chandle;
  document.metadata = true;
  document.name = std::string (module);
  std::string text;
  if (Vok_Status status = document.write (text); !status.ok ())
    return fail (with_context (status, "cannot write the function document"));
  if (Vok_Status status = request.connect (host, port); !status.ok ())
    return fail (with_context (status, "cannot open the request connection"));

  if (Vok_Status sent = request.send_request (text); !sent.ok ())
    {
      // An error line in place of an "OK" after a continuation line is the
      // server's answer.
      if (sent.result () != Vok_Result::rejected || !reader.take_error (sent.server_reply ()))
        return fail (with_context (sent, "cannot send the function document"));
    }

  Vok_Function_Interface_Parser parser;
  Vok_Status problem;
  while (std::optional<std::string> line = reader.next (problem))
    {
      if (reader.take_error (*line))
        continue;
      if (!result.error_lines.empty () || !Vok_Function_Interface_Parser::is_interface_line (*line))
        {
          result.other_lines.push_back (std::move (*line));
          continue;
        }
      if (Vok_Status status = parser.add_line (*line); !status.ok ())
        return fail (with_context (status, "an interface the client cannot use"));
    }
  if (!problem.ok ())
    return fail (with_context (problem, "the description of " + std::string (module)));
  if (!result.error_lines.empty ())
    {
      result.outcome = Vok_Function_Outcome::server_error;
      result.status = {Vok_Result::rejected, error_summary (result.error_lines.size (), result.exception)};
      return;
    }
  if (Vok_Status status = parser.finish (result.interface); !status.ok ())
    return fail (with_context (status, "the server closed the connection without describing "
                                         + std::string (module)));
  if (!same_name (result.interface.name, module))
    return fail ({Vok_Result::bad_record, "the server described " + result.interface.name + " when asked for "
                                            + std::string (module)});
  result.outcome = Vok_Function_Outcome::completed;
}

Vok_Function_Description Vok_Function_Call::describe (const std::string &host, std::uint16_t port,
                                                      const std::string &chandle, std::string_view module) const
{
  Description_Run run (settings_);
  run.execute (host, port, chandle, module);
  return std::move (run.result);
}

// --- Calling ---

struct Vok_Function_Call::Call_Run
{
  Call_Run (const Vok_Function_Settings &run_settings, const Vok_Function_Interface &run_interface)
    : settings (run_settings), interface (run_interface), data (run_settings.connection),
      request (run_settings.connection),
      reader (run_settings, request, result.error_lines, result.exception, result.other_lines)
  {
  }

  void execute (const std::string &host, std::uint16_t port, const std::string &chandle,
                const Vok_Function_Arguments &arguments);
  // Checks that values and lines fit the record bound before anything is sent.
  Vok_Status check_sizes () const;
  // Reads the "D" lines with their data up to "EOF" (true) or an error line.
  bool read_results ();
  // One "D" line and the bytes it announces.
  bool take_data_line (const std::string &line);
  // `count` records of `bytes` bytes, each followed by a zero byte.
  bool read_values (const std::string &what, std::size_t bytes, std::uint64_t count, std::vector<std::string> &values);
  void fail (Vok_Status status)
  {
    result.outcome = Vok_Function_Outcome::failed;
    result.status = std::move (status);
  }
  bool ended () const { return !result.status.ok (); }

  const Vok_Function_Settings &settings;
  const Vok_Function_Interface &interface;
  Vok_Connection data;
  Vok_Connection request;
  Vok_Function_Result result;
  Reply_Reader reader;
  // The received parameters and the returned tables, in the order their
  // "D" lines must come.
  std::vector<const Vok_Function_Parameter *> expected_parameters;
  std::vector<const Vok_Function_Table *> expected_tables;
  std::size_t next_table = 0;
};

Vok_Status Vok_Function_Call::Call_Run::check_sizes () const
{
  const std::size_t limit = settings.connection.max_record_bytes;
  for (const Vok_Function_Parameter *parameter : expected_parameters)
    if (parameter->bytes >= limit)
      return invalid ("parameter " + parameter->name + " of " + std::to_string (parameter->bytes)
                      + " bytes exceeds the record limit of " + std::to_string (limit) + " bytes");
  for (const Vok_Function_Table *table : expected_tables)
    if (table->line_bytes >= limit)
      return invalid ("table " + table->name + " has lines of " + std::to_string (table->line_bytes)
                      + " bytes, beyond the record limit of " + std::to_string (limit) + " bytes");
  return {};
}

void Vok_Function_Call::Call_Run::execute (const std::string &host, std::uint16_t port, const std::string &chandle,
                                           const Vok_Function_Arguments &arguments)
{
  Vok_Function_Document document;
  if (Vok_Status status = make_document (interface, arguments, document); !status.ok ())
    return fail (status);
  for (const Vok_Function_Parameter &parameter : interface.parameters)
    if (parameter.parameter_class == Vok_Parameter_Class::importing)
      expected_parameters.push_back (&parameter);
  for (const Vok_Function_Table &table : interface.tables)
    if (!table.input_only)
      expected_tables.push_back (&table);
  if (Vok_Status status = check_sizes (); !status.ok ())
    return fail (status);

  if (Vok_Status status = data.connect (host, port); !status.ok ())
    return fail (with_context (status, "cannot open the data connection"));
  document.chandle = chandle;
  document.dhandle = data.handle ();
  std::string text;
  if (Vok_Status status = document.write (text); !status.ok ())
    return fail (with_context (status, "cannot write the function document"));
  if (Vok_Status status = request.connect (host, port); !status.ok ())
    return fail (with_context (status, "cannot open the request connection"));

  if (Vok_Status sent = request.send_request (text); !sent.ok ())
    {
      if (sent.result () != Vok_Result::rejected || !reader.take_error (sent.server_reply ()))
        return fail (with_context (sent, "cannot send the function document"));
    }
  else if (read_results ())
    {
      result.outcome = Vok_Function_Outcome::completed;
      return;
    }
  if (ended ())
    return;
  // After an error line the server ends the request and closes.
  if (Vok_Status status = reader.read_to_close (); !status.ok ())
    return fail (with_context (status, "the server did not close the request connection after its error lines"));
  result.outcome = Vok_Function_Outcome::server_error;
  result.status = {Vok_Result::rejected, error_summary (result.error_lines.size (), result.exception)};
}

bool Vok_Function_Call::Call_Run::read_results ()
{
  Vok_Status problem;
  while (std::optional<std::string> line = reader.next (problem))
    {
      if (reader.take_error (*line))
        return false;
      if (*line == end_line)
        {
          if (result.parameters.size () < expected_parameters.size ())
            {
              fail ({Vok_Result::bad_record, "EOF came before the value of parameter "
                                               + expected_parameters[result.parameters.size ()]->name});
              return false;
            }
          // The tables without lines are there, empty.
          for (; next_table < expected_tables.size (); ++next_table)
            result.tables.push_back ({expected_tables[next_table]->name, expected_tables[next_table]->layout (), {}});
          return true;
        }
      if (line->substr (0, data_prefix.size ()) == data_prefix)
        {
          if (!take_data_line (*line))
            return false;
          continue;
        }
      result.other_lines.push_back (std::move (*line));
    }
  if (!problem.ok ())
    fail (with_context (problem, "the reply to the call of " + interface.name));
  else if (result.error_lines.empty ())
    fail ({Vok_Result::closed, "the server closed the request connection before EOF and without an error line"});
  return false;
}

bool Vok_Function_Call::Call_Run::take_data_line (const std::string &line)
{
  // The count follows the last comma.
  const std::size_t comma = line.rfind (',');
  std::uint64_t count = 0;
  if (comma < data_prefix.size () || !vok_parse_decimal (line.substr (comma + 1), max_count, count))
    {
      fail ({Vok_Result::bad_record, "the line " + shown (line) + " is not D,<name>,<count>"});
      return false;
    }
  const std::string name = line.substr (data_prefix.size (), comma - data_prefix.size ());

  if (result.parameters.size () < expected_parameters.size ())
    {
      const Vok_Function_Parameter &parameter = *expected_parameters[result.parameters.size ()];
      if (name != parameter.name || count != 1)
        {
          fail ({Vok_Result::bad_record, "the line " + shown (line) + " came where D," + parameter.name
                                           + ",1 was due"});
          return false;
        }
      std::vector<std::string> value;
      if (!read_values ("parameter " + parameter.name, parameter.bytes, 1, value))
        return false;
      result.parameters.push_back ({parameter.name, parameter.column (), std::move (value.front ())});
      return true;
    }

  // Tables come in interface order; those left empty send no line.
  std::size_t index = next_table;
  while (index < expected_tables.size () && expected_tables[index]->name != name)
    ++index;
  if (index == expected_tables.size ())
    {
      fail ({Vok_Result::bad_record, "the line " + shown (line) + " names no returned table of " + interface.name
                                       + " that is still due"});
      return false;
    }
  for (; next_table < index; ++next_table)
    result.tables.push_back ({expected_tables[next_table]->name, expected_tables[next_table]->layout (), {}});
  const Vok_Function_Table &table = *expected_tables[next_table++];
  Vok_Received_Table received {table.name, table.layout (), {}};
  if (!read_values ("table " + table.name, table.line_bytes, count, received.lines))
    return false;
  result.tables.push_back (std::move (received));
  return true;
}

bool Vok_Function_Call::Call_Run::read_values (const std::string &what, std::size_t bytes, std::uint64_t count,
                                               std::vector<std::string> &values)
{
  // Checked before anything is held: the count is the server's word.
  if (count > (settings.max_result_bytes - result.bytes) / (bytes + 1))
    {
      fail ({Vok_Result::too_long, what + ": " + std::to_string (count) + " lines of " + std::to_string (bytes)
                                     + " bytes exceed the limit of " + std::to_string (settings.max_result_bytes)
                                     + " bytes received in one call"});
      return false;
    }
  Vok_Record record;
  for (std::uint64_t i = 0; i < count; ++i)
    {
      const std::string where
        = "the data connection, " + what + (count > 1 ? ", line " + std::to_string (i + 1) : std::string ());
      if (Vok_Status status = data.read_record (bytes, record); !status.ok ())
        {
          fail (with_context (status, where));
          return false;
        }
      if (record.flag () != 0)
        {
          fail ({Vok_Result::bad_record, where + ": the value is followed by the byte "
                                           + hex_byte (record.flag ()) + ", not by a zero byte"});
          return false;
        }
      result.bytes += bytes + 1;
      values.push_back (record.row ());
    }
  return true;
}

Vok_Function_Result Vok_Function_Call::call (const std::string &host, std::uint16_t port, const std::string &chandle,
                                             const Vok_Function_Interface &interface,
                                             const Vok_Function_Arguments &arguments) const
{
  Call_Run run (settings_, interface);
  run.execute (host, port, chandle, arguments);
  return std::move (run.result);
}
