#include "vurude_dispatch_barrier.h"

#include <ace/Event_Handler.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace
{
std::mutex lock;
std::condition_variable changed;
bool ended = false;

// One wait's notification, referenced by its waiter and by the reactor's
// queue; the last of the two deletes it.
class Pass : public ACE_Event_Handler
{
public:
  Pass () { reference_counting_policy ().value (Reference_Counting_Policy::ENABLED); }

  // Reactor thread: this notification's turn.
  int handle_exception (ACE_HANDLE) override
  {
    std::lock_guard<std::mutex> guard (lock);
    passed = true;
    changed.notify_all ();
    return 0;
  }

  bool passed = false;  // under `lock`
};
}

bool Vurude_Dispatch_Barrier::wait (ACE_Reactor *reactor, const ACE_Time_Value &timeout)
{
  {
    std::lock_guard<std::mutex> guard (lock);
    if (ended)
      return true;
  }
  Pass *pass = new Pass;
  if (reactor->notify (pass, ACE_Event_Handler::EXCEPT_MASK) == -1)
    {
      pass->remove_reference ();
      return false;
    }
  bool passed = false;
  {
    std::unique_lock<std::mutex> guard (lock);
    passed = changed.wait_for (guard, std::chrono::milliseconds (timeout.msec ()),
                               [pass] { return ended || pass->passed; });
  }
  pass->remove_reference ();
  return passed;
}

void Vurude_Dispatch_Barrier::loop_ended ()
{
  std::lock_guard<std::mutex> guard (lock);
  ended = true;
  changed.notify_all ();
}
