#include "vok_socket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace
{
std::string system_error_text (int error)
{
  return std::strerror (error);
}

// Milliseconds until the deadline for poll, rounded up so that a wait does
// not end a fraction of a millisecond early and spin.
int remaining_ms (Vok_Deadline deadline)
{
  const auto left = deadline - Vok_Clock::now ();
  if (left <= Vok_Clock::duration::zero ())
    return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds> (left).count ();
  return static_cast<int> (std::min<long long> (ms, 1 << 30));
}

// Result of waiting for one socket: 1 ready, 0 deadline passed, -1 failure.
int poll_one (int fd, short events, Vok_Deadline deadline)
{
  for (;;)
    {
      pollfd entry {fd, events, 0};
      const int result = ::poll (&entry, 1, remaining_ms (deadline));
      if (result > 0)
        return 1;
      if (result == 0)
        {
          if (Vok_Clock::now () >= deadline)
            return 0;
          continue;
        }
      if (errno != EINTR)
        return -1;
    }
}

Vok_Status closed_or_failed (int error, const std::string &peer, const char *what)
{
  if (error == EPIPE || error == ECONNRESET)
    return {Vok_Result::closed, "the server at " + peer + " closed the connection while " + what
                                  + " (" + system_error_text (error) + ")"};
  return {Vok_Result::io_error, std::string ("error while ") + what + " on the connection to " + peer
                                  + ": " + system_error_text (error)};
}
}

Vok_Socket::~Vok_Socket ()
{
  close ();
}

Vok_Socket::Vok_Socket (Vok_Socket &&other) noexcept
  : fd_ (std::exchange (other.fd_, -1)), peer_ (std::move (other.peer_))
{
}

Vok_Socket &Vok_Socket::operator= (Vok_Socket &&other) noexcept
{
  if (this != &other)
    {
      close ();
      fd_ = std::exchange (other.fd_, -1);
      peer_ = std::move (other.peer_);
    }
  return *this;
}

void Vok_Socket::close ()
{
  if (fd_ >= 0)
    ::close (fd_);
  fd_ = -1;
}

Vok_Status Vok_Socket::connect (const std::string &host, std::uint16_t port, std::chrono::milliseconds timeout)
{
  close ();
  peer_ = host + ":" + std::to_string (port);
  const Vok_Deadline deadline = Vok_Clock::now () + timeout;

  addrinfo hints {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo *addresses = nullptr;
  const int resolved = ::getaddrinfo (host.c_str (), std::to_string (port).c_str (), &hints, &addresses);
  if (resolved != 0)
    return {Vok_Result::connect_failed, "cannot resolve host '" + host + "': " + ::gai_strerror (resolved)};

  std::string last_error = "no address";
  bool timed_out = false;
  for (addrinfo *address = addresses; address && fd_ < 0; address = address->ai_next)
    {
      const int fd = ::socket (address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                               address->ai_protocol);
      if (fd < 0)
        {
          last_error = system_error_text (errno);
          continue;
        }
      int error = 0;
      if (::connect (fd, address->ai_addr, address->ai_addrlen) != 0)
        {
          error = errno;
          // Interrupted, the connection attempt goes on as if in progress.
          if (error == EINPROGRESS || error == EINTR)
            {
              const int ready = poll_one (fd, POLLOUT, deadline);
              socklen_t length = sizeof error;
              if (ready == 1)
                ::getsockopt (fd, SOL_SOCKET, SO_ERROR, &error, &length);
              else
                {
                  timed_out = ready == 0;
                  error = ready == 0 ? ETIMEDOUT : errno;
                }
            }
        }
      if (error != 0)
        {
          last_error = system_error_text (error);
          ::close (fd);
          if (timed_out)
            break;
          continue;
        }
      // Requests are short lines answered one by one: no delay for them.
      const int one = 1;
      ::setsockopt (fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      fd_ = fd;
    }
  ::freeaddrinfo (addresses);

  if (fd_ >= 0)
    return {};
  if (timed_out)
    return {Vok_Result::timed_out, "no connection to " + peer_ + " within "
                                     + std::to_string (timeout.count ()) + " ms"};
  return {Vok_Result::connect_failed, "cannot connect to " + peer_ + ": " + last_error};
}

Vok_Status Vok_Socket::wait_for (short events, Vok_Deadline deadline, const char *what)
{
  const int ready = poll_one (fd_, events, deadline);
  if (ready == 1)
    return {};
  if (ready == 0)
    return {Vok_Result::timed_out, std::string ("timed out ") + what + " on the connection to " + peer_};
  return closed_or_failed (errno, peer_, what);
}

Vok_Status Vok_Socket::send_all (std::initializer_list<std::string_view> pieces, Vok_Deadline deadline)
{
  if (fd_ < 0)
    return {Vok_Result::not_connected, "the connection is not open"};
  constexpr std::size_t max_pieces = 8;
  if (pieces.size () > max_pieces)
    return {Vok_Result::invalid_argument, "too many pieces for one send"};
  iovec vector[max_pieces];
  std::size_t count = 0;
  for (std::string_view piece : pieces)
    if (!piece.empty ())
      vector[count++] = {const_cast<char *> (piece.data ()), piece.size ()};

  std::size_t first = 0;
  while (first < count)
    {
      msghdr message {};
      message.msg_iov = vector + first;
      message.msg_iovlen = count - first;
      const ssize_t sent = ::sendmsg (fd_, &message, MSG_NOSIGNAL);
      if (sent < 0)
        {
          if (errno == EINTR)
            continue;
          if (errno != EAGAIN && errno != EWOULDBLOCK)
            return closed_or_failed (errno, peer_, "sending");
          if (Vok_Status waited = wait_for (POLLOUT, deadline, "sending"); !waited.ok ())
            return waited;
          continue;
        }
      auto left = static_cast<std::size_t> (sent);
      while (first < count && left >= vector[first].iov_len)
        left -= vector[first++].iov_len;
      if (first < count)
        {
          vector[first].iov_base = static_cast<char *> (vector[first].iov_base) + left;
          vector[first].iov_len -= left;
        }
    }
  return {};
}

Vok_Status Vok_Socket::receive_some (char *buffer, std::size_t capacity, Vok_Deadline deadline, std::size_t &count)
{
  count = 0;
  if (fd_ < 0)
    return {Vok_Result::not_connected, "the connection is not open"};
  for (;;)
    {
      const ssize_t received = ::recv (fd_, buffer, capacity, 0);
      if (received > 0)
        {
          count = static_cast<std::size_t> (received);
          return {};
        }
      if (received == 0)
        return {Vok_Result::closed, "the server at " + peer_ + " closed the connection"};
      if (errno == EINTR)
        continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK)
        return {Vok_Result::io_error, "error while receiving on the connection to " + peer_ + ": "
                                        + system_error_text (errno)};
      if (Vok_Status waited = wait_for (POLLIN, deadline, "receiving"); !waited.ok ())
        return waited;
    }
}

Vok_Status Vok_Socket::shutdown_send ()
{
  if (fd_ < 0)
    return {Vok_Result::not_connected, "the connection is not open"};
  if (::shutdown (fd_, SHUT_WR) != 0)
    return {Vok_Result::io_error, "cannot end sending on the connection to " + peer_ + ": "
                                    + system_error_text (errno)};
  return {};
}
