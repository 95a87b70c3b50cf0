#ifndef VOK_CLI_CONNECT_H
#define VOK_CLI_CONNECT_H

#include "vok_connect_document.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

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
  // Fills the password attribute from the options; false with `problem` set
  // when they cannot be carried out.
  bool set_password (Vok_Connect_Document &document, std::string &problem) const;

  CLI::App *command_ = nullptr;
  std::string host_ = "127.0.0.1";
  int port_ = 0;
  double timeout_seconds_ = 30;
  bool verbose_ = false;
  std::optional<std::string> password_;
  std::optional<std::string> password_env_;
  bool encrypt_ = false;
  bool trace_ = false;
  // The logon attributes the options set directly.
  Vok_Connect_Document logon_;
};

#endif
