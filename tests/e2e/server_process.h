#ifndef VURUDE_TEST_SERVER_PROCESS_H
#define VURUDE_TEST_SERVER_PROCESS_H

#include "child_process.h"

#include <chrono>
#include <string>
#include <vector>

// A loopback port that nothing listens on at the moment of the call.
int free_tcp_port ();

// vurude_server as a child process in console mode: started on a free main
// port and ready once it logs that the port listens.
class Server_Process
{
public:
  // Starts the server with `-d 3 -p <port>` and the extra arguments; false
  // (with the reason in `error`) when it does not listen within the time.
  bool start (std::vector<std::string> extra, std::string &error, int port = 0);
  int port () const { return port_; }
  vurude::test::ChildProcess &process () { return process_; }
  // Threads, open descriptors and resident KiB (VmRSS) of the server
  // process now; -1 when they cannot be read.
  int thread_count () const;
  int descriptor_count () const;
  long resident_kib () const;

private:
  vurude::test::ChildProcess process_;
  int port_ = 0;
};

#endif
