// Where the message reader takes its bytes from: a socket or, for tests and
// the fuzz target, memory.
#ifndef RFCLIB_BYTE_SOURCE_H
#define RFCLIB_BYTE_SOURCE_H

#include <cstddef>
#include <cstdint>

#include "error.h"

namespace rfclib {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads exactly n bytes. false on end of input or failure; error() says why.
  virtual bool read_exact(void* dest, std::size_t n) = 0;
  // Drops n bytes.
  bool skip(std::size_t n);
  const Error& error() const { return error_; }

 protected:
  Error error_;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool read_exact(void* dest, std::size_t n) override;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace rfclib

#endif
