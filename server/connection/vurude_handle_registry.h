#ifndef VURUDE_HANDLE_REGISTRY_H
#define VURUDE_HANDLE_REGISTRY_H

#include <ace/Atomic_Op.h>
#include <ace/RW_Thread_Mutex.h>
#include <ace/Singleton.h>
#include <ace/Thread_Mutex.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class Vurude_Base_Handler;

// The serial number of client handles: seeded with the process id at
// start-up, incremented (and wrapping at 65535) for every handle drawn.
typedef ACE_Singleton<ACE_Atomic_Op<ACE_Thread_Mutex, unsigned short>, ACE_Thread_Mutex> VURUDE_SERIAL;

// A counted reference to a handler found by its client handle: the handler
// is not deleted while a reference to it exists, whichever thread ends its
// connection meanwhile.
class Vurude_Handler_Ref
{
public:
  Vurude_Handler_Ref () = default;
  explicit Vurude_Handler_Ref (Vurude_Base_Handler *handler);  // takes a new reference
  Vurude_Handler_Ref (const Vurude_Handler_Ref &other);
  Vurude_Handler_Ref &operator= (const Vurude_Handler_Ref &other);
  ~Vurude_Handler_Ref ();

  Vurude_Base_Handler *get () const { return handler_; }
  Vurude_Base_Handler *operator-> () const { return handler_; }
  explicit operator bool () const { return handler_ != nullptr; }
  void reset ();

private:
  Vurude_Base_Handler *handler_ = nullptr;
};

// Maps client handles to their connection handlers, process-wide. Binding
// and unbinding take the write lock, finding the read lock.
class Vurude_Handler_Registry
{
public:
  // 0 bound, 1 the name is bound already, -1 no memory.
  int bind (const std::u16string &name, Vurude_Base_Handler *handler);
  // Removes the name only while it still maps to `handler`.
  int unbind (const std::u16string &name, const Vurude_Base_Handler *handler);
  // The handler bound to `name`, referenced, or an empty reference.
  Vurude_Handler_Ref find (std::u16string_view name);
  std::size_t size ();
  // References to every bound handler.
  std::vector<Vurude_Handler_Ref> all ();

private:
  ACE_RW_Thread_Mutex lock_;
  std::unordered_map<std::u16string, Vurude_Base_Handler *> handlers_;
};

typedef ACE_Singleton<Vurude_Handler_Registry, ACE_Thread_Mutex> VURUDE_HANDLER_REGISTRY;

#endif
