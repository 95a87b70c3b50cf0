// The partner time-out: a partner that owes an answer and sends nothing is
// given up on; one that works on the answer keeps the wait alive with
// heartbeats; idle connections never time out. Limits are set to a second
// through the library's test hook so that the cases run in seconds.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "handshake.h"
#include "liveness.h"
#include "rfclib/rfc_gateway.h"
#include "test_system.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using rfctest::TestSystem;

constexpr int kLimitMs = 1000;
constexpr RFC_PARAMETER kEndParameter{nullptr, 0, 0, 0, nullptr};

std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }
std::string text8(const SAP_UC* s) { return std::string(s, s + std::u16string_view(s).size()); }

RFC_ERROR_INFO_EX last_error() {
  RFC_ERROR_INFO_EX e{};
  EXPECT_EQ(RfcLastErrorEx(&e), 0);
  return e;
}

int thread_count() {
  DIR* dir = ::opendir("/proc/self/task");
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count;
}

TEST(PartnerTimeoutSetting, EnvironmentValueIsParsedStrictly) {
  struct Case {
    const char* text;
    int seconds;
  };
  const Case cases[] = {
      {"60", 60},   {"5", 5},     {"86400", 86400}, {"0300", 300}, {nullptr, 60},
      {"", 60},     {"4", 60},    {"0", 60},        {"86401", 60}, {"99999999999999999999", 60},
      {"-10", 60},  {"+10", 60},  {" 10", 60},      {"10 ", 60},   {"10s", 60},
      {"1e3", 60},  {"0x10", 60}, {"ten", 60},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rfclib::parse_partner_timeout(c.text), c.seconds)
        << (c.text != nullptr ? c.text : "(unset)");
  }
}

TEST(PartnerTimeoutSetting, RfcInitTakesTheEnvironment) {
  ::setenv("RFCLIB_PARTNER_TIMEOUT", "7", 1);
  RfcInit();
  EXPECT_EQ(rfclib::partner_timeout_ms(), 7000);
  ::setenv("RFCLIB_PARTNER_TIMEOUT", "7 s", 1);
  RfcInit();
  EXPECT_EQ(rfclib::partner_timeout_ms(), 60000);
  ::unsetenv("RFCLIB_PARTNER_TIMEOUT");
  RfcInit();
  EXPECT_EQ(rfclib::partner_timeout_ms(), 60000);
}

// A 1.1 handshake carries the sender's limit; a 1.0 one has no field for it,
// and a later minor version may append more.
TEST(PartnerTimeoutSetting, HandshakeCarriesTheLimitFromVersionOneOne) {
  struct Case {
    std::uint16_t minor;
    int trim;            // bytes cut from the end (negative: bytes appended)
    bool decodes;
    std::uint32_t limit;  // as decoded
  };
  const Case cases[] = {
      {1, 0, true, 7000}, {0, 0, true, 0}, {1, 2, false, 0}, {2, -3, true, 7000}, {1, -1, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "minor " << c.minor << " trim " << c.trim);
    rfclib::Hello hello;
    hello.minor = c.minor;
    hello.user = u"ALICE";
    hello.timeout_ms = 7000;
    rfclib::Welcome welcome;
    welcome.minor = c.minor;
    welcome.sysid = u"TST";
    welcome.timeout_ms = 7000;
    std::vector<std::uint8_t> hello_bytes;
    std::vector<std::uint8_t> welcome_bytes;
    rfclib::encode_hello(hello, hello_bytes);
    rfclib::encode_welcome(welcome, welcome_bytes);
    for (std::vector<std::uint8_t>* bytes : {&hello_bytes, &welcome_bytes}) {
      if (c.trim > 0) bytes->resize(bytes->size() - static_cast<std::size_t>(c.trim));
      if (c.trim < 0) bytes->insert(bytes->end(), static_cast<std::size_t>(-c.trim), 0xAB);
    }
    rfclib::Hello hello_back;
    rfclib::Welcome welcome_back;
    EXPECT_EQ(rfclib::decode_hello(hello_bytes, hello_back), c.decodes);
    EXPECT_EQ(rfclib::decode_welcome(welcome_bytes, welcome_back), c.decodes);
    if (c.decodes) {
      EXPECT_EQ(hello_back.timeout_ms, c.limit);
      EXPECT_EQ(hello_back.user, u"ALICE");
      EXPECT_EQ(welcome_back.timeout_ms, c.limit);
      EXPECT_EQ(welcome_back.sysid, u"TST");
    }
  }
}

TEST(PartnerTimeoutSetting, HeartbeatIntervalIsAFifthOfTheShorterLimit) {
  EXPECT_EQ(rfclib::heartbeat_interval_ms(60000, 60000), 12000);
  EXPECT_EQ(rfclib::heartbeat_interval_ms(60000, 5000), 1000);
  EXPECT_EQ(rfclib::heartbeat_interval_ms(5000, 60000), 1000);
  // A partner cannot ask for heartbeats more often than five a second.
  EXPECT_EQ(rfclib::heartbeat_interval_ms(60000, 1), 200);
  EXPECT_EQ(rfclib::heartbeat_interval_ms(60000, 0), 200);
}

class PartnerTimeout : public ::testing::Test {
 protected:
  void SetUp() override { rfclib::set_partner_timeout_ms(kLimitMs); }
  void TearDown() override { rfclib::set_partner_timeout_ms(0); }
};

// Logs on to a raw partner that greets as protocol 1.minor, reads the call
// and then answers after `answer_after`, or never (negative) while keeping
// the connection open until the client has gone.
std::function<void(int)> raw_partner(std::uint16_t minor, std::chrono::milliseconds answer_after) {
  return [minor, answer_after](int fd) {
    unsigned char type;
    std::string payload;
    rfctest::read_raw_frame(fd, type, payload);
    rfctest::send_raw_welcome(fd, minor, kLimitMs);
    while (rfctest::read_raw_frame(fd, type, payload) && type != 8) {
    }
    if (answer_after.count() < 0) {
      while (rfctest::read_raw_frame(fd, type, payload)) {
      }
      return;
    }
    std::this_thread::sleep_for(answer_after);
    const unsigned char reply[16] = {9, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0};
    ::send(fd, reply, sizeof reply, MSG_NOSIGNAL);
    rfctest::read_raw_frame(fd, type, payload);
  };
}

TEST_F(PartnerTimeout, SilentPartnerIsGivenUpOnOnlyWhenItSpeaksHeartbeats) {
  struct Case {
    const char* what;
    std::uint16_t minor;
    std::chrono::milliseconds answer_after;
    RFC_RC rc;
  };
  const Case cases[] = {
      {"1.1 partner that never answers", 1, -1ms, RFC_FAILURE},
      {"1.0 partner, which cannot beat, answering late", 0, 2500ms, RFC_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rfctest::RawPartner partner(raw_partner(c.minor, c.answer_after));
    const std::u16string cs = u"gwhost=127.0.0.1 gwserv=" + u16(std::to_string(partner.port()));
    RFC_ERROR_INFO_EX e{};
    const RFC_HANDLE h = RfcOpenEx(cs.c_str(), &e);
    ASSERT_NE(h, RFC_HANDLE_NULL);
    const Clock::time_point start = Clock::now();
    auto call = std::async(std::launch::async, [h] {
      SAP_UC* exception = nullptr;
      const RFC_RC rc = RfcCallReceive(h, u"ANY", nullptr, nullptr, nullptr, &exception);
      RFC_ERROR_INFO_EX error{};
      RfcLastErrorEx(&error);
      return std::make_pair(rc, error);
    });
    const bool ended = call.wait_for(30s) == std::future_status::ready;
    if (!ended) RfcClose(h);  // breaks the wait: the test fails instead of hanging
    const auto [rc, error] = call.get();
    ASSERT_TRUE(ended);
    EXPECT_EQ(rc, c.rc);
    if (c.rc == RFC_FAILURE) {
      EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(kLimitMs * 9 / 10));
      EXPECT_EQ(error.group, RFC_ERROR_COMMUNICATION);
      EXPECT_EQ(std::u16string(error.key), u"RFC_ERROR_COMMUNICATION");
      EXPECT_EQ(std::u16string(error.message), u"partner sent nothing for 1 s");
      // The connection is ended: the next call fails at once with the same record.
      EXPECT_EQ(RfcCall(h, u"ANY", nullptr, nullptr), RFC_FAILURE);
      EXPECT_EQ(std::u16string(last_error().message), u"partner sent nothing for 1 s");
    }
    RfcClose(h);
  }
}

// The system serves SLOW for three limits' time; while serving SLOW_CB it
// calls the client back, which takes as long: the side that works beats.
TEST_F(PartnerTimeout, SlowButBeatingPartnerIsNotCutOff) {
  TestSystem system;
  const RFC_HANDLE h = system.open();
  std::int32_t ms = 3 * kLimitMs;
  RFC_PARAMETER out[] = {{u"MS", 0, RFCTYPE_INT, 4, &ms}, kEndParameter};
  for (const char16_t* function : {u"SLOW", u"SLOW_CB"}) {
    SCOPED_TRACE(text8(function));
    ASSERT_EQ(RfcCall(h, function, out, nullptr), RFC_OK);
    SAP_UC* exception = nullptr;
    RFC_RC rc;
    while ((rc = RfcReceive(h, nullptr, nullptr, &exception)) == RFC_CALL) {
      std::int32_t wait_ms = 0;
      RFC_PARAMETER in[] = {{u"MS", 0, RFCTYPE_INT, 4, &wait_ms}, kEndParameter};
      ASSERT_EQ(RfcGetData(h, in, nullptr), RFC_OK);
      std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
      ASSERT_EQ(RfcSendData(h, nullptr, nullptr), RFC_OK);
    }
    EXPECT_EQ(rc, RFC_OK) << text8(last_error().message);
  }
  RfcClose(h);
}

TEST_F(PartnerTimeout, IdleWaitForRequestDoesNotTimeOut) {
  TestSystem system;
  std::u16string words = u"-a IDLE -g 127.0.0.1 -x " + u16(std::to_string(system.port()));
  SAP_UC* argv[] = {words.data(), nullptr};
  const RFC_HANDLE program = RfcAccept(argv);
  ASSERT_NE(program, RFC_HANDLE_NULL);
  EXPECT_EQ(RfcWaitForRequest(program, 3 * kLimitMs / 1000), RFC_RETRY);

  // Still registered and served after the idle wait.
  const RFC_HANDLE system_side = RfcGwOpenRegistered(system.gateway(), u"IDLE", nullptr);
  ASSERT_NE(system_side, RFC_HANDLE_NULL);
  ASSERT_EQ(RfcCall(system_side, u"EMPTY", nullptr, nullptr), RFC_OK);
  ASSERT_EQ(RfcWaitForRequest(program, 5), RFC_OK);
  ASSERT_EQ(RfcGetData(program, nullptr, nullptr), RFC_OK);
  ASSERT_EQ(RfcSendData(program, nullptr, nullptr), RFC_OK);
  SAP_UC* exception = nullptr;
  EXPECT_EQ(RfcReceive(system_side, nullptr, nullptr, &exception), RFC_OK);
  RfcClose(system_side);
  RfcClose(program);
}

TEST_F(PartnerTimeout, TickerThreadEndsWithTheLastConnection) {
  // A thread the runtime starts with the first thread of the process (a
  // sanitizer's, for one) is there before counting.
  std::thread([] {}).join();
  const int before = thread_count();
  {
    TestSystem system;
    const RFC_HANDLE h = system.open();
    SAP_UC* exception = nullptr;
    EXPECT_EQ(RfcCallReceive(h, u"EMPTY", nullptr, nullptr, nullptr, &exception), RFC_OK);
    RfcClose(h);
  }
  EXPECT_EQ(thread_count(), before);
}

}  // namespace
