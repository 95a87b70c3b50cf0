#include "vok_cli_logon.h"

#include "vok_cli_exit_code.h"
#include "vok_password.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <utility>

void vok_cli_wipe (std::string &text)
{
  if (!text.empty ())
    explicit_bzero (text.data (), text.size ());
  text.clear ();
}

void vok_cli_wipe (std::optional<std::string> &text)
{
  if (text)
    vok_cli_wipe (*text);
}

Vok_Cli_Logon::Vok_Cli_Logon (CLI::App &command, std::string name)
  : name_ (std::move (name))
{
  command.add_option ("--host", host_, "Host of the VOK server")->capture_default_str ();
  command.add_option ("--port", port_, "Main port of the VOK server")->required ()->check (CLI::Range (1, 65535));
  command.add_option ("--timeout", timeout_seconds_,
                      "Seconds to wait for the connection and for each line of the answer")
    ->check (CLI::Range (0.001, 86400.0))
    ->capture_default_str ();

  const char *const logon = "Logon";
  command.add_option ("--ashost", logon_.ashost, "SAP application server host (ashost)")->group (logon);
  command.add_option ("--sysnr", logon_.sysnr, "SAP system number (sysnr)")->group (logon);
  command.add_option ("--gwhost", logon_.gwhost, "SAP gateway host (gwhost)")->group (logon);
  command.add_option ("--gwserv", logon_.gwserv, "SAP gateway service (gwserv)")->group (logon);
  command.add_option ("--mshost", logon_.mshost, "SAP message server host (mshost)")->group (logon);
  command.add_option ("--r3name", logon_.r3name, "SAP system name for a message server logon (r3name)")
    ->group (logon);
  command.add_option ("--group", logon_.group, "SAP logon group (group)")->group (logon);
  command.add_option ("--dest", logon_.dest, "RFC destination (dest)")->group (logon);
  command.add_option ("--saplogon-id", logon_.saplogon_id, "SAP logon entry (saplogon_id)")->group (logon);
  command.add_option ("--client", logon_.client, "SAP client (client)")->group (logon);
  command.add_option ("--user", logon_.user, "SAP user (user)")->group (logon);
  command.add_option ("--lang", logon_.lang, "Logon language (lang)")->group (logon);
  command.add_option ("--cstring", logon_.cstring,
                      "Raw connect-string fragment appended as it is, e.g. 'ashost=\"h\" sysnr=\"00\"' (cstring)")
    ->group (logon);
  command.add_flag ("--trace", trace_, "Ask for an RFC trace of the logon's connections (trace=\"1\")")
    ->group (logon);

  const char *const password = "Password (never printed)";
  CLI::Option *plain = command.add_option ("--password", password_, "SAP password in plain text")->group (password);
  CLI::Option *env = command.add_option ("--password-env", password_env_,
                                         "Name of an environment variable that holds the SAP password")
                       ->group (password);
  plain->excludes (env);
  CLI::Option *encrypt = command.add_flag ("--encrypt", encrypt_,
                                           "Send the password encrypted (xpasswd) instead of in plain text (passwd)")
                           ->group (password);
  command.add_option ("--xpasswd", logon_.xpasswd, "Send this encrypted password text as it is (xpasswd), for tests")
    ->group (password)
    ->excludes (encrypt);

  const char *const program = "Server program";
  command.add_option ("--abapfm", logon_.abapfm, "Dialog function module of the logon (abapfm)")->group (program);
  command.add_option ("--abapprog", logon_.abapprog, "Read report of the logon (abapprog)")->group (program);
  command.add_option ("--vokdebug", logon_.vokdebug, "Debug flag of the logon's requests (vokdebug)")
    ->group (program);
}

bool Vok_Cli_Logon::set_password (Vok_Connect_Document &document, std::string &problem) const
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
      vok_cli_wipe (secret);
      return true;
    }
  std::string encrypted;
  const Vok_Status status = vok_encode_password (secret, encrypted);
  vok_cli_wipe (secret);
  if (!status.ok ())
    {
      problem = status.message ();
      return false;
    }
  document.xpasswd = std::move (encrypted);
  return true;
}

bool Vok_Cli_Logon::write_document (std::string &text, std::string &problem)
{
  Vok_Connect_Document document = logon_;
  if (trace_)
    document.trace = true;
  problem.clear ();
  if (set_password (document, problem))
    {
      const Vok_Status status = document.write (text);
      if (!status.ok ())
        problem = status.message ();
    }
  vok_cli_wipe (password_);
  vok_cli_wipe (logon_.xpasswd);
  vok_cli_wipe (document.passwd);
  vok_cli_wipe (document.xpasswd);
  if (problem.empty ())
    return true;
  vok_cli_wipe (text);
  return false;
}

Vok_Connection_Options Vok_Cli_Logon::connection_options () const
{
  Vok_Connection_Options options;
  const auto timeout = std::chrono::milliseconds (std::max (1LL, std::llround (timeout_seconds_ * 1000)));
  options.connect_timeout = timeout;
  options.reply_timeout = timeout;
  return options;
}

int Vok_Cli_Logon::log_on (Vok_Connection &connection, std::string &text, bool verbose, std::ostream &verbose_out,
                           Vok_Logon_Reply &reply) const
{
  const std::string prefix = "vokcli " + name_ + ": ";
  if (Vok_Status status = connection.connect (host_, port ()); !status.ok ())
    {
      vok_cli_wipe (text);
      std::cerr << prefix << status.message () << '\n';
      return vok_cli_connection;
    }
  if (verbose)
    verbose_out << "handle: " << connection.handle () << '\n';

  reply = Vok_Logon ().log_on (connection, text);
  vok_cli_wipe (text);
  if (verbose)
    for (const std::string &line : reply.program_lines)
      verbose_out << "program: " << line << '\n';
  switch (reply.outcome)
    {
    case Vok_Logon_Outcome::logged_on:
      return vok_cli_success;
    case Vok_Logon_Outcome::refused:
      verbose_out.flush ();
      for (const std::string &line : reply.error_lines)
        std::cerr << "E," << line << '\n';
      std::cerr << prefix << "the server refused the logon";
      if (!reply.status.ok ())
        std::cerr << " (the reply was cut short: " << reply.status.message () << ")";
      std::cerr << '\n';
      return vok_cli_refused;
    case Vok_Logon_Outcome::failed:
      break;
    }
  verbose_out.flush ();
  std::cerr << prefix << "no logon on " << host_ << ":" << port_ << ": " << reply.status.message () << '\n';
  return vok_cli_connection;
}
