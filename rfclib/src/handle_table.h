// Process-wide table of open connections by handle number. Handles are never
// reused, so a stale handle finds nothing instead of another connection.
#ifndef RFCLIB_HANDLE_TABLE_H
#define RFCLIB_HANDLE_TABLE_H

#include <memory>
#include <mutex>
#include <unordered_map>

#include "rfclib/rfclib.h"

namespace rfclib {

class Connection;

class HandleTable {
 public:
  static HandleTable& instance();

  // RFC_HANDLE_NULL when the handle numbers are exhausted.
  RFC_HANDLE add(std::shared_ptr<Connection> connection);
  std::shared_ptr<Connection> find(RFC_HANDLE handle);
  std::shared_ptr<Connection> remove(RFC_HANDLE handle);

 private:
  std::mutex mutex_;
  std::unordered_map<RFC_HANDLE, std::shared_ptr<Connection>> open_;
  RFC_HANDLE next_ = 1;
};

}  // namespace rfclib

#endif
