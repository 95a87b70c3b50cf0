#ifndef VURUDE_MQ_H
#define VURUDE_MQ_H

#include <ace/Atomic_Op.h>
#include <ace/Message_Queue.h>
#include <ace/Synch.h>
#include <ace/Recursive_Thread_Mutex.h>
#include <ace/Singleton.h>
#include <ace/Synch_Traits.h>
#include <ace/Thread_Mutex.h>

#include <memory>
#include <string>
#include <unordered_map>

// A named queue of texts between threads: a data connection's handle is
// posted under a gateway key and read by the code serving the background job
// that the key names. A message refers to the poster's text, which must stay
// alive until it has been read.
class Vurude_MQ : public ACE_Message_Queue<ACE_MT_SYNCH>
{
public:
  Vurude_MQ ();

  // Registrations of RFC servers that share this queue's name.
  ACE_Atomic_Op<ACE_Thread_Mutex, long> count;
  // Serialises those registrations.
  ACE_Thread_Mutex lock;
};

// The process-wide named queues; a queue lives until the process ends.
class Vurude_MQ_Registry
{
public:
  // Finds or creates the queue; 0 created now, 1 existed, -1 no memory.
  int bind (const std::u16string &name, Vurude_MQ *&queue);
  Vurude_MQ *find (const std::u16string &name);

private:
  ACE_Recursive_Thread_Mutex lock_;
  std::unordered_map<std::u16string, std::unique_ptr<Vurude_MQ>> queues_;
};

typedef ACE_Singleton<Vurude_MQ_Registry, ACE_Thread_Mutex> VURUDE_MQ_REGISTRY;

#endif
