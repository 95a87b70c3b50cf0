#ifndef NT_VURUDE_SERVER_H
#define NT_VURUDE_SERVER_H

#include <ace/os_include/os_stddef.h>
#include <ace/ace_wchar.h>

class nt_vurude_service;

// Parses the command line into the service's options, then performs one
// service-control command, runs the server in the console (-d), or hands
// the process to the service manager. Returns 0 or -1 (the process's exit
// status): -1 for a failed command and for a server whose start failed;
// bad arguments end the process with status 1.
int dispatch_command (int argc, ACE_TCHAR *argv[], nt_vurude_service &service);

// Runs a service the manager started: called by the dispatcher on the
// service thread with the start arguments.
void service_main (int argc, ACE_TCHAR *argv[]);

#endif
