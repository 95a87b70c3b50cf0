#include "handle_table.h"

#include "connection.h"

namespace rfclib {

HandleTable& HandleTable::instance() {
  static HandleTable table;
  return table;
}

RFC_HANDLE HandleTable::add(std::shared_ptr<Connection> connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (next_ == RFC_HANDLE_NULL) return RFC_HANDLE_NULL;
  const RFC_HANDLE handle = next_++;
  open_.emplace(handle, std::move(connection));
  return handle;
}

std::shared_ptr<Connection> HandleTable::find(RFC_HANDLE handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = open_.find(handle);
  return it == open_.end() ? nullptr : it->second;
}

std::shared_ptr<Connection> HandleTable::remove(RFC_HANDLE handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = open_.find(handle);
  if (it == open_.end()) return nullptr;
  auto connection = std::move(it->second);
  open_.erase(it);
  return connection;
}

}  // namespace rfclib
