#ifndef VOK_SOCKET_H
#define VOK_SOCKET_H

#include "vok_status.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

using Vok_Clock = std::chrono::steady_clock;
using Vok_Deadline = Vok_Clock::time_point;

// One connected TCP socket, non-blocking underneath: every wait is bounded
// by a deadline. Owns the descriptor; closes it when it goes. One thread at
// a time.
class Vok_Socket
{
public:
  Vok_Socket () = default;
  ~Vok_Socket ();
  Vok_Socket (Vok_Socket &&other) noexcept;
  Vok_Socket &operator= (Vok_Socket &&other) noexcept;
  Vok_Socket (const Vok_Socket &) = delete;
  Vok_Socket &operator= (const Vok_Socket &) = delete;

  // Connects to host:port, trying each address of the host until one
  // accepts or `timeout` has passed (name resolution itself is not bounded).
  // Replaces a socket held before.
  Vok_Status connect (const std::string &host, std::uint16_t port, std::chrono::milliseconds timeout);

  // Writes all pieces, in order, with as few system calls as the socket
  // allows; fails with timed_out when the peer does not take them in time.
  Vok_Status send_all (std::initializer_list<std::string_view> pieces, Vok_Deadline deadline);

  // Receives at most `capacity` bytes, waiting until the deadline for the
  // first. `count` is 0 unless the result is ok; end of file is `closed`.
  Vok_Status receive_some (char *buffer, std::size_t capacity, Vok_Deadline deadline, std::size_t &count);

  // Ends the sending direction; the peer reads end of file.
  Vok_Status shutdown_send ();
  void close ();

  bool is_open () const { return fd_ >= 0; }
  int native_handle () const { return fd_; }

private:
  // Waits until `events` are ready on the socket, or the deadline.
  Vok_Status wait_for (short events, Vok_Deadline deadline, const char *what);

  int fd_ = -1;
  std::string peer_;  // "host:port", for messages
};

#endif
