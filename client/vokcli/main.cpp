// vokcli: the reference VOK client on the command line (docs/vokcli.md).
//   vokcli connect --port N [--host H] [logon options]   log on and print the system information
//   vokcli select --port N [logon options] --table T ...  run one select and write its rows
//   vokcli call --port N [logon options] MODULE ...      describe or call an RFC function module
#include "vok_cli_call.h"
#include "vok_cli_connect.h"
#include "vok_cli_exit_code.h"
#include "vok_cli_select.h"

#include <CLI/CLI.hpp>

#include <cstring>
#include <string_view>

namespace
{
// A secret given on the command line stays visible in the process list for
// as long as the process runs; once parsed it is overwritten there.
void hide_secrets (int argc, char **argv)
{
  static const std::string_view secret_options[] = {"--password", "--xpasswd"};
  for (int i = 1; i < argc; ++i)
    {
      const std::string_view argument = argv[i];
      if (argument == "--")
        break;
      for (std::string_view option : secret_options)
        {
          if (argument == option && i + 1 < argc)
            std::memset (argv[i + 1], 'x', std::strlen (argv[i + 1]));
          else if (argument.size () > option.size () && argument.substr (0, option.size ()) == option
                   && argument[option.size ()] == '=')
            std::memset (argv[i] + option.size () + 1, 'x', argument.size () - option.size () - 1);
        }
    }
}
}

int main (int argc, char **argv)
{
  CLI::App app {"vokcli: the reference VOK client. It talks to a VOK RFC server (vurude_server) on its main port."};
  app.set_version_flag ("--version", "vokcli 4.2");
  app.require_subcommand (1);
  app.footer ("Run \"vokcli <command> --help\" for a command's options. Exit codes: 0 success; 1 the server "
              "refused the request; 2 connection or protocol problem; 3 command-line error.");
  Vok_Cli_Connect connect (app);
  Vok_Cli_Select select (app);
  Vok_Cli_Call call (app);

  try
    {
      app.parse (argc, argv);
    }
  catch (const CLI::ParseError &error)
    {
      hide_secrets (argc, argv);
      const int code = app.exit (error);
      return code == 0 ? vok_cli_success : vok_cli_usage;
    }
  hide_secrets (argc, argv);

  if (connect.command ()->parsed ())
    return connect.run ();
  if (select.command ()->parsed ())
    return select.run ();
  if (call.command ()->parsed ())
    return call.run ();
  return vok_cli_usage;
}
