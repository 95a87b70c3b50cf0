#ifndef VURUDE_SERVICE_H
#define VURUDE_SERVICE_H

// The server start-up: brings up the libraries the server depends on and
// runs the process-wide reactor's event loop until a stop control ends it.
class Options;

struct Vurude_Service
{
  explicit Vurude_Service (Options &server_options) : options (server_options) {}

  // Returns 0; the event loop ends at once unless the calling thread owns
  // the reactor.
  int run ();

  Options &options;
};

#endif
