#include "handshake.h"

#include <cstring>

namespace rfclib {

void encode_hello(const Hello& hello, std::vector<std::uint8_t>& payload) {
  payload.clear();
  wire::PayloadWriter w(payload);
  w.bytes(wire::kMagic, sizeof wire::kMagic);
  w.u16(hello.major);
  w.u16(hello.minor);
  w.u8(static_cast<std::uint8_t>(hello.kind));
  for (const std::u16string* t : {&hello.client, &hello.user, &hello.password, &hello.language,
                                  &hello.dest, &hello.host, &hello.program, &hello.program_id}) {
    w.text(*t);
  }
  if (hello.minor >= 1) w.u32(hello.timeout_ms);
}

bool decode_hello(const std::vector<std::uint8_t>& payload, Hello& hello) {
  wire::PayloadReader r(payload.data(), payload.size());
  std::uint8_t magic[4];
  std::uint8_t kind = 0;
  if (!r.bytes(magic, 4) || std::memcmp(magic, wire::kMagic, 4) != 0) return false;
  if (!r.u16(hello.major) || !r.u16(hello.minor)) return false;
  // Later minor versions may append fields; an older major cannot be read further.
  if (hello.major != wire::kVersionMajor) return true;
  if (!r.u8(kind) || kind < 1 || kind > 3) return false;
  hello.kind = static_cast<wire::HelloKind>(kind);
  for (std::u16string* t : {&hello.client, &hello.user, &hello.password, &hello.language,
                            &hello.dest, &hello.host, &hello.program, &hello.program_id}) {
    if (!r.text(*t)) return false;
  }
  if (hello.minor >= 1 && !r.u32(hello.timeout_ms)) return false;
  return hello.minor > wire::kVersionMinor || r.at_end();
}

void encode_welcome(const Welcome& welcome, std::vector<std::uint8_t>& payload) {
  payload.clear();
  wire::PayloadWriter w(payload);
  w.u16(welcome.major);
  w.u16(welcome.minor);
  for (const std::u16string* t : {&welcome.partner_host, &welcome.systnr, &welcome.sysid,
                                  &welcome.codepage, &welcome.kernel_rel, &welcome.partner_rel,
                                  &welcome.partner_type}) {
    w.text(*t);
  }
  if (welcome.minor >= 1) w.u32(welcome.timeout_ms);
}

bool decode_welcome(const std::vector<std::uint8_t>& payload, Welcome& welcome) {
  wire::PayloadReader r(payload.data(), payload.size());
  if (!r.u16(welcome.major) || !r.u16(welcome.minor)) return false;
  if (welcome.major != wire::kVersionMajor) return true;
  for (std::u16string* t : {&welcome.partner_host, &welcome.systnr, &welcome.sysid,
                            &welcome.codepage, &welcome.kernel_rel, &welcome.partner_rel,
                            &welcome.partner_type}) {
    if (!r.text(*t)) return false;
  }
  if (welcome.minor >= 1 && !r.u32(welcome.timeout_ms)) return false;
  return welcome.minor > wire::kVersionMinor || r.at_end();
}

void encode_refuse(const Error& error, std::vector<std::uint8_t>& payload) {
  payload.clear();
  wire::PayloadWriter w(payload);
  w.u32(static_cast<std::uint32_t>(error.group));
  w.text(error.key);
  w.text(error.message);
}

bool decode_refuse(const std::vector<std::uint8_t>& payload, Error& error) {
  wire::PayloadReader r(payload.data(), payload.size());
  std::uint32_t group = 0;
  if (!r.u32(group) || !r.text(error.key) || !r.text(error.message) || !r.at_end()) return false;
  error.group = static_cast<int>(group);
  return true;
}

void encode_check_result(const CheckResult& result, std::vector<std::uint8_t>& payload) {
  payload.clear();
  wire::PayloadWriter w(payload);
  w.u32(result.total);
  w.u32(result.init);
  w.u32(result.ready);
  w.u32(result.busy);
}

bool decode_check_result(const std::vector<std::uint8_t>& payload, CheckResult& result) {
  wire::PayloadReader r(payload.data(), payload.size());
  return r.u32(result.total) && r.u32(result.init) && r.u32(result.ready) && r.u32(result.busy) &&
         r.at_end();
}

void encode_abort(wire::AbortKind kind, const Error& error, std::vector<std::uint8_t>& payload) {
  payload.clear();
  wire::PayloadWriter w(payload);
  w.u8(static_cast<std::uint8_t>(kind));
  w.text(error.key);
  w.text(error.message);
}

bool decode_abort(const std::vector<std::uint8_t>& payload, Error& error) {
  wire::PayloadReader r(payload.data(), payload.size());
  std::uint8_t kind = 0;
  if (!r.u8(kind) || kind > 1 || !r.text(error.key) || !r.text(error.message) || !r.at_end()) {
    return false;
  }
  error.group = RFC_ERROR_SYSTEM_FAILURE;
  if (error.key.empty()) error.key = u"RFC_ERROR_SYSTEM_FAILURE";
  return true;
}

std::vector<std::uint8_t> make_frame(wire::FrameType type, const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> frame(wire::kHeaderSize + payload.size());
  wire::encode_header(frame.data(), type, static_cast<std::uint32_t>(payload.size()));
  if (!payload.empty()) std::memcpy(frame.data() + wire::kHeaderSize, payload.data(), payload.size());
  return frame;
}

}  // namespace rfclib
