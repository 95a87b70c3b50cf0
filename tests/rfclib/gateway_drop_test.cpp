// The gateway's drop log: connections it ends before they are logged on or
// registered reach the program with the peer's address and a reason.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "handshake.h"
#include "rfclib/rfc_gateway.h"
#include "test_system.h"

namespace {

using rfctest::TestSystem;

std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string frame(rfclib::wire::FrameType type, const std::vector<std::uint8_t>& payload) {
  const std::vector<std::uint8_t> f = rfclib::make_frame(type, payload);
  return std::string(f.begin(), f.end());
}

std::string hello(std::uint16_t major, rfclib::wire::HelloKind kind) {
  rfclib::Hello h;
  h.major = major;
  h.kind = kind;
  h.user = u"ALICE";
  std::vector<std::uint8_t> payload;
  rfclib::encode_hello(h, payload);
  return frame(rfclib::wire::FrameType::hello, payload);
}

bool contains(const std::u16string& text, const std::string& part) {
  return text.find(u16(part)) != std::u16string::npos;
}

TEST(GatewayDropLog, ConnectionsEndedBeforeLogonAreReported) {
  using rfclib::wire::FrameType;
  using rfclib::wire::HelloKind;
  TestSystem system;
  // A logon, a registration and a count go through: none of them is a drop.
  const RFC_HANDLE client = system.open();
  const std::u16string port = u16(std::to_string(system.port()));
  std::u16string words = u"-a DROPS -g 127.0.0.1 -x " + port;
  SAP_UC* argv[] = {words.data(), nullptr};
  const RFC_HANDLE program = RfcAccept(argv);
  ASSERT_NE(program, RFC_HANDLE_NULL);
  RFC_INT total = 0;
  RFC_ERROR_INFO_EX e{};
  ASSERT_EQ(RfcCheckRegisterServer(u"DROPS", u"127.0.0.1", port.c_str(), &total, nullptr, nullptr,
                                   nullptr, &e),
            RFC_OK);

  struct Case {
    const char* what;
    std::string bytes;  // sent; then our sending side is shut down
    int group;
    const char* reason;
  };
  const std::string hello_v1 = hello(1, HelloKind::logon);
  const Case cases[] = {
      {"closed without a word", "", RFC_ERROR_COMMUNICATION, "closed by the partner"},
      {"not this protocol", "GET / HTTP/1.1\r\n\r\n", RFC_ERROR_PROTOCOL, "unknown frame type"},
      {"a call instead of HELLO", frame(FrameType::call, {2, 0, 'X', 0}), RFC_ERROR_PROTOCOL,
       "HELLO expected, not CALL"},
      {"bad magic", frame(FrameType::hello, {'X', 'X', 'X', 'X', 1, 0, 0, 0, 1}),
       RFC_ERROR_PROTOCOL, "malformed HELLO"},
      {"another major version", hello(2, HelloKind::logon), RFC_ERROR_PROTOCOL,
       "protocol version 2 not supported"},
      {"truncated HELLO", hello_v1.substr(0, hello_v1.size() - 3), RFC_ERROR_COMMUNICATION,
       "closed by the partner"},
      {"registration without a program id", hello(1, HelloKind::reg), RFC_ERROR_PROGRAM,
       "without a program id"},
  };
  std::size_t reported = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int fd = rfctest::connect_raw(system.port());
    ASSERT_GE(fd, 0);
    const std::string address = rfctest::local_address(fd);
    ASSERT_EQ(::send(fd, c.bytes.data(), c.bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(c.bytes.size()));
    ::shutdown(fd, SHUT_WR);
    const auto drops = system.dropped(++reported);
    ::close(fd);
    ASSERT_EQ(drops.size(), reported);
    EXPECT_EQ(drops.back().address, u16(address));
    EXPECT_EQ(drops.back().group, c.group);
    EXPECT_TRUE(contains(drops.back().message, c.reason));
  }

  // A refused logon is reported with the refusal the partner got.
  EXPECT_EQ(RfcOpenEx(system.connect_string(u"ALICE", u"wrong").c_str(), &e), RFC_HANDLE_NULL);
  const auto drops = system.dropped(++reported);
  ASSERT_EQ(drops.size(), reported);
  EXPECT_EQ(drops.back().address.rfind(u"127.0.0.1:", 0), 0u);
  EXPECT_EQ(drops.back().group, RFC_ERROR_LOGON_FAILURE);
  EXPECT_EQ(drops.back().message, u"Name or password is incorrect");

  RfcClose(program);
  RfcClose(client);
}

TEST(GatewayDropLog, FullGatewayReportsTheRefusal) {
  TestSystem system(1);
  const RFC_HANDLE first = system.open();
  RFC_ERROR_INFO_EX e{};
  EXPECT_EQ(RfcOpenEx(system.connect_string().c_str(), &e), RFC_HANDLE_NULL);
  EXPECT_EQ(e.group, RFC_ERROR_RESOURCE);
  const auto drops = system.dropped(1);
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].group, RFC_ERROR_RESOURCE);
  EXPECT_EQ(drops[0].address.rfind(u"127.0.0.1:", 0), 0u);
  RfcClose(first);
}

}  // namespace
