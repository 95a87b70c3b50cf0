#include "vok_cli_connect.h"

#include "vok_cli_exit_code.h"
#include "vok_connection.h"
#include "vok_logon.h"
#include "vok_password.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace
{
// Secrets are not left in freed memory.
void wipe (std::string &text)
{
  if (!text.empty ())
    explicit_bzero (text.data (), text.size ());
  text.clear ();
}

void wipe (std::optional<std::string> &text)
{
  if (text)
    wipe (*text);
}

void print_lines (const char *label, const std::vector<std::string> &lines)
{
  for (const std::string &line : lines)
    std::cout << label << line << '\n';
}
}

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

  command_->add_option ("--host", host_, "Host of the VOK server")->capture_default_str ();
  command_->add_option ("--port", port_, "Main port of the VOK server")->required ()->check (CLI::Range (1, 65535));
  command_->add_option ("--timeout", timeout_seconds_,
                        "Seconds to wait for the connection and for each line of the answer")
    ->check (CLI::Range (0.001, 86400.0))
    ->capture_default_str ();
  command_->add_flag ("-v,--verbose", verbose_, "Also print the connection's handle and the program lines");

  const char *const logon = "Logon";
  command_->add_option ("--ashost", logon_.ashost, "SAP application server host (ashost)")->group (logon);
  command_->add_option ("--sysnr", logon_.sysnr, "SAP system number (sysnr)")->group (logon);
  command_->add_option ("--gwhost", logon_.gwhost, "SAP gateway host (gwhost)")->group (logon);
  command_->add_option ("--gwserv", logon_.gwserv, "SAP gateway service (gwserv)")->group (logon);
  command_->add_option ("--mshost", logon_.mshost, "SAP message server host (mshost)")->group (logon);
  command_->add_option ("--r3name", logon_.r3name, "SAP system name for a message server logon (r3name)")
    ->group (logon);
  command_->add_option ("--group", logon_.group, "SAP logon group (group)")->group (logon);
  command_->add_option ("--dest", logon_.dest, "RFC destination (dest)")->group (logon);
  command_->add_option ("--saplogon-id", logon_.saplogon_id, "SAP logon entry (saplogon_id)")->group (logon);
  command_->add_option ("--client", logon_.client, "SAP client (client)")->group (logon);
  command_->add_option ("--user", logon_.user, "SAP user (user)")->group (logon);
  command_->add_option ("--lang", logon_.lang, "Logon language (lang)")->group (logon);
  command_->add_option ("--cstring", logon_.cstring,
                        "Raw connect-string fragment appended as it is, e.g. 'ashost=\"h\" sysnr=\"00\"' (cstring)")
    ->group (logon);
  command_->add_flag ("--trace", trace_, "Ask for an RFC trace of the logon's connections (trace=\"1\")")
    ->group (logon);

  const char *const password = "Password (never printed)";
  CLI::Option *plain = command_->add_option ("--password", password_, "SAP password in plain text")->group (password);
  CLI::Option *env = command_->add_option ("--password-env", password_env_,
                                           "Name of an environment variable that holds the SAP password")
                       ->group (password);
  plain->excludes (env);
  CLI::Option *encrypt = command_->add_flag ("--encrypt", encrypt_,
                                             "Send the password encrypted (xpasswd) instead of in plain text (passwd)")
                           ->group (password);
  command_->add_option ("--xpasswd", logon_.xpasswd,
                        "Send this encrypted password text as it is (xpasswd), for tests")
    ->group (password)
    ->excludes (encrypt);

  const char *const program = "Server program";
  command_->add_option ("--abapfm", logon_.abapfm, "Dialog function module of the logon (abapfm)")->group (program);
  command_->add_option ("--abapprog", logon_.abapprog, "Read report of the logon (abapprog)")->group (program);
  command_->add_option ("--vokdebug", logon_.vokdebug, "Debug flag of the logon's requests (vokdebug)")
    ->group (program);
}

bool Vok_Cli_Connect::set_password (Vok_Connect_Document &document, std::string &problem) const
{
  std::string secret;
  if (password_)
    secret = *password_;
  else if (password_env_)
    {
      const char *value = std::getenv (password_env_->c_str ());
      if (!value)
        {
          problem = "the environment variable " + *password_env_ + " (--password-env) is not set";
          return false;
        }
      secret = value;
    }
  else
    {
      if (encrypt_)
        {
          problem = "--encrypt needs a password (--password or --password-env)";
          return false;
        }
      return true;
    }
  if (!encrypt_)
    {
      document.passwd = secret;
      wipe (secret);
      return true;
    }
  std::string encrypted;
  const Vok_Status status = vok_encode_password (secret, encrypted);
  wipe (secret);
  if (!status.ok ())
    {
      problem = status.message ();
      return false;
    }
  document.xpasswd = std::move (encrypted);
  return true;
}

int Vok_Cli_Connect::run ()
{
  Vok_Connect_Document document = logon_;
  if (trace_)
    document.trace = true;
  std::string problem;
  std::string text;
  if (set_password (document, problem))
    {
      const Vok_Status status = document.write (text);
      if (!status.ok ())
        problem = status.message ();
    }
  wipe (password_);
  wipe (logon_.xpasswd);
  wipe (document.passwd);
  wipe (document.xpasswd);
  if (!problem.empty ())
    {
      std::cerr << "vokcli connect: " << problem << '\n';
      return vok_cli_usage;
    }

  Vok_Connection_Options options;
  const auto timeout = std::chrono::milliseconds (std::max (1LL, std::llround (timeout_seconds_ * 1000)));
  options.connect_timeout = timeout;
  options.reply_timeout = timeout;
  Vok_Connection connection (options);
  if (Vok_Status status = connection.connect (host_, static_cast<std::uint16_t> (port_)); !status.ok ())
    {
      wipe (text);
      std::cerr << "vokcli connect: " << status.message () << '\n';
      return vok_cli_connection;
    }
  if (verbose_)
    std::cout << "handle: " << connection.handle () << '\n';

  const Vok_Logon_Reply reply = Vok_Logon ().log_on (connection, text);
  wipe (text);
  if (verbose_)
    print_lines ("program: ", reply.program_lines);
  switch (reply.outcome)
    {
    case Vok_Logon_Outcome::logged_on:
      std::cout << reply.system_info << '\n';
      return vok_cli_success;
    case Vok_Logon_Outcome::refused:
      std::cout.flush ();
      for (const std::string &line : reply.error_lines)
        std::cerr << "E," << line << '\n';
      std::cerr << "vokcli connect: the server refused the logon";
      if (!reply.status.ok ())
        std::cerr << " (the reply was cut short: " << reply.status.message () << ")";
      std::cerr << '\n';
      return vok_cli_refused;
    case Vok_Logon_Outcome::failed:
      break;
    }
  std::cout.flush ();
  std::cerr << "vokcli connect: no logon on " << host_ << ":" << port_ << ": " << reply.status.message () << '\n';
  return vok_cli_connection;
}
