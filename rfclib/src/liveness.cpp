#include "liveness.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

namespace rfclib {
namespace {

constexpr int kDefaultMs = kDefaultPartnerTimeoutSeconds * 1000;
constexpr std::uint32_t kMinAnnouncedMs = 1000;
constexpr std::uint32_t kMaxAnnouncedMs = kMaxPartnerTimeoutSeconds * 1000u;
constexpr int kMinIntervalMs = 50;

std::atomic<int> limit_ms{kDefaultMs};

}  // namespace

int parse_partner_timeout(const char* text) {
  if (text == nullptr || *text == '\0') return kDefaultPartnerTimeoutSeconds;
  long value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return kDefaultPartnerTimeoutSeconds;
    value = value * 10 + (*p - '0');
    if (value > kMaxPartnerTimeoutSeconds) return kDefaultPartnerTimeoutSeconds;
  }
  if (value < kMinPartnerTimeoutSeconds) return kDefaultPartnerTimeoutSeconds;
  return static_cast<int>(value);
}

void configure_partner_timeout() {
  limit_ms.store(parse_partner_timeout(std::getenv("RFCLIB_PARTNER_TIMEOUT")) * 1000);
}

int partner_timeout_ms() { return limit_ms.load(); }

void set_partner_timeout_ms(int ms) { limit_ms.store(ms > 0 ? ms : kDefaultMs); }

int heartbeat_interval_ms(int own_ms, std::uint32_t partner_ms) {
  const auto announced =
      static_cast<int>(std::clamp(partner_ms, kMinAnnouncedMs, kMaxAnnouncedMs));
  return std::max(std::min(own_ms, announced) / kHeartbeatsPerTimeout, kMinIntervalMs);
}

std::string silence_message(int ms) {
  const std::string span =
      ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
  return "partner sent nothing for " + span;
}

}  // namespace rfclib
