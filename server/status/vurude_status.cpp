#include "vurude_status.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>

#include <new>

int Vurude_Status::add_registration (const char *text)
{
  std::unique_ptr<Vurude_Status_Gateway> gateway (new (std::nothrow) Vurude_Status_Gateway (text));
  if (!gateway)
    ACE_ERROR_RETURN ((LM_ERROR, "status gateway parameter error: %s\n", "bind error detected"), -1);
  if (gateway->message ())
    ACE_ERROR_RETURN ((LM_ERROR, "status gateway parameter error: %s\n", gateway->message ()), -1);

  ACE_WRITE_GUARD_RETURN (ACE_RW_Thread_Mutex, guard, registrations_lock_, -1);
  const std::u16string key = gateway->key ();
  if (registrations_.count (key))
    ACE_ERROR_RETURN ((LM_ERROR, "status gateway parameter error: %s\n", "duplicate entry detected"), 1);
  registrations_.emplace (key, std::move (gateway));
  return 0;
}

int Vurude_Status::start ()
{
  if (registrations_.empty ())
    return 0;
  const std::time_t now = std::time (nullptr);
  localtime_r (&now, &start_time_);
  started_ = true;
  return 0;
}

void Vurude_Status::update (std::int32_t n)
{
  // The table is complete before any thread calls this, so it is read unlocked.
  if (registrations_.empty ())
    return;
  ACE_GUARD (ACE_Thread_Mutex, guard, counter_lock_);
  if (n > 0)
    total_bytes_ += static_cast<std::uint64_t> (n);
  else if (n == 0)
    {
      ++total_requests_;
      ++current_requests_;
    }
  else
    --current_requests_;
}

Vurude_Status::Totals Vurude_Status::totals () const
{
  ACE_GUARD_RETURN (ACE_Thread_Mutex, guard, counter_lock_, Totals {});
  return Totals {current_requests_, total_requests_, total_bytes_};
}

std::size_t Vurude_Status::registration_count () const
{
  ACE_READ_GUARD_RETURN (ACE_RW_Thread_Mutex, guard, registrations_lock_, 0);
  return registrations_.size ();
}
