#ifndef VURUDE_STATUS_H
#define VURUDE_STATUS_H

#include "vurude_status_gateway.h"

#include <ace/RW_Thread_Mutex.h>
#include <ace/Thread_Mutex.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>

// The status monitor's registrations and the server's request and
// data-volume counters. Passive for the life of the process unless at least
// one registration was added: no thread, no counting.
class Vurude_Status
{
public:
  Vurude_Status () = default;
  Vurude_Status (const Vurude_Status &) = delete;
  Vurude_Status &operator= (const Vurude_Status &) = delete;

  // Option parsing only, once per "-S" value. Returns 0 when added, -1 when
  // the value does not parse or cannot be stored, 1 for a duplicate. Logs
  // the reason itself.
  int add_registration (const char *text);

  // Start-up thread only, once, before any listener exists. With no
  // registration it does nothing and returns 0.
  int start ();

  // Any thread. n > 0: n bytes sent to a client; n == 0: a request started;
  // n < 0: a request ended. No effect without registrations.
  void update (std::int32_t n);

  struct Totals
  {
    std::int32_t current_requests;
    std::uint32_t total_requests;
    std::uint64_t total_bytes;
  };
  Totals totals () const;

  std::size_t registration_count () const;
  bool started () const { return started_; }
  const std::tm &start_time () const { return start_time_; }

private:
  std::map<std::u16string, std::unique_ptr<Vurude_Status_Gateway>> registrations_;
  mutable ACE_RW_Thread_Mutex registrations_lock_;

  mutable ACE_Thread_Mutex counter_lock_;
  std::int32_t current_requests_ = 0;
  std::uint32_t total_requests_ = 0;
  std::uint64_t total_bytes_ = 0;

  bool started_ = false;
  std::tm start_time_ {};
};

#endif
