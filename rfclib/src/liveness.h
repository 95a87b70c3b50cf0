// The partner time-out: how long a side that waits for its partner's answer
// may receive nothing at all before it gives up on the partner, and the
// heartbeat interval that keeps a partner who is working on an answer from
// being given up on (docs/rfclib.md, "Partner time-out").
#ifndef RFCLIB_LIVENESS_H
#define RFCLIB_LIVENESS_H

#include <cstdint>
#include <string>

namespace rfclib {

inline constexpr int kDefaultPartnerTimeoutSeconds = 60;
inline constexpr int kMinPartnerTimeoutSeconds = 5;
inline constexpr int kMaxPartnerTimeoutSeconds = 86400;
// A working side beats this many times within the shorter of both limits.
inline constexpr int kHeartbeatsPerTimeout = 5;

// Seconds of a value of RFCLIB_PARTNER_TIMEOUT: decimal digits only, from 5 to
// 86400; null, empty or anything else gives the default.
int parse_partner_timeout(const char* text);

// Takes the limit from the environment (RfcInit).
void configure_partner_timeout();

// The limit new connections get, in milliseconds (any thread).
int partner_timeout_ms();

// Tests: a limit in milliseconds, also below the operator's range; 0 restores
// the default.
void set_partner_timeout_ms(int ms);

// Heartbeat interval of a connection whose own limit is `own_ms` and whose
// partner announced `partner_ms`. The announced value is held to 1 s .. 1 day,
// so that no partner can ask for a flood of heartbeats.
int heartbeat_interval_ms(int own_ms, std::uint32_t partner_ms);

// "partner sent nothing for 60 s" (or "... for 1500 ms" below whole seconds).
std::string silence_message(int ms);

}  // namespace rfclib

#endif
