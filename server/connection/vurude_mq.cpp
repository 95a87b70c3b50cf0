#include "vurude_mq.h"

#include <ace/Guard_T.h>

#include <new>

namespace
{
constexpr std::size_t queue_mark = 16384;
}

Vurude_MQ::Vurude_MQ ()
  : ACE_Message_Queue<ACE_MT_SYNCH> (queue_mark, queue_mark), count (0)
{
}

int Vurude_MQ_Registry::bind (const std::u16string &name, Vurude_MQ *&queue)
{
  queue = nullptr;
  ACE_GUARD_RETURN (ACE_Recursive_Thread_Mutex, guard, lock_, -1);
  try
    {
      auto &slot = queues_[name];
      const int existed = slot ? 1 : 0;
      if (!slot)
        slot.reset (new Vurude_MQ);
      queue = slot.get ();
      return existed;
    }
  catch (const std::bad_alloc &)
    {
      queues_.erase (name);
      return -1;
    }
}

Vurude_MQ *Vurude_MQ_Registry::find (const std::u16string &name)
{
  ACE_GUARD_RETURN (ACE_Recursive_Thread_Mutex, guard, lock_, nullptr);
  const auto found = queues_.find (name);
  return found == queues_.end () ? nullptr : found->second.get ();
}
