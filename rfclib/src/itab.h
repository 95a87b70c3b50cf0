// Internal table: fixed-length lines stored in large blocks, so appending a
// line allocates only once per block and line pointers stay put.
#ifndef RFCLIB_ITAB_H
#define RFCLIB_ITAB_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "rfclib/rfclib.h"

namespace rfclib {

class Itab {
 public:
  // Null when leng is 0 or above the longest line. expected_lines sizes the
  // blocks: large tables get large blocks backed by huge pages, so that
  // filling them costs few page faults.
  static Itab* create(std::u16string_view name, std::size_t leng, std::size_t expected_lines = 0);

  static Itab* from(ITAB_H handle) { return reinterpret_cast<Itab*>(handle); }
  ITAB_H handle() { return reinterpret_cast<ITAB_H>(this); }

  std::size_t leng() const { return leng_; }
  std::size_t rows() const { return rows_; }
  const std::u16string& name() const { return name_; }

  // Appends a zero-filled line; null without memory or beyond the line limit.
  std::uint8_t* append();
  // 1-based; null when out of range.
  std::uint8_t* line(std::size_t index) const {
    if (index == 0 || index > rows_) return nullptr;
    const std::size_t i = index - 1;
    return blocks_[i >> shift_].get() + (i & mask_) * leng_;
  }
  // Drops all lines; the blocks are kept for the next fill.
  void clear();

  // Receiving: bytes of consecutive lines are written straight into the
  // blocks. writable(offset, avail) gives the place of byte `offset` of the
  // table's line bytes and how many bytes fit there; null without memory.
  std::uint8_t* writable(std::size_t offset, std::size_t& avail);
  void set_rows(std::size_t rows) { rows_ = rows; }

  // Sending: the line bytes of block k (whole blocks except the last).
  std::size_t block_count() const;
  const std::uint8_t* block(std::size_t k, std::size_t& bytes) const;

  // Receipts: each time lines arrive from a partner the table gets a stamp
  // no other receipt of any table in the process ever gets, and notes the
  // name they came under; every later change (append, clear, ItGupLine,
  // another receipt) drops the stamp. So a stamp that still matches proves
  // the lines are exactly those of that receipt. 0: not as received.
  void mark_received(std::u16string_view name);
  std::uint64_t receipt() const { return receipt_; }
  const std::u16string& received_as() const { return received_as_; }
  // For changes made through a line pointer (ItGupLine).
  void touch() { receipt_ = 0; }

 private:
  struct FreeBlock {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  Itab(std::u16string_view name, std::size_t leng, std::size_t expected_lines);
  bool ensure_block(std::size_t k);

  std::u16string name_;
  std::size_t leng_;
  unsigned shift_;           // lines per block = 1 << shift_
  std::size_t mask_;
  std::size_t block_bytes_;
  std::size_t rows_ = 0;
  std::uint64_t receipt_ = 0;
  std::u16string received_as_;
  bool huge_ = false;
  std::vector<std::unique_ptr<std::uint8_t, FreeBlock>> blocks_;
};

}  // namespace rfclib

#endif
