#include "vurude_dispatch_barrier.h"

#include <ace/Event_Handler.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

namespace
{
class Pass;

std::mutex lock;
bool ended = false;
// The passes being waited for, so the end of the loop can wake them.
Pass *waiting = nullptr;

// One wait's notification, referenced by its waiter and by the reactor's
// queue; the last of the two deletes it. Each has its own condition, so a
// thousand workers ending at once do not wake each other.
class Pass : public ACE_Event_Handler
{
public:
  Pass () { reference_counting_policy ().value (Reference_Counting_Policy::ENABLED); }

  // Counted here rather than in the library, so the tools that check this
  // code see which thread's release came last.
  Reference_Count add_reference () override { return references_.fetch_add (1, std::memory_order_relaxed) + 1; }
  Reference_Count remove_reference () override
  {
    const Reference_Count left = references_.fetch_sub (1, std::memory_order_acq_rel) - 1;
    if (left == 0)
      delete this;
    return left;
  }

  // Reactor thread: this notification's turn.
  int handle_exception (ACE_HANDLE) override
  {
    std::lock_guard<std::mutex> guard (lock);
    passed = true;
    turn.notify_one ();
    return 0;
  }

  // The rest under `lock`.
  void link ()
  {
    next = waiting;
    if (next)
      next->previous = this;
    waiting = this;
  }

  void unlink ()
  {
    if (previous)
      previous->next = next;
    else
      waiting = next;
    if (next)
      next->previous = previous;
  }

  std::condition_variable turn;
  bool passed = false;
  Pass *previous = nullptr;
  Pass *next = nullptr;

private:
  std::atomic<Reference_Count> references_ {1};
};
}

bool Vurude_Dispatch_Barrier::wait (ACE_Reactor *reactor, const ACE_Time_Value &timeout)
{
  {
    std::lock_guard<std::mutex> guard (lock);
    if (ended)
      return true;
  }
  Pass *pass = new (std::nothrow) Pass;
  if (!pass)
    return false;
  if (reactor->notify (pass, ACE_Event_Handler::EXCEPT_MASK) == -1)
    {
      pass->remove_reference ();
      return false;
    }
  bool passed = false;
  {
    std::unique_lock<std::mutex> guard (lock);
    pass->link ();
    passed = pass->turn.wait_for (guard, std::chrono::milliseconds (timeout.msec ()),
                                  [pass] { return ended || pass->passed; });
    pass->unlink ();
  }
  pass->remove_reference ();
  return passed;
}

void Vurude_Dispatch_Barrier::loop_ended ()
{
  std::lock_guard<std::mutex> guard (lock);
  ended = true;
  for (Pass *pass = waiting; pass; pass = pass->next)
    pass->turn.notify_one ();
}
