// Payloads of the handshake frames: HELLO, WELCOME, REFUSE and CHECK_RESULT.
#ifndef RFCLIB_HANDSHAKE_H
#define RFCLIB_HANDSHAKE_H

#include <cstdint>
#include <string>
#include <vector>

#include "error.h"
#include "wire.h"

namespace rfclib {

struct Hello {
  std::uint16_t major = wire::kVersionMajor;
  std::uint16_t minor = wire::kVersionMinor;
  wire::HelloKind kind = wire::HelloKind::logon;
  std::u16string client;
  std::u16string user;
  std::u16string password;
  std::u16string language;
  std::u16string dest;
  std::u16string host;
  std::u16string program;
  std::u16string program_id;
  // Since 1.1: the sender's partner time-out in milliseconds.
  std::uint32_t timeout_ms = 0;
};

// What the system side tells about itself.
struct Welcome {
  std::uint16_t major = wire::kVersionMajor;
  std::uint16_t minor = wire::kVersionMinor;
  std::u16string partner_host;
  std::u16string systnr;
  std::u16string sysid;
  std::u16string codepage;
  std::u16string kernel_rel;
  std::u16string partner_rel;
  std::u16string partner_type;
  // Since 1.1: the sender's partner time-out in milliseconds.
  std::uint32_t timeout_ms = 0;
};

struct CheckResult {
  std::uint32_t total = 0;
  std::uint32_t init = 0;
  std::uint32_t ready = 0;
  std::uint32_t busy = 0;
};

void encode_hello(const Hello& hello, std::vector<std::uint8_t>& payload);
// Checks the magic; a different major version is reported by the caller.
bool decode_hello(const std::vector<std::uint8_t>& payload, Hello& hello);

void encode_welcome(const Welcome& welcome, std::vector<std::uint8_t>& payload);
bool decode_welcome(const std::vector<std::uint8_t>& payload, Welcome& welcome);

void encode_refuse(const Error& error, std::vector<std::uint8_t>& payload);
bool decode_refuse(const std::vector<std::uint8_t>& payload, Error& error);

void encode_check_result(const CheckResult& result, std::vector<std::uint8_t>& payload);
bool decode_check_result(const std::vector<std::uint8_t>& payload, CheckResult& result);

// ABORT: kind, key, message.
void encode_abort(wire::AbortKind kind, const Error& error, std::vector<std::uint8_t>& payload);
bool decode_abort(const std::vector<std::uint8_t>& payload, Error& error);

// A frame of one header and a payload, ready to send.
std::vector<std::uint8_t> make_frame(wire::FrameType type, const std::vector<std::uint8_t>& payload);

}  // namespace rfclib

#endif
