#include "vok_cli_call.h"

#include "vok_cli_csv.h"
#include "vok_cli_exit_code.h"
#include "vok_cli_output.h"
#include "vok_connection.h"
#include "vok_function_document.h"
#include "vok_logon.h"
#include "vok_value_decoder.h"
#include "vok_xml_element.h"

#include <algorithm>
#include <iostream>
#include <iterator>

namespace
{
const char *const prefix = "vokcli call: ";

// "C(20)", "P(8,2)", "D": the type with its length in characters for C and
// N, in bytes for P and X.
std::string type_text (const Vok_Column &column)
{
  const std::string letter (1, static_cast<char> (column.type));
  switch (column.type)
    {
    case Vok_Column_Type::character:
    case Vok_Column_Type::numeric: return letter + "(" + std::to_string (column.bytes / 2) + ")";
    case Vok_Column_Type::raw: return letter + "(" + std::to_string (column.bytes) + ")";
    case Vok_Column_Type::packed:
      return letter + "(" + std::to_string (column.bytes)
             + (column.decimals > 0 ? "," + std::to_string (column.decimals) : std::string ()) + ")";
    default: return letter;
    }
}

// Rows of cells in columns two blanks apart, each line after `indent`.
std::vector<std::string> aligned (const std::string &indent, const std::vector<std::vector<std::string>> &rows)
{
  std::vector<std::size_t> widths;
  for (const std::vector<std::string> &row : rows)
    {
      widths.resize (std::max (widths.size (), row.size ()));
      for (std::size_t i = 0; i < row.size (); ++i)
        widths[i] = std::max (widths[i], vok_cli_text_width (row[i]));
    }
  std::vector<std::string> lines;
  for (const std::vector<std::string> &row : rows)
    {
      std::string line = indent;
      for (std::size_t i = 0; i < row.size (); ++i)
        {
          line += row[i];
          if (i + 1 < row.size ())
            line.append (widths[i] - vok_cli_text_width (row[i]) + 2, ' ');
        }
      line.erase (line.find_last_not_of (' ') + 1);
      lines.push_back (std::move (line));
    }
  return lines;
}

void write_lines (std::ostream &out, const std::vector<std::string> &lines)
{
  for (const std::string &line : lines)
    out << line << '\n';
}

// Infinities and NaN are numbers in a double but not in JSON.
bool is_json_number (const Vok_Column &column, const std::string &text)
{
  if (!vok_is_number_type (column.type))
    return false;
  return column.type != Vok_Column_Type::float8 || (text != "nan" && text != "-nan" && text != "inf"
                                                     && text != "-inf");
}

// "NAME=VALUE" cut at the first "="; false when there is none or no name.
bool split_assignment (const std::string &text, std::string &name, std::string &value)
{
  const std::size_t equals = text.find ('=');
  if (equals == 0 || equals == std::string::npos)
    return false;
  name = text.substr (0, equals);
  value = text.substr (equals + 1);
  return true;
}

Vok_Status output_status (const std::ostream &out)
{
  if (out)
    return {};
  return {Vok_Result::io_error, "cannot write the output"};
}
}

void vok_cli_print_interface (const Vok_Function_Interface &interface, std::ostream &out)
{
  out << interface.name << (interface.description.empty () ? "" : ": ") << interface.description << '\n';
  if (!interface.parameters.empty ())
    {
      out << "Parameters:\n";
      std::vector<std::vector<std::string>> rows;
      for (const Vok_Function_Parameter &parameter : interface.parameters)
        {
          const bool sent = parameter.parameter_class == Vok_Parameter_Class::exporting;
          rows.push_back ({parameter.name, sent ? "in" : "out", type_text (parameter.column ()),
                           !sent ? "" : parameter.optional ? "optional" : "required", parameter.description});
        }
      write_lines (out, aligned ("  ", rows));
    }
  if (!interface.tables.empty ())
    {
      out << "Tables:\n";
      std::vector<std::vector<std::string>> rows;
      for (const Vok_Function_Table &table : interface.tables)
        rows.push_back ({table.name, table.input_only ? "in" : "in/out",
                         "line of " + std::to_string (table.line_bytes) + " bytes",
                         table.structure.empty () ? "" : "structure " + table.structure, table.description});
      // The tables are aligned among themselves, each followed by its fields.
      const std::vector<std::string> table_lines = aligned ("  ", rows);
      for (std::size_t t = 0; t < interface.tables.size (); ++t)
        {
          out << table_lines[t] << '\n';
          std::vector<std::vector<std::string>> fields;
          for (const Vok_Column &field : interface.tables[t].fields)
            fields.push_back (
              {field.name, type_text (field), "at " + std::to_string (field.offset), field.description});
          write_lines (out, aligned ("    ", fields));
        }
    }
  if (!interface.exceptions.empty ())
    {
      out << "Exceptions:\n";
      std::vector<std::vector<std::string>> rows;
      for (const Vok_Function_Exception &exception : interface.exceptions)
        rows.push_back ({exception.name, exception.description});
      write_lines (out, aligned ("  ", rows));
    }
}

Vok_Cli_Call::Vok_Cli_Call (CLI::App &app)
{
  command_ = app.add_subcommand ("call", "Log on to SAP through the VOK server, describe an RFC function module and "
                                         "call it");
  command_->footer (
    "Values: --param NAME=VALUE for each parameter the module takes (text as vokcli prints values: 20240131 for a "
    "date, -12.34 for a packed number, hexadecimal for raw bytes); optional ones left out are sent initial. "
    "--table NAME=FILE.csv sends the rows of a CSV file whose header line names the table's fields.\n"
    "Output: the parameters returned as NAME=value lines, then each returned table under a line \"TABLE <name> "
    "(<n> rows)\" as csv or jsonl; with --describe the interface instead. Errors on standard error, the server's "
    "error lines as they came (\"E,...\").\n"
    "Exit codes: 0 called (or described); 1 the server reported errors, the module raised an exception, or the "
    "logon was refused; 2 no connection, no answer the protocol allows, or the output could not be written; 3 the "
    "command line cannot be carried out (also values the module's interface does not take).");
  logon_ = std::make_unique<Vok_Cli_Logon> (*command_, "call");
  command_->add_option ("module", module_, "Name of the RFC function module")->required ();
  command_->add_flag ("-v,--verbose", verbose_,
                      "Also print the handle, the program lines and the system information on standard error");
  CLI::Option *describe = command_->add_flag ("--describe", describe_, "Print the module's interface, do not call it");
  command_->add_option ("--param", params_, "Value of a parameter the module takes, NAME=VALUE")
    ->expected (1)
    ->allow_extra_args (false)
    ->multi_option_policy (CLI::MultiOptionPolicy::TakeAll)
    ->excludes (describe);
  command_->add_option ("--table", tables_, "Rows of a table, NAME=FILE.csv with a header line of field names")
    ->expected (1)
    ->allow_extra_args (false)
    ->multi_option_policy (CLI::MultiOptionPolicy::TakeAll)
    ->excludes (describe);
  command_->add_option ("--format", format_, "Returned tables as csv (a header line, then a line per row) or jsonl "
                                             "(an object per row)")
    ->check (CLI::IsMember ({"csv", "jsonl"}))
    ->capture_default_str ();
}

bool Vok_Cli_Call::read_arguments (Vok_Function_Arguments &arguments, std::string &problem) const
{
  std::string name;
  std::string value;
  for (const std::string &param : params_)
    {
      if (!split_assignment (param, name, value))
        {
          problem = "--param \"" + param + "\" is not NAME=VALUE";
          return false;
        }
      arguments.values.emplace_back (name, value);
    }
  for (const std::string &table : tables_)
    {
      if (!split_assignment (table, name, value) || value.empty ())
        {
          problem = "--table \"" + table + "\" is not NAME=FILE.csv";
          return false;
        }
      std::string text;
      std::vector<std::vector<std::string>> records;
      if (!vok_cli_read_file (value, Vok_Xml_Element::max_document_bytes, text, problem)
          || !vok_cli_parse_csv (text, records, problem))
        {
          problem = "--table " + name + ": " + problem;
          return false;
        }
      if (records.empty ())
        {
          problem = "--table " + name + ": " + value + " has no header line naming the fields";
          return false;
        }
      Vok_Table_Rows rows;
      rows.fields = std::move (records.front ());
      rows.rows.assign (std::make_move_iterator (records.begin () + 1), std::make_move_iterator (records.end ()));
      arguments.tables.emplace_back (name, std::move (rows));
    }
  return true;
}

int Vok_Cli_Call::run ()
{
  Vok_Function_Arguments arguments;
  std::string problem;
  if (!read_arguments (arguments, problem))
    {
      std::cerr << prefix << problem << '\n';
      return vok_cli_usage;
    }
  std::string logon_text;
  if (!logon_->write_document (logon_text, problem))
    {
      std::cerr << prefix << problem << '\n';
      return vok_cli_usage;
    }

  Vok_Connection control (logon_->connection_options ());
  Vok_Logon_Reply reply;
  if (const int code = logon_->log_on (control, logon_text, verbose_, std::cerr, reply); code != vok_cli_success)
    return code;
  if (verbose_)
    std::cerr << "system: " << reply.system_info << '\n';

  Vok_Function_Settings settings;
  settings.connection = logon_->connection_options ();
  const Vok_Function_Call calls (settings);
  const Vok_Function_Description described = calls.describe (logon_->host (), logon_->port (), control.handle (),
                                                             module_);
  if (verbose_)
    for (const std::string &line : described.other_lines)
      std::cerr << "program: " << line << '\n';
  if (described.outcome != Vok_Function_Outcome::completed)
    {
      for (const std::string &line : described.error_lines)
        std::cerr << "E," << line << '\n';
      std::cerr << prefix << "cannot describe " << module_ << ": " << described.status.message () << '\n';
      return described.outcome == Vok_Function_Outcome::server_error ? vok_cli_refused : vok_cli_connection;
    }
  const Vok_Function_Interface &interface = described.interface;
  if (describe_)
    {
      vok_cli_print_interface (interface, std::cout);
      std::cout.flush ();
      if (Vok_Status status = output_status (std::cout); !status.ok ())
        {
          std::cerr << prefix << status.message () << '\n';
          return vok_cli_connection;
        }
      return vok_cli_success;
    }

  // Values the interface does not take are the command line's fault.
  Vok_Function_Document document;
  if (Vok_Status status = Vok_Function_Call::make_document (interface, arguments, document); !status.ok ())
    {
      std::cerr << prefix << status.message () << '\n';
      return vok_cli_usage;
    }
  const Vok_Function_Result result = calls.call (logon_->host (), logon_->port (), control.handle (), interface,
                                                 arguments);
  if (verbose_)
    for (const std::string &line : result.other_lines)
      std::cerr << "program: " << line << '\n';
  if (result.outcome == Vok_Function_Outcome::completed)
    return print_result (result, std::cout);

  for (const std::string &line : result.error_lines)
    std::cerr << "E," << line << '\n';
  if (result.outcome == Vok_Function_Outcome::server_error && !result.exception.empty ())
    {
      const Vok_Function_Exception *known = interface.exception (result.exception);
      std::cerr << prefix << interface.name << " raised the exception " << result.exception
                << (known && !known->description.empty () ? ": " + known->description : std::string ()) << '\n';
      return vok_cli_refused;
    }
  std::cerr << prefix << result.status.message () << '\n';
  return result.outcome == Vok_Function_Outcome::server_error ? vok_cli_refused : vok_cli_connection;
}

int Vok_Cli_Call::print_result (const Vok_Function_Result &result, std::ostream &out) const
{
  const auto decode_failure = [&out] (const Vok_Status &status, const std::string &where) {
    out.flush ();
    std::cerr << prefix << where << status.message () << '\n';
    return vok_cli_connection;
  };
  std::string text;
  for (const Vok_Received_Value &value : result.parameters)
    {
      if (Vok_Status status = vok_decode_value (value.column, value.bytes, text); !status.ok ())
        return decode_failure (status, "returned value: ");
      out << value.name << '=' << text << '\n';
    }
  const Vok_Cli_Format format = format_ == "jsonl" ? Vok_Cli_Format::jsonl : Vok_Cli_Format::csv;
  for (const Vok_Received_Table &table : result.tables)
    {
      const std::size_t rows = table.lines.size ();
      out << "TABLE " << table.name << " (" << rows << (rows == 1 ? " row)\n" : " rows)\n");
      const std::unique_ptr<Vok_Cli_Writer> writer = Vok_Cli_Writer::make (format, out);
      std::vector<Vok_Cli_Output_Column> columns;
      for (const Vok_Column &column : table.layout.columns)
        columns.push_back ({column.name, vok_is_number_type (column.type), 0});
      writer->begin (columns);
      std::vector<Vok_Cli_Cell> cells (columns.size ());
      for (std::size_t r = 0; r < rows; ++r)
        {
          for (std::size_t i = 0; i < cells.size (); ++i)
            {
              const Vok_Column &column = table.layout.columns[i];
              if (Vok_Status status = vok_decode_value (column, table.lines[r], cells[i].text); !status.ok ())
                return decode_failure (status, "table " + table.name + ", row " + std::to_string (r + 1) + ": ");
              cells[i].number = is_json_number (column, cells[i].text);
            }
          writer->row (cells);
        }
      writer->end (rows);
    }
  out.flush ();
  if (Vok_Status status = output_status (out); !status.ok ())
    {
      std::cerr << prefix << status.message () << '\n';
      return vok_cli_connection;
    }
  return vok_cli_success;
}
