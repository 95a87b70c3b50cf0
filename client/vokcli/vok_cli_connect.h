#ifndef VOK_CLI_CONNECT_H
#define VOK_CLI_CONNECT_H

#include "vok_cli_logon.h"

#include <CLI/CLI.hpp>

#include <memory>

// `vokcli connect`: opens a connection to the server's main port, logs it on
// with a connect document made from the options and prints the system
// information line.
class Vok_Cli_Connect
{
public:
  // Adds the subcommand to `app`.
  explicit Vok_Cli_Connect (CLI::App &app);
  Vok_Cli_Connect (const Vok_Cli_Connect &) = delete;
  Vok_Cli_Connect &operator= (const Vok_Cli_Connect &) = delete;

  CLI::App *command () const { return command_; }
  // Runs the parsed command; returns the exit code. The secrets given are
  // wiped once the document is written.
  int run ();

private:
  CLI::App *command_ = nullptr;
  std::unique_ptr<Vok_Cli_Logon> logon_;
  bool verbose_ = false;
};

#endif
