#ifndef VURUDE_SERVICE_H
#define VURUDE_SERVICE_H

#include "vurude_port_lock.h"

#include "vurude_acceptor.h"

#include <ace/INET_Addr.h>

#include <memory>

class Options;
class Vurude_V9_Handler;
class Vurude_Compat_Handler;
class Vurude_Bcompat_Handler;

// The server start-up: brings up the libraries the server depends on, opens
// up to three listeners, each guarded by its port lock, and runs the
// process-wide reactor's event loop until a stop control ends it.
struct Vurude_Service
{
  typedef Vurude_Acceptor<Vurude_V9_Handler> V9_Acceptor;
  typedef Vurude_Acceptor<Vurude_Compat_Handler> Compat_Acceptor;
  typedef Vurude_Acceptor<Vurude_Bcompat_Handler> Bcompat_Acceptor;

  explicit Vurude_Service (Options &server_options);
  // Closes the listeners, then gives up the port locks.
  ~Vurude_Service ();

  // 0 after the event loop ended; -1 with errno 40 when a port was in use
  // or the main listener could not be opened.
  int run ();

  Options &options;
  std::unique_ptr<ACE_INET_Addr> port_addr;
  std::unique_ptr<ACE_INET_Addr> dialog_addr;
  std::unique_ptr<ACE_INET_Addr> batch_addr;
  std::unique_ptr<V9_Acceptor> acceptor;
  std::unique_ptr<Compat_Acceptor> dialog_acceptor;
  std::unique_ptr<Bcompat_Acceptor> batch_acceptor;
  std::unique_ptr<Vurude_Port_Lock> port_mutex;
  std::unique_ptr<Vurude_Port_Lock> dialog_mutex;
  std::unique_ptr<Vurude_Port_Lock> batch_mutex;

private:
  // Takes the port's lock and opens its listener: 0 listening, 1 when the
  // port is in use, -1 when it cannot listen (no listener then).
  template <typename ACCEPTOR>
  int open_listener (int port, const char *in_use_message, const char *cannot_listen_message,
                     std::unique_ptr<Vurude_Port_Lock> &lock, std::unique_ptr<ACE_INET_Addr> &address,
                     std::unique_ptr<ACCEPTOR> &listener);
  void log_library_versions ();
};

#endif
