#include "socket_stream.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "liveness.h"

namespace rfclib {
namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr std::size_t kMaxPiecesPerSend = 512;

}  // namespace

SocketStream::SocketStream(int fd) : fd_(fd), buffer_(new std::uint8_t[kBufferSize]) {}

SocketStream::~SocketStream() { close_socket(); }

bool SocketStream::fill_failed(long result, int errno_value) {
  if (cancelled_.load()) {
    error_ = make_error(RFC_ERROR_CANCELLED, "connection closed by this program");
  } else if (result == 0) {
    error_ = make_error(RFC_ERROR_COMMUNICATION, "connection closed by the partner");
  } else if (errno_value == EAGAIN || errno_value == EWOULDBLOCK) {
    error_ = make_error(RFC_ERROR_COMMUNICATION, timeout_message_);
  } else {
    error_ = system_error(RFC_ERROR_COMMUNICATION, "connection to the partner broken", errno_value);
  }
  return false;
}

bool SocketStream::read_exact(void* dest, std::size_t n) {
  auto* out = static_cast<std::uint8_t*>(dest);
  const std::size_t buffered = std::min(n, end_ - begin_);
  if (buffered > 0) {
    std::memcpy(out, buffer_.get() + begin_, buffered);
    begin_ += buffered;
    out += buffered;
    n -= buffered;
  }
  while (n > 0) {
    if (cancelled_.load()) return fill_failed(-1, ECANCELED);
    if (n >= kBufferSize / 2) {
      const ssize_t got = ::recv(fd_, out, n, 0);
      if (got > 0) {
        out += got;
        n -= static_cast<std::size_t>(got);
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      return fill_failed(got, errno);
    }
    const ssize_t got = ::recv(fd_, buffer_.get(), kBufferSize, 0);
    if (got <= 0) {
      if (got < 0 && errno == EINTR) continue;
      return fill_failed(got, errno);
    }
    begin_ = 0;
    end_ = static_cast<std::size_t>(got);
    const std::size_t k = std::min(n, end_);
    std::memcpy(out, buffer_.get(), k);
    begin_ = k;
    out += k;
    n -= k;
  }
  return true;
}

bool SocketStream::push_nowait(int flags) {
  while (nowait_sent_ < nowait_size_) {
    const ssize_t sent =
        ::send(fd_, nowait_ + nowait_sent_, nowait_size_ - nowait_sent_, flags | MSG_NOSIGNAL);
    if (sent > 0) {
      nowait_sent_ += static_cast<std::size_t>(sent);
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  nowait_sent_ = 0;
  nowait_size_ = 0;
  return true;
}

void SocketStream::send_nowait(const std::uint8_t* frame, std::size_t size) {
  if (nowait_size_ == 0) {
    if (size > kMaxNowait) return;
    std::memcpy(nowait_, frame, size);
    nowait_size_ = size;
  }
  push_nowait(MSG_DONTWAIT);
}

bool SocketStream::write_all(iovec* pieces, std::size_t count) {
  if (nowait_size_ > 0 && !push_nowait(0)) return fill_failed(-1, errno);
  std::size_t first = 0;
  while (first < count) {
    if (cancelled_.load()) return fill_failed(-1, ECANCELED);
    msghdr msg{};
    msg.msg_iov = pieces + first;
    msg.msg_iovlen = std::min(count - first, kMaxPiecesPerSend);
    const ssize_t sent = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return fill_failed(-1, errno);
    }
    auto left = static_cast<std::size_t>(sent);
    while (first < count && left >= pieces[first].iov_len) {
      left -= pieces[first].iov_len;
      ++first;
    }
    if (left > 0) {
      pieces[first].iov_base = static_cast<std::uint8_t*>(pieces[first].iov_base) + left;
      pieces[first].iov_len -= left;
    }
  }
  return true;
}

int SocketStream::wait_readable(int timeout_ms) {
  if (end_ > begin_) return 1;
  pollfd p{fd_, POLLIN, 0};
  for (;;) {
    if (cancelled_.load()) {
      fill_failed(-1, ECANCELED);
      return -1;
    }
    const int r = ::poll(&p, 1, timeout_ms);
    if (r >= 0) return r > 0 ? 1 : 0;
    if (errno != EINTR) {
      fill_failed(-1, errno);
      return -1;
    }
  }
}

bool SocketStream::readable_now() {
  if (end_ > begin_) return true;
  pollfd p{fd_, POLLIN | POLLRDHUP, 0};
  return ::poll(&p, 1, 0) != 0;
}

void SocketStream::set_read_timeout(int seconds) {
  timeval tv{};
  tv.tv_sec = seconds;
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

void SocketStream::set_silence_limit(int ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  timeout_message_ = silence_message(ms);
}

void SocketStream::cancel() {
  cancelled_.store(true);
  std::lock_guard<std::mutex> lock(fd_mutex_);
  if (open_) ::shutdown(fd_, SHUT_RDWR);
}

void SocketStream::close_socket() {
  std::lock_guard<std::mutex> lock(fd_mutex_);
  if (open_) {
    ::close(fd_);
    open_ = false;
  }
}

}  // namespace rfclib
