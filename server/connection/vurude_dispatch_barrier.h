#ifndef VURUDE_DISPATCH_BARRIER_H
#define VURUDE_DISPATCH_BARRIER_H

#include <ace/Reactor.h>
#include <ace/Time_Value.h>

// Lets a thread wait until the reactor thread has finished the dispatch it
// was in when the wait began. The epoll reactor looks a handler up and only
// then takes its reference for the upcall; a handler that another thread
// takes out of the reactor in between must not be freed until the reactor
// has moved on. A waiter posts a notification and waits for its turn: the
// reactor runs one dispatch at a time, so once it reaches the notification,
// every earlier dispatch has ended.
class Vurude_Dispatch_Barrier
{
public:
  // Any thread but the reactor's own. False when `reactor` did not reach
  // the notification within `timeout`, or could not take it.
  static bool wait (ACE_Reactor *reactor, const ACE_Time_Value &timeout);
  // The server's event loop has ended: nothing is dispatched any more, so
  // waiters, now and later, return at once.
  static void loop_ended ();
};

#endif
