#include "vok_cli_select.h"

#include "vok_cli_exit_code.h"
#include "vok_connection.h"
#include "vok_extraction.h"
#include "vok_logon.h"
#include "vok_value_decoder.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>

namespace
{
const char *const prefix = "vokcli select: ";

// Characters the widest value of a column takes as text.
std::size_t value_width (const Vok_Column &column)
{
  switch (column.type)
    {
    case Vok_Column_Type::character:
    case Vok_Column_Type::numeric: return column.bytes / 2;
    case Vok_Column_Type::date: return 8;
    case Vok_Column_Type::time: return 6;
    case Vok_Column_Type::int4: return 11;
    case Vok_Column_Type::int2: return 6;
    case Vok_Column_Type::int1: return 3;
    case Vok_Column_Type::int8: return 20;
    case Vok_Column_Type::float8: return 24;
    case Vok_Column_Type::packed: return 2 * column.bytes + (column.decimals > 0 ? 1 : 0);
    case Vok_Column_Type::raw: return 2 * column.bytes;
    }
  return 0;
}

std::vector<Vok_Cli_Output_Column> output_columns (const Vok_Layout &layout)
{
  std::vector<Vok_Cli_Output_Column> columns;
  for (const Vok_Column &column : layout.columns)
    columns.push_back ({column.name, vok_is_number_type (column.type), value_width (column)});
  return columns;
}

// Infinities and NaN are numbers in a double but not in JSON.
bool is_json_number (const Vok_Column &column, const std::string &text)
{
  if (!vok_is_number_type (column.type))
    return false;
  return column.type != Vok_Column_Type::float8 || (text != "nan" && text != "-nan" && text != "inf"
                                                     && text != "-inf");
}

// The columns of a layout as rows: name, type, bytes, decimals, offset, description.
void write_metadata (Vok_Cli_Writer &writer, const Vok_Layout &layout)
{
  std::vector<Vok_Cli_Output_Column> columns {{"name", false, 0},     {"type", false, 0},
                                              {"bytes", true, 0},     {"decimals", true, 0},
                                              {"offset", true, 0},    {"description", false, 0}};
  std::vector<std::vector<Vok_Cli_Cell>> rows;
  for (const Vok_Column &column : layout.columns)
    {
      rows.push_back ({{column.name, false},
                       {std::string (1, static_cast<char> (column.type)), false},
                       {std::to_string (column.bytes), true},
                       {std::to_string (column.decimals), true},
                       {std::to_string (column.offset), true},
                       {column.description, false}});
      for (std::size_t i = 0; i < columns.size (); ++i)
        columns[i].width = std::max (columns[i].width, vok_cli_text_width (rows.back ()[i].text));
    }
  writer.begin (columns);
  for (const std::vector<Vok_Cli_Cell> &row : rows)
    writer.row (row);
  writer.end (rows.size ());
}

void print_progress (const Vok_Extraction_Progress &progress)
{
  const double seconds = std::chrono::duration<double> (progress.elapsed).count ();
  const double rows_per_second = seconds > 0 ? static_cast<double> (progress.rows) / seconds : 0;
  const double megabytes_per_second = seconds > 0 ? static_cast<double> (progress.bytes) / 1e6 / seconds : 0;
  char line[160];
  std::snprintf (line, sizeof line, "rows %llu, bytes %llu, %.0f rows/s, %.1f MB/s\n",
                 static_cast<unsigned long long> (progress.rows), static_cast<unsigned long long> (progress.bytes),
                 rows_per_second, megabytes_per_second);
  std::cerr << line << std::flush;
}
}

Vok_Cli_Select::Vok_Cli_Select (CLI::App &app)
{
  command_ = app.add_subcommand ("select", "Log on to SAP through the VOK server, run one select and write its rows");
  command_->footer (
    "Tables: --table NAME[:ALIAS[:JOIN]] (JOIN inner or left); several tables are joined, their conditions "
    "given by --on after each table. Fields: --field \"[TABLE~]NAME [AS ALIAS]\", \"AGG([DISTINCT] NAME) [AS "
    "ALIAS]\" (AGG avg, count, max, min, sum), \"count(*)\"; without --field all columns. --nested runs several "
    "statements, separated by --then, each with one --table, its --field, --where and --on options.\n"
    "Output: the rows on standard output (or --output) as csv (header line first), jsonl or table; errors on "
    "standard error, the server's error lines as they came (\"E,...\").\n"
    "Exit codes: 0 all rows written; 1 the server reported errors (or refused the logon); 2 no connection, no "
    "answer the protocol allows, or the output could not be written; 3 the command line cannot be carried out.");
  logon_ = std::make_unique<Vok_Cli_Logon> (*command_, "select");
  command_->add_flag ("-v,--verbose", verbose_,
                      "Also print the handle, the program lines and the system information on standard error");

  const char *const statement = "Statement";
  const auto repeated = [&] (const char *name, std::vector<std::string> &values, const char *help) {
    return command_->add_option (name, values, help)
      ->expected (1)
      ->allow_extra_args (false)
      ->multi_option_policy (CLI::MultiOptionPolicy::TakeAll)
      ->group (statement);
  };
  table_option_
    = repeated ("--table", tables_, "Table NAME[:ALIAS[:JOIN]]; later tables are joined (JOIN inner or left)");
  on_option_ = repeated ("--on", ons_, "Join condition of the --table before it");
  field_option_ = repeated ("--field", fields_, "Field \"[TABLE~]NAME [AS ALIAS]\" or \"AGG(NAME) [AS ALIAS]\"");
  where_option_ = repeated ("--where", wheres_, "Condition; long ones are cut into lines of 72 characters");
  command_->add_option ("--group-by", group_by_, "Fields to group by")->group (statement);
  command_->add_option ("--having", having_, "Condition on the groups")->group (statement);
  command_->add_option ("--order-by", order_by_, "Fields to order by")->group (statement);
  command_->add_flag ("--distinct", distinct_, "Only distinct rows")->group (statement);
  command_->add_flag ("--nested", nested_, "Several statements (nselect), separated by --then")->group (statement);
  then_option_
    = command_->add_flag ("--then", then_count_, "With --nested: start the next statement")->group (statement);

  const char *const output = "Output";
  command_->add_flag ("--metadata-only", metadata_only_, "Write the columns of the result instead of its rows")
    ->group (output);
  command_->add_option ("--format", format_, "csv (a header line, then a line per row), jsonl (an object per "
                                             "row) or table (aligned columns)")
    ->check (CLI::IsMember ({"csv", "jsonl", "table"}))
    ->capture_default_str ()
    ->group (output);
  command_->add_option ("--output", output_, "Write to this file instead of standard output")->group (output);
  CLI::Option *progress = command_->add_flag (
    "--progress", progress_, "A progress line on standard error every second and at the end (default when "
                             "standard error is a terminal)")->group (output);
  command_->add_flag ("--no-progress", no_progress_, "No progress lines")->group (output)->excludes (progress);
  command_->add_flag ("--batch", batch_, "Run the select as an SAP background job (batch=\"Y\")")->group (statement);
}

bool Vok_Cli_Select::read_statements (Vok_Cli_Query &query, std::string &problem) const
{
  query.nested = nested_;
  query.group_by = group_by_;
  query.having = having_;
  query.order_by = order_by_;
  query.distinct = distinct_;
  query.statements.emplace_back ();
  std::map<const CLI::Option *, std::size_t> taken;
  for (const CLI::Option *option : command_->parse_order ())
    {
      const std::size_t index = taken[option]++;
      Vok_Cli_Statement &statement = query.statements.back ();
      if (option == then_option_)
        {
          query.statements.emplace_back ();
          continue;
        }
      if (option != table_option_ && option != on_option_ && option != field_option_ && option != where_option_)
        continue;
      const std::string &value = option->results ().at (index);
      if (option == table_option_)
        {
          Vok_Xml_Element table ("table");
          if (!vok_cli_parse_table (value, table, problem))
            return false;
          statement.tables.push_back (std::move (table));
        }
      else if (option == on_option_)
        {
          if (statement.tables.empty ())
            {
              problem = "--on \"" + value + "\" comes before any --table of its statement";
              return false;
            }
          std::vector<Vok_Xml_Element> conditions;
          if (!vok_cli_clause_elements ("--on", "on", value, conditions, problem))
            return false;
          for (Vok_Xml_Element &condition : conditions)
            statement.tables.back ().add_child (std::move (condition));
          statement.has_on = true;
        }
      else if (option == field_option_)
        {
          Vok_Xml_Element field ("field");
          if (!vok_cli_parse_field (value, field, problem))
            return false;
          statement.fields.push_back (std::move (field));
        }
      else
        {
          if (statement.where)
            {
              problem = "--where given twice for one statement: join the conditions with AND in one --where";
              return false;
            }
          statement.where = value;
        }
    }
  return true;
}

int Vok_Cli_Select::run ()
{
  Vok_Cli_Query query;
  Vok_Select_Document select (Vok_Select_Type::sselect);
  std::string problem;
  if (!read_statements (query, problem) || !vok_cli_build_select (query, select, problem))
    {
      std::cerr << prefix << problem << '\n';
      return vok_cli_usage;
    }
  select.data = !metadata_only_;
  select.metadata = true;
  if (batch_)
    select.batch = true;
  // A document XML cannot carry is refused before anything is sent.
  std::string select_text;
  if (Vok_Status checked = select.write (select_text); !checked.ok ())
    {
      std::cerr << prefix << checked.message () << '\n';
      return vok_cli_usage;
    }
  std::string logon_text;
  if (!logon_->write_document (logon_text, problem))
    {
      std::cerr << prefix << problem << '\n';
      return vok_cli_usage;
    }

  std::ofstream file;
  std::ostream *out = &std::cout;
  if (output_)
    {
      file.open (*output_, std::ios::binary | std::ios::trunc);
      if (!file)
        {
          vok_cli_wipe (logon_text);
          std::cerr << prefix << "cannot open --output " << *output_ << ": " << std::strerror (errno) << '\n';
          return vok_cli_usage;
        }
      out = &file;
    }

  Vok_Connection control (logon_->connection_options ());
  Vok_Logon_Reply reply;
  if (const int code = logon_->log_on (control, logon_text, verbose_, std::cerr, reply); code != vok_cli_success)
    return code;
  if (verbose_)
    std::cerr << "system: " << reply.system_info << '\n';

  Vok_Extraction_Settings settings;
  settings.connection = logon_->connection_options ();
  const Vok_Cli_Format format = format_ == "jsonl"   ? Vok_Cli_Format::jsonl
                                : format_ == "table" ? Vok_Cli_Format::table
                                                     : Vok_Cli_Format::csv;
  const std::unique_ptr<Vok_Cli_Writer> writer = Vok_Cli_Writer::make (format, *out);
  const auto written = [this, out] { return output_status (*out); };
  std::vector<Vok_Cli_Cell> cells;
  std::uint64_t rows = 0;
  Vok_Extraction_Handlers handlers;
  handlers.on_layout = [&] (const Vok_Layout &layout) {
    writer->begin (output_columns (layout));
    cells.resize (layout.columns.size ());
    return written ();
  };
  handlers.on_row = [&] (std::string_view row, const Vok_Layout &layout) -> Vok_Status {
    ++rows;
    for (std::size_t i = 0; i < layout.columns.size (); ++i)
      {
        const Vok_Column &column = layout.columns[i];
        if (Vok_Status status = vok_decode_value (column, row, cells[i].text); !status.ok ())
          return {status.result (), "row " + std::to_string (rows) + ": " + status.message ()};
        cells[i].number = is_json_number (column, cells[i].text);
      }
    writer->row (cells);
    return written ();
  };
  if (progress_ || (!no_progress_ && ::isatty (STDERR_FILENO)))
    handlers.on_progress = print_progress;

  const Vok_Extraction_Result result
    = Vok_Extraction (settings).run (logon_->host (), logon_->port (), control.handle (), select, handlers);
  if (verbose_)
    for (const std::string &line : result.other_lines)
      std::cerr << "program: " << line << '\n';

  return finish (result, *writer, *out);
}

Vok_Status Vok_Cli_Select::output_status (const std::ostream &out) const
{
  if (out)
    return {};
  return {Vok_Result::io_error, "cannot write the output" + (output_ ? " to " + *output_ : std::string ())};
}

int Vok_Cli_Select::finish (const Vok_Extraction_Result &result, Vok_Cli_Writer &writer, std::ostream &out) const
{
  if (result.outcome == Vok_Extraction_Outcome::completed)
    {
      if (!metadata_only_)
        writer.end (result.rows);
      else if (result.layout)
        write_metadata (writer, *result.layout);
      out.flush ();
      if (Vok_Status status = output_status (out); !status.ok ())
        {
          std::cerr << prefix << status.message () << '\n';
          return vok_cli_connection;
        }
      return vok_cli_success;
    }
  out.flush ();
  for (const std::string &line : result.error_lines)
    std::cerr << "E," << line << '\n';
  std::cerr << prefix << result.status.message () << '\n';
  return result.outcome == Vok_Extraction_Outcome::server_error ? vok_cli_refused : vok_cli_connection;
}
