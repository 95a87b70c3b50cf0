#include "vurude_handle_registry.h"

#include "vurude_base_handler.h"

#include <ace/Guard_T.h>

#include <new>

Vurude_Handler_Ref::Vurude_Handler_Ref (Vurude_Base_Handler *handler)
  : handler_ (handler)
{
  if (handler_)
    handler_->add_reference ();
}

Vurude_Handler_Ref::Vurude_Handler_Ref (const Vurude_Handler_Ref &other)
  : Vurude_Handler_Ref (other.handler_)
{
}

Vurude_Handler_Ref &Vurude_Handler_Ref::operator= (const Vurude_Handler_Ref &other)
{
  if (this != &other)
    {
      Vurude_Handler_Ref copy (other);
      std::swap (handler_, copy.handler_);
    }
  return *this;
}

Vurude_Handler_Ref::~Vurude_Handler_Ref ()
{
  reset ();
}

void Vurude_Handler_Ref::reset ()
{
  if (handler_)
    handler_->remove_reference ();
  handler_ = nullptr;
}

int Vurude_Handler_Registry::bind (const std::u16string &name, Vurude_Base_Handler *handler)
{
  ACE_WRITE_GUARD_RETURN (ACE_RW_Thread_Mutex, guard, lock_, -1);
  try
    {
      return handlers_.emplace (name, handler).second ? 0 : 1;
    }
  catch (const std::bad_alloc &)
    {
      return -1;
    }
}

int Vurude_Handler_Registry::unbind (const std::u16string &name, const Vurude_Base_Handler *handler)
{
  ACE_WRITE_GUARD_RETURN (ACE_RW_Thread_Mutex, guard, lock_, -1);
  const auto found = handlers_.find (name);
  if (found == handlers_.end () || found->second != handler)
    return -1;
  handlers_.erase (found);
  return 0;
}

Vurude_Handler_Ref Vurude_Handler_Registry::find (std::u16string_view name)
{
  ACE_READ_GUARD_RETURN (ACE_RW_Thread_Mutex, guard, lock_, Vurude_Handler_Ref ());
  const auto found = handlers_.find (std::u16string (name));
  // Referenced under the lock: the handler cannot go before the reference exists.
  return found == handlers_.end () ? Vurude_Handler_Ref () : Vurude_Handler_Ref (found->second);
}

std::size_t Vurude_Handler_Registry::size ()
{
  ACE_READ_GUARD_RETURN (ACE_RW_Thread_Mutex, guard, lock_, 0);
  return handlers_.size ();
}

std::vector<Vurude_Handler_Ref> Vurude_Handler_Registry::all ()
{
  std::vector<Vurude_Handler_Ref> handlers;
  ACE_READ_GUARD_RETURN (ACE_RW_Thread_Mutex, guard, lock_, handlers);
  handlers.reserve (handlers_.size ());
  for (const auto &entry : handlers_)
    handlers.emplace_back (entry.second);
  return handlers;
}
