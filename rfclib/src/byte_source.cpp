#include "byte_source.h"

#include <algorithm>
#include <cstring>

namespace rfclib {

bool ByteSource::skip(std::size_t n) {
  std::uint8_t scratch[4096];
  while (n > 0) {
    const std::size_t k = std::min(n, sizeof scratch);
    if (!read_exact(scratch, k)) return false;
    n -= k;
  }
  return true;
}

bool MemorySource::read_exact(void* dest, std::size_t n) {
  if (size_ - pos_ < n) {
    pos_ = size_;
    error_ = make_error(RFC_ERROR_COMMUNICATION, "connection closed by the partner");
    return false;
  }
  if (n > 0) std::memcpy(dest, data_ + pos_, n);
  pos_ += n;
  return true;
}

}  // namespace rfclib
