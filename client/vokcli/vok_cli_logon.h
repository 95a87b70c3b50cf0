#ifndef VOK_CLI_LOGON_H
#define VOK_CLI_LOGON_H

#include "vok_connect_document.h"
#include "vok_connection.h"
#include "vok_connection_options.h"
#include "vok_logon.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

// The options and the steps that log a connection on, for every vokcli
// command that needs a logon: --host, --port, --timeout, the logon options
// (attributes of the connect document), the password options and the
// server program options.
class Vok_Cli_Logon
{
public:
  // Adds the options to `command`; `name` ("connect", "select") begins the
  // messages.
  Vok_Cli_Logon (CLI::App &command, std::string name);
  Vok_Cli_Logon (const Vok_Cli_Logon &) = delete;
  Vok_Cli_Logon &operator= (const Vok_Cli_Logon &) = delete;

  // The connect document text made of the parsed options. False, with
  // `problem` set, when they cannot be carried out (an unset --password-env,
  // --encrypt without a password or with one it cannot encrypt, a value XML
  // cannot carry). The secrets given are wiped either way.
  bool write_document (std::string &text, std::string &problem);

  // Connection settings with --timeout for connecting and for each reply.
  Vok_Connection_Options connection_options () const;
  const std::string &host () const { return host_; }
  std::uint16_t port () const { return static_cast<std::uint16_t> (port_); }

  // Connects `connection`, sends the connect document `text` (wiped once
  // sent) and reads the reply. With `verbose` the handle and the program
  // lines go to `verbose_out`. Returns vok_cli_success with the connection
  // logged on and `reply` filled; otherwise prints the refusal or the
  // problem on standard error and returns the exit code.
  int log_on (Vok_Connection &connection, std::string &text, bool verbose, std::ostream &verbose_out,
              Vok_Logon_Reply &reply) const;

private:
  // Fills the password attribute from the options; false with `problem` set
  // when they cannot be carried out.
  bool set_password (Vok_Connect_Document &document, std::string &problem) const;

  std::string name_;
  std::string host_ = "127.0.0.1";
  int port_ = 0;
  double timeout_seconds_ = 30;
  std::optional<std::string> password_;
  std::optional<std::string> password_env_;
  bool encrypt_ = false;
  bool trace_ = false;
  // The logon attributes the options set directly.
  Vok_Connect_Document logon_;
};

// Overwrites a secret before its memory is freed.
void vok_cli_wipe (std::string &text);
void vok_cli_wipe (std::optional<std::string> &text);

#endif
