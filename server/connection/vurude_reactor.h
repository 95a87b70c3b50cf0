#ifndef VURUDE_REACTOR_H
#define VURUDE_REACTOR_H

#include <ace/Dev_Poll_Reactor.h>
#include <ace/Reactor.h>

// The event loop every listener and connection of the server runs on. It
// waits with epoll, so a socket is served whatever its descriptor number:
// the select-based reactor cannot watch descriptors of 1024 and above.
//
// Each socket event is delivered with the socket disarmed; a handler whose
// resume_handler() asks for it re-arms its socket itself once it is ready
// for more (see Vurude_Base_Handler::handle_input).
//
// Build it after the process's descriptor limit is final: its handler table
// is sized by that limit.
class Vurude_Reactor
{
public:
  Vurude_Reactor ();

  ACE_Reactor &reactor () { return reactor_; }

private:
  ACE_Dev_Poll_Reactor implementation_;
  ACE_Reactor reactor_;
};

#endif
