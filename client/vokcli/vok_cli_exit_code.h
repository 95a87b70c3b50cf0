#ifndef VOK_CLI_EXIT_CODE_H
#define VOK_CLI_EXIT_CODE_H

// The exit codes of vokcli (docs/vokcli.md).
enum Vok_Cli_Exit_Code
{
  vok_cli_success = 0,
  vok_cli_refused = 1,     // the server answered with error lines
  vok_cli_connection = 2,  // no connection, or no answer the protocol allows
  vok_cli_usage = 3        // the command line cannot be carried out as given
};

#endif
