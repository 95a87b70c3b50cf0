#include "itab.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <new>

#include "wire.h"

namespace rfclib {
namespace {

constexpr std::size_t kSmallBlockBytes = 64u << 10;
constexpr std::size_t kHugeBlockBytes = 2u << 20;  // one huge page
constexpr std::size_t kHugeTableBytes = 8u << 20;

std::atomic<std::uint64_t> last_receipt{0};

}  // namespace

Itab* Itab::create(std::u16string_view name, std::size_t leng, std::size_t expected_lines) {
  if (leng == 0 || leng > wire::kMaxLineLength) return nullptr;
  return new (std::nothrow) Itab(name, leng, expected_lines);
}

Itab::Itab(std::u16string_view name, std::size_t leng, std::size_t expected_lines)
    : name_(name), leng_(leng), shift_(0) {
  huge_ = expected_lines >= kHugeTableBytes / leng_;
  const std::size_t target = huge_ ? kHugeBlockBytes : kSmallBlockBytes;
  while ((std::size_t{2} << shift_) * leng_ <= target) ++shift_;
  mask_ = (std::size_t{1} << shift_) - 1;
  block_bytes_ = (std::size_t{1} << shift_) * leng_;
}

bool Itab::ensure_block(std::size_t k) {
  while (blocks_.size() <= k) {
    std::uint8_t* raw = nullptr;
    if (huge_) {
      const std::size_t size = (block_bytes_ + kHugeBlockBytes - 1) / kHugeBlockBytes * kHugeBlockBytes;
      raw = static_cast<std::uint8_t*>(std::aligned_alloc(kHugeBlockBytes, size));
      if (raw != nullptr) ::madvise(raw, size, MADV_HUGEPAGE);
    } else {
      raw = static_cast<std::uint8_t*>(std::malloc(block_bytes_));
    }
    std::unique_ptr<std::uint8_t, FreeBlock> block(raw);
    if (!block) return false;
    try {
      blocks_.push_back(std::move(block));
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  return true;
}

std::uint8_t* Itab::append() {
  if (rows_ >= UINT_MAX) return nullptr;
  if (!ensure_block(rows_ >> shift_)) return nullptr;
  receipt_ = 0;
  ++rows_;
  std::uint8_t* p = line(rows_);
  std::memset(p, 0, leng_);
  return p;
}

void Itab::clear() {
  rows_ = 0;
  receipt_ = 0;
}

void Itab::mark_received(std::u16string_view name) {
  receipt_ = last_receipt.fetch_add(1, std::memory_order_relaxed) + 1;
  received_as_ = name;
}

std::uint8_t* Itab::writable(std::size_t offset, std::size_t& avail) {
  const std::size_t k = offset / block_bytes_;
  if (!ensure_block(k)) return nullptr;
  const std::size_t within = offset % block_bytes_;
  avail = block_bytes_ - within;
  return blocks_[k].get() + within;
}

std::size_t Itab::block_count() const { return (rows_ + mask_) >> shift_; }

const std::uint8_t* Itab::block(std::size_t k, std::size_t& bytes) const {
  const std::size_t first_row = k << shift_;
  const std::size_t n = std::min(rows_ - first_row, std::size_t{1} << shift_);
  bytes = n * leng_;
  return blocks_[k].get();
}

}  // namespace rfclib
