// Frame layout of the protocol (docs/rfc-protocol.md): constants, the frame
// header and little-endian payload encoding.
#ifndef RFCLIB_WIRE_H
#define RFCLIB_WIRE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"

namespace rfclib::wire {

inline constexpr std::uint8_t kMagic[4] = {'V', 'R', 'F', 'C'};
inline constexpr std::uint16_t kVersionMajor = 1;
// 1.1: HELLO and WELCOME carry the sender's partner time-out; HEARTBEAT.
inline constexpr std::uint16_t kVersionMinor = 1;

inline constexpr std::size_t kHeaderSize = 8;
// Largest payload of PARAM and ROWS frames; every other frame is a control
// frame of at most kMaxControlPayload bytes.
inline constexpr std::uint32_t kMaxFramePayload = 16u << 20;
inline constexpr std::uint32_t kMaxControlPayload = 64u << 10;
inline constexpr std::size_t kMaxNameChars = RFC_LONG_FUNCNAME_LN;
inline constexpr std::size_t kMaxTextChars = 1024;
// Longest table line; a block of rows always fits one ROWS frame.
inline constexpr std::uint32_t kMaxLineLength = 8u << 20;

enum class FrameType : std::uint8_t {
  hello = 1,
  welcome = 2,
  refuse = 3,
  call = 4,
  param = 5,
  table = 6,
  rows = 7,
  end = 8,
  reply = 9,
  exception = 10,
  abort = 11,
  close = 12,
  check_result = 13,
  heartbeat = 14,
};

// Kinds of HELLO.
enum class HelloKind : std::uint8_t { logon = 1, reg = 2, check = 3 };
// Kinds of ABORT.
enum class AbortKind : std::uint8_t { aborted = 0, system_failure = 1 };
// Flags of TABLE.
inline constexpr std::uint8_t kTableUnchanged = 1;

struct FrameHeader {
  FrameType type = FrameType::end;
  std::uint32_t length = 0;
};

const char* frame_name(FrameType type);

void encode_header(std::uint8_t* out, FrameType type, std::uint32_t length);
// Checks the reserved bytes, the type and the length limit of the type.
bool decode_header(const std::uint8_t* in, FrameHeader& header, Error& error);

// Appends little-endian fields to a byte vector.
class PayloadWriter {
 public:
  explicit PayloadWriter(std::vector<std::uint8_t>& out) : out_(out) {}
  void u8(std::uint8_t v) { out_.push_back(v); }
  void u16(std::uint16_t v);
  void u32(std::uint32_t v);
  void u64(std::uint64_t v);
  void bytes(const void* data, std::size_t n);
  // Count of units (u16) then the units; cut at kMaxTextChars.
  void text(std::u16string_view text);

 private:
  std::vector<std::uint8_t>& out_;
};

// Reads little-endian fields from a payload; every read is bounds-checked.
class PayloadReader {
 public:
  PayloadReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool u8(std::uint8_t& v);
  bool u16(std::uint16_t& v);
  bool u32(std::uint32_t& v);
  bool u64(std::uint64_t& v);
  bool bytes(void* dest, std::size_t n);
  bool text(std::u16string& out, std::size_t max_chars = kMaxTextChars);
  bool at_end() const { return pos_ == size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

inline std::uint16_t load_u16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t load_u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace rfclib::wire

#endif
