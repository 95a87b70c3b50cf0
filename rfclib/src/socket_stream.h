// Buffered reading and gathered writing on one connected TCP socket.
#ifndef RFCLIB_SOCKET_STREAM_H
#define RFCLIB_SOCKET_STREAM_H

#include <sys/uio.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "byte_source.h"

namespace rfclib {

class SocketStream : public ByteSource {
 public:
  explicit SocketStream(int fd);
  ~SocketStream() override;
  SocketStream(const SocketStream&) = delete;
  SocketStream& operator=(const SocketStream&) = delete;

  // ByteSource: large reads go straight from the socket into `dest`.
  bool read_exact(void* dest, std::size_t n) override;

  // Writes all pieces (sendmsg, no SIGPIPE), whatever the count of pieces;
  // first the rest of a frame send_nowait() could not finish.
  bool write_all(iovec* pieces, std::size_t count);

  // Sends a small frame (at most kMaxNowait bytes) without blocking. What the
  // socket does not take now goes out before the next write_all() or
  // send_nowait(), so the byte stream stays whole. Never touches error().
  // The caller serialises it with write_all().
  static constexpr std::size_t kMaxNowait = 16;
  void send_nowait(const std::uint8_t* frame, std::size_t size);

  // 1 readable (or buffered bytes, or end of stream), 0 nothing within the
  // wait, -1 failure. timeout_ms < 0 waits without limit.
  int wait_readable(int timeout_ms);

  // True when the socket is readable or broken at once: an idle partner that
  // sends nothing is alive only while this stays false.
  bool readable_now();

  // Bounds every read (0: no bound), for the handshake.
  void set_read_timeout(int seconds);
  // Bounds every read to `ms` of silence (0: no bound); a read that gets
  // nothing for that long fails with silence_message(ms).
  void set_silence_limit(int ms);

  // Breaks blocked reads and writes from any thread; later operations fail
  // with RFC_ERROR_CANCELLED.
  void cancel();
  bool cancelled() const { return cancelled_.load(); }

  // Closes the socket; safe against a concurrent cancel().
  void close_socket();

  int fd() const { return fd_; }

 private:
  bool fill_failed(long result, int errno_value);
  bool push_nowait(int flags);

  int fd_;
  std::mutex fd_mutex_;  // orders cancel() against close_socket()
  bool open_ = true;
  std::atomic<bool> cancelled_{false};
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::string timeout_message_ = "partner did not answer in time";
  std::uint8_t nowait_[kMaxNowait] = {};
  std::size_t nowait_sent_ = 0;
  std::size_t nowait_size_ = 0;
};

}  // namespace rfclib

#endif
