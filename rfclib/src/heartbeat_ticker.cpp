#include "heartbeat_ticker.h"

#include <algorithm>
#include <system_error>

#include "connection.h"

namespace rfclib {

HeartbeatTicker& HeartbeatTicker::instance() {
  // Never destroyed: connections released during the program's exit still
  // find it.
  static HeartbeatTicker* ticker = new HeartbeatTicker;
  return *ticker;
}

bool HeartbeatTicker::add(Connection* connection, int interval_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!thread_.joinable()) {
    generation_ = ++started_;
    try {
      thread_ = std::thread(&HeartbeatTicker::run, this, generation_);
    } catch (const std::system_error&) {
      generation_ = 0;
      return false;
    }
  }
  const Clock::duration interval = std::chrono::milliseconds(interval_ms);
  members_.push_back({connection, interval, Clock::now() + interval});
  changed_.notify_one();
  return true;
}

void HeartbeatTicker::remove(Connection* connection) {
  std::thread ending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(members_, [connection](const Member& m) { return m.connection == connection; });
    if (!members_.empty() || !thread_.joinable()) return;
    generation_ = 0;
    ending = std::move(thread_);
    changed_.notify_all();
  }
  ending.join();
}

void HeartbeatTicker::run(std::uint64_t generation) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (generation_ == generation) {
    const Clock::time_point now = Clock::now();
    Clock::time_point next = now + std::chrono::hours(1);
    for (Member& m : members_) {
      if (m.due <= now) {
        m.connection->beat();
        m.due = now + m.interval;
      }
      next = std::min(next, m.due);
    }
    changed_.wait_until(lock, next);
  }
}

}  // namespace rfclib
