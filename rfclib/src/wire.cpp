#include "wire.h"

#include <cstring>

namespace rfclib::wire {

const char* frame_name(FrameType type) {
  switch (type) {
    case FrameType::hello: return "HELLO";
    case FrameType::welcome: return "WELCOME";
    case FrameType::refuse: return "REFUSE";
    case FrameType::call: return "CALL";
    case FrameType::param: return "PARAM";
    case FrameType::table: return "TABLE";
    case FrameType::rows: return "ROWS";
    case FrameType::end: return "END";
    case FrameType::reply: return "REPLY";
    case FrameType::exception: return "EXCEPTION";
    case FrameType::abort: return "ABORT";
    case FrameType::close: return "CLOSE";
    case FrameType::check_result: return "CHECK_RESULT";
    case FrameType::heartbeat: return "HEARTBEAT";
  }
  return "?";
}

void encode_header(std::uint8_t* out, FrameType type, std::uint32_t length) {
  out[0] = static_cast<std::uint8_t>(type);
  out[1] = 0;
  out[2] = 0;
  out[3] = 0;
  out[4] = static_cast<std::uint8_t>(length);
  out[5] = static_cast<std::uint8_t>(length >> 8);
  out[6] = static_cast<std::uint8_t>(length >> 16);
  out[7] = static_cast<std::uint8_t>(length >> 24);
}

bool decode_header(const std::uint8_t* in, FrameHeader& header, Error& error) {
  const std::uint8_t type = in[0];
  if (type < static_cast<std::uint8_t>(FrameType::hello) ||
      type > static_cast<std::uint8_t>(FrameType::heartbeat)) {
    error = make_error(RFC_ERROR_PROTOCOL, "unknown frame type " + std::to_string(type));
    return false;
  }
  if (in[1] != 0 || in[2] != 0 || in[3] != 0) {
    error = make_error(RFC_ERROR_PROTOCOL, "reserved bytes of a frame header are not zero");
    return false;
  }
  header.type = static_cast<FrameType>(type);
  header.length = load_u32(in + 4);
  if (header.type == FrameType::heartbeat && header.length != 0) {
    error = make_error(RFC_ERROR_PROTOCOL, "HEARTBEAT frame with a payload");
    return false;
  }
  const bool bulk = header.type == FrameType::param || header.type == FrameType::rows;
  const std::uint32_t limit = bulk ? kMaxFramePayload : kMaxControlPayload;
  if (header.length > limit) {
    error = make_error(RFC_ERROR_PROTOCOL, std::string(frame_name(header.type)) + " frame of " +
                                               std::to_string(header.length) +
                                               " bytes exceeds the limit of " +
                                               std::to_string(limit));
    return false;
  }
  return true;
}

void PayloadWriter::u16(std::uint16_t v) {
  out_.push_back(static_cast<std::uint8_t>(v));
  out_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PayloadWriter::u32(std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PayloadWriter::u64(std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PayloadWriter::bytes(const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  out_.insert(out_.end(), p, p + n);
}

void PayloadWriter::text(std::u16string_view text) {
  if (text.size() > kMaxTextChars) text = text.substr(0, kMaxTextChars);
  u16(static_cast<std::uint16_t>(text.size()));
  for (char16_t c : text) u16(static_cast<std::uint16_t>(c));
}

bool PayloadReader::u8(std::uint8_t& v) { return bytes(&v, 1); }

bool PayloadReader::u16(std::uint16_t& v) {
  if (size_ - pos_ < 2) return false;
  v = load_u16(data_ + pos_);
  pos_ += 2;
  return true;
}

bool PayloadReader::u32(std::uint32_t& v) {
  if (size_ - pos_ < 4) return false;
  v = load_u32(data_ + pos_);
  pos_ += 4;
  return true;
}

bool PayloadReader::u64(std::uint64_t& v) {
  std::uint32_t lo = 0;
  std::uint32_t hi = 0;
  if (!u32(lo) || !u32(hi)) return false;
  v = (static_cast<std::uint64_t>(hi) << 32) | lo;
  return true;
}

bool PayloadReader::bytes(void* dest, std::size_t n) {
  if (size_ - pos_ < n) return false;
  if (n > 0) std::memcpy(dest, data_ + pos_, n);
  pos_ += n;
  return true;
}

bool PayloadReader::text(std::u16string& out, std::size_t max_chars) {
  std::uint16_t n = 0;
  if (!u16(n) || n > max_chars || size_ - pos_ < 2u * n) return false;
  out.resize(n);
  for (std::uint16_t i = 0; i < n; ++i) out[i] = static_cast<char16_t>(load_u16(data_ + pos_ + 2u * i));
  pos_ += 2u * n;
  return true;
}

}  // namespace rfclib::wire
