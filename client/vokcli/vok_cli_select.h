#ifndef VOK_CLI_SELECT_H
#define VOK_CLI_SELECT_H

#include "vok_cli_logon.h"
#include "vok_cli_output.h"
#include "vok_cli_query.h"
#include "vok_extraction.h"
#include "vok_status.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// `vokcli select`: logs on as `vokcli connect` does, runs one select through
// the server and writes its rows (or, with --metadata-only, its columns) as
// CSV, JSON lines or a table.
class Vok_Cli_Select
{
public:
  // Adds the subcommand to `app`.
  explicit Vok_Cli_Select (CLI::App &app);
  Vok_Cli_Select (const Vok_Cli_Select &) = delete;
  Vok_Cli_Select &operator= (const Vok_Cli_Select &) = delete;

  CLI::App *command () const { return command_; }
  // Runs the parsed command; returns the exit code.
  int run ();

private:
  // The statements of the command line, in the order its options came.
  bool read_statements (Vok_Cli_Query &query, std::string &problem) const;
  // Whether the output could be written so far.
  Vok_Status output_status (const std::ostream &out) const;
  // Ends the output and reports the outcome; returns the exit code.
  int finish (const Vok_Extraction_Result &result, Vok_Cli_Writer &writer, std::ostream &out) const;

  CLI::App *command_ = nullptr;
  std::unique_ptr<Vok_Cli_Logon> logon_;
  bool verbose_ = false;
  CLI::Option *table_option_ = nullptr;
  CLI::Option *on_option_ = nullptr;
  CLI::Option *field_option_ = nullptr;
  CLI::Option *where_option_ = nullptr;
  CLI::Option *then_option_ = nullptr;
  // Bound to the order-dependent options; read through the parse order.
  std::vector<std::string> tables_, ons_, fields_, wheres_;
  int then_count_ = 0;
  std::optional<std::string> group_by_;
  std::optional<std::string> having_;
  std::optional<std::string> order_by_;
  bool distinct_ = false;
  bool nested_ = false;
  bool metadata_only_ = false;
  bool batch_ = false;
  std::string format_ = "csv";
  std::optional<std::string> output_;
  bool progress_ = false;
  bool no_progress_ = false;
};

#endif
