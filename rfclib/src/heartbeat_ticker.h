// One thread for the whole library that lets every connection whose partner
// understands heartbeats send one when its interval is due. The thread runs
// while at least one such connection exists.
#ifndef RFCLIB_HEARTBEAT_TICKER_H
#define RFCLIB_HEARTBEAT_TICKER_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace rfclib {

class Connection;

class HeartbeatTicker {
 public:
  static HeartbeatTicker& instance();

  // Any thread. The ticker calls connection->beat() every interval_ms until
  // remove(); beat() must not block. False when the thread cannot be started.
  bool add(Connection* connection, int interval_ms);
  // Any thread but the ticker's. Once it returns, the ticker no longer
  // touches the connection. Removing the last connection ends the thread.
  void remove(Connection* connection);

 private:
  using Clock = std::chrono::steady_clock;
  struct Member {
    Connection* connection;
    Clock::duration interval;
    Clock::time_point due;
  };

  HeartbeatTicker() = default;
  void run(std::uint64_t generation);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Member> members_;
  std::thread thread_;
  // The thread started as generation_ runs while generation_ is unchanged:
  // one that is being joined never mistakes a successor's members for its own.
  std::uint64_t generation_ = 0;
  std::uint64_t started_ = 0;
};

}  // namespace rfclib

#endif
