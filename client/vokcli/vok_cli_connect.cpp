#include "vok_cli_connect.h"

#include "vok_cli_exit_code.h"
#include "vok_connection.h"
#include "vok_logon.h"

#include <iostream>
#include <string>

Vok_Cli_Connect::Vok_Cli_Connect (CLI::App &app)
{
  command_ = app.add_subcommand ("connect",
                                 "Log on to SAP through the VOK server and print the system information line");
  command_->footer (
    "Output: the system information line on standard output; with --verbose first \"handle: <handle>\" and "
    "one \"program: <line>\" per program line. A refused logon writes the server's error lines as they came "
    "(\"E,...\") to standard error. The logon ends when vokcli exits.\n"
    "Exit codes: 0 logged on; 1 the server refused the logon; 2 no connection, or no answer the protocol "
    "allows (closed, timed out); 3 the command line cannot be carried out.\n"
    "Prefer --password-env to --password: a password on the command line can be seen in the process list "
    "until vokcli has read it.");
  logon_ = std::make_unique<Vok_Cli_Logon> (*command_, "connect");
  command_->add_flag ("-v,--verbose", verbose_, "Also print the connection's handle and the program lines");
}

int Vok_Cli_Connect::run ()
{
  std::string text;
  std::string problem;
  if (!logon_->write_document (text, problem))
    {
      std::cerr << "vokcli connect: " << problem << '\n';
      return vok_cli_usage;
    }
  Vok_Connection connection (logon_->connection_options ());
  Vok_Logon_Reply reply;
  if (const int code = logon_->log_on (connection, text, verbose_, std::cout, reply); code != vok_cli_success)
    return code;
  std::cout << reply.system_info << '\n';
  return vok_cli_success;
}
