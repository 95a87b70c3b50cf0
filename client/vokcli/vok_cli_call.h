#ifndef VOK_CLI_CALL_H
#define VOK_CLI_CALL_H

#include "vok_cli_logon.h"
#include "vok_function_call.h"
#include "vok_function_interface.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

// `vokcli call`: logs on as `vokcli connect` does, describes a function
// module through the server and either prints its interface (--describe)
// or calls it with the values of --param and the rows of --table, and
// prints what it returns.
class Vok_Cli_Call
{
public:
  // Adds the subcommand to `app`.
  explicit Vok_Cli_Call (CLI::App &app);
  Vok_Cli_Call (const Vok_Cli_Call &) = delete;
  Vok_Cli_Call &operator= (const Vok_Cli_Call &) = delete;

  CLI::App *command () const { return command_; }
  // Runs the parsed command; returns the exit code.
  int run ();

private:
  // The --param and --table options as arguments; false with `problem` set.
  bool read_arguments (Vok_Function_Arguments &arguments, std::string &problem) const;
  // Writes the received parameters and tables; returns the exit code.
  int print_result (const Vok_Function_Result &result, std::ostream &out) const;

  CLI::App *command_ = nullptr;
  std::unique_ptr<Vok_Cli_Logon> logon_;
  std::string module_;
  bool describe_ = false;
  bool verbose_ = false;
  std::vector<std::string> params_;
  std::vector<std::string> tables_;
  std::string format_ = "csv";
};

// The interface of a function module for people: the function, its
// parameters, its tables with their fields, its exceptions.
void vok_cli_print_interface (const Vok_Function_Interface &interface, std::ostream &out);

#endif
