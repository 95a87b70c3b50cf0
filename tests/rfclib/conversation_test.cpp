// The library against itself: a client handle talking to the test system's
// gateway over loopback.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "rfclib/rfc_gateway.h"
#include "test_system.h"

namespace {

using rfctest::call_and_serve;
using rfctest::TestSystem;

constexpr RFC_PARAMETER kEndParameter{nullptr, 0, 0, 0, nullptr};
constexpr RFC_TABLE kEndTable{nullptr, 0, 0, 0, nullptr, 0, 0};

std::u16string text_of(const SAP_UC* text) { return text != nullptr ? std::u16string(text) : u""; }

RFC_ERROR_INFO_EX last_error() {
  RFC_ERROR_INFO_EX e{};
  EXPECT_EQ(RfcLastErrorEx(&e), 0);
  return e;
}

class Conversation : public ::testing::Test {
 protected:
  void SetUp() override { handle_ = system_.open(); }
  void TearDown() override { RfcClose(handle_); }

  TestSystem system_;
  RFC_HANDLE handle_ = RFC_HANDLE_NULL;
};

TEST_F(Conversation, LogonIsRefusedWithTheSystemsErrorRecord) {
  RFC_ERROR_INFO_EX e{};
  EXPECT_EQ(RfcOpenEx(system_.connect_string(u"ALICE", u"wrong").c_str(), &e), RFC_HANDLE_NULL);
  EXPECT_EQ(e.group, RFC_ERROR_LOGON_FAILURE);
  EXPECT_EQ(text_of(e.key), u"RFC_ERROR_LOGON_FAILURE");
  EXPECT_EQ(text_of(e.message), u"Name or password is incorrect");
}

TEST_F(Conversation, AttributesShowBothSides) {
  RFC_ATTRIBUTES a{};
  ASSERT_EQ(RfcGetAttributes(handle_, &a), RFC_OK);
  EXPECT_EQ(text_of(a.partner_host), u"testhost");
  EXPECT_EQ(text_of(a.sysid), u"TST");
  EXPECT_EQ(text_of(a.user), u"ALICE");
  EXPECT_EQ(text_of(a.client), u"001");
  const auto* record = reinterpret_cast<const SAP_UC*>(&a);
  EXPECT_EQ(std::u16string(record + 302, 4), u"4103");
  EXPECT_EQ(std::u16string(record + 345, 4), u"4103");
  SAP_UC own[RFC_CODEPAGE_LN + 1];
  SAP_UC partner[RFC_CODEPAGE_LN + 1];
  ASSERT_EQ(RfcGetCodePagesInfo(handle_, own, partner), RFC_OK);
  EXPECT_EQ(text_of(own), u"4103");
}

TEST_F(Conversation, ParametersOfEveryTypeArePaddedAndCut) {
  char16_t text[3] = {u'a', u'b', u'c'};   // system reads 10 characters
  char16_t date[8] = {u'2', u'0', u'2', u'4', u'1', u'2', u'3', u'1'};
  unsigned char bcd[2] = {0x99, 0x9C};     // system reads 4 bytes
  char16_t time[6] = {u'2', u'3', u'5', u'9', u'5', u'9'};
  unsigned char raw[3] = {7, 8, 9};        // system reads 8 bytes
  char16_t num[6] = {u'1', u'2', u'3', u'4', u'5', u'6'};
  double f = -1.25;
  std::int32_t i = 123456;
  std::int16_t i2 = -2;
  std::uint8_t i1 = 255;
  RFC_PARAMETER out[] = {{u"TEXT", 0, RFCTYPE_CHAR, sizeof text, text},
                         {u"DATE", 0, RFCTYPE_DATE, sizeof date, date},
                         {u"BCD", 0, RFCTYPE_BCD, sizeof bcd, bcd},
                         {u"TIME", 0, RFCTYPE_TIME, sizeof time, time},
                         {u"RAW", 0, RFCTYPE_BYTE, sizeof raw, raw},
                         {u"NUM", 0, RFCTYPE_NUM, sizeof num, num},
                         {u"FLOAT", 0, RFCTYPE_FLOAT, sizeof f, &f},
                         {u"INT", 0, RFCTYPE_INT, sizeof i, &i},
                         {u"INT2", 0, RFCTYPE_INT2, sizeof i2, &i2},
                         {u"INT1", 0, RFCTYPE_INT1, sizeof i1, &i1},
                         kEndParameter};
  char16_t text_back[12];                  // longer than the system's 10
  unsigned char raw_back[5];               // shorter than the system's 8
  unsigned char bcd_back[4];
  double f_back = 0;
  std::int32_t i_back = 0;
  std::int16_t i2_back = 0;
  std::uint8_t i1_back = 0;
  RFC_PARAMETER in[] = {{u"TEXT", 0, RFCTYPE_CHAR, sizeof text_back, text_back},
                        {u"RAW", 0, RFCTYPE_BYTE, sizeof raw_back, raw_back},
                        {u"BCD", 0, RFCTYPE_BCD, sizeof bcd_back, bcd_back},
                        {u"FLOAT", 0, RFCTYPE_FLOAT, sizeof f_back, &f_back},
                        {u"INT", 0, RFCTYPE_INT, sizeof i_back, &i_back},
                        {u"INT2", 0, RFCTYPE_INT2, sizeof i2_back, &i2_back},
                        {u"INT1", 0, RFCTYPE_INT1, sizeof i1_back, &i1_back},
                        kEndParameter};
  SAP_UC* exception = nullptr;
  ASSERT_EQ(RfcCallReceive(handle_, u"TYPES", out, in, nullptr, &exception), RFC_OK);
  EXPECT_EQ(std::u16string(text_back, 12), u"abc         ");
  const unsigned char raw_expect[5] = {7, 8, 9, 0, 0};
  EXPECT_EQ(std::memcmp(raw_back, raw_expect, 5), 0);
  const unsigned char bcd_expect[4] = {0x99, 0x9C, 0, 0};
  EXPECT_EQ(std::memcmp(bcd_back, bcd_expect, 4), 0);
  EXPECT_EQ(f_back, -1.25);
  EXPECT_EQ(i_back, 123456);
  EXPECT_EQ(i2_back, -2);
  EXPECT_EQ(i1_back, 255);
}

TEST_F(Conversation, TablesTravelBothWaysAndAreCreatedOnReceipt) {
  ITAB_H in = ItCreate(u"IN", 5, 0, 0);
  std::memcpy(ItAppLine(in), "a1234", 5);
  std::memcpy(ItAppLine(in), "b5678", 5);
  RFC_TABLE t[] = {{u"IN", 0, RFCTYPE_BYTE, 5, in, 0, 0},
                   {u"OUT", 0, RFCTYPE_BYTE, 0, nullptr, 0, 0},
                   kEndTable};
  SAP_UC* exception = nullptr;
  ASSERT_EQ(RfcCallReceive(handle_, u"TABLES", nullptr, nullptr, t, &exception), RFC_OK);
  ASSERT_NE(t[1].ithandle, nullptr);
  EXPECT_EQ(t[1].newitab, 1);
  ASSERT_EQ(ItFill(t[1].ithandle), 2u);
  EXPECT_EQ(std::memcmp(ItGetLine(t[1].ithandle, 2), "c5678", 5), 0);
  // IN came back unchanged and still holds the caller's lines.
  EXPECT_EQ(t[0].ithandle, in);
  ASSERT_EQ(ItFill(in), 2u);
  EXPECT_EQ(std::memcmp(ItGetLine(in, 1), "a1234", 5), 0);
  ItDelete(t[1].ithandle);
  ItDelete(in);
}

TEST_F(Conversation, LargeTableArrivesWhole) {
  std::int32_t rows = 30000;
  std::int32_t leng = 200;
  RFC_PARAMETER out[] = {{u"ROWS", 0, RFCTYPE_INT, 4, &rows}, {u"LENG", 0, RFCTYPE_INT, 4, &leng},
                         kEndParameter};
  RFC_TABLE t[] = {{u"DATA", 0, RFCTYPE_BYTE, 0, nullptr, 0, 0}, kEndTable};
  SAP_UC* exception = nullptr;
  ASSERT_EQ(RfcCallReceive(handle_, u"FILL", out, nullptr, t, &exception), RFC_OK);
  ASSERT_EQ(ItFill(t[0].ithandle), 30000u);
  for (unsigned k = 1; k <= 30000; k += 4999) {
    const auto* line = static_cast<const unsigned char*>(ItGetLine(t[0].ithandle, k));
    EXPECT_EQ(line[0], k % 256);
    EXPECT_EQ(line[199], k % 256);
  }
  ItDelete(t[0].ithandle);
}

TEST_F(Conversation, ExceptionsWithAndWithoutTables) {
  for (std::uint8_t with_table : {0, 1}) {
    RFC_PARAMETER out[] = {{u"WITH_TABLE", 0, RFCTYPE_INT1, 1, &with_table}, kEndParameter};
    RFC_TABLE t[] = {{u"ERRORS", 0, RFCTYPE_CHAR, 0, nullptr, 0, 0}, kEndTable};
    SAP_UC* exception = nullptr;
    ASSERT_EQ(RfcCallReceive(handle_, u"RAISE", out, nullptr, t, &exception), RFC_EXCEPTION);
    EXPECT_EQ(text_of(exception), u"NOT_FOUND");
    if (with_table == 1) {
      ASSERT_NE(t[0].ithandle, nullptr);
      ASSERT_EQ(ItFill(t[0].ithandle), 1u);
      EXPECT_EQ(std::memcmp(ItGetLine(t[0].ithandle, 1), u"bad", 6), 0);
      ItDelete(t[0].ithandle);
    } else {
      EXPECT_EQ(t[0].ithandle, nullptr);
    }
  }
  // The connection goes on after an exception.
  SAP_UC* exception = nullptr;
  EXPECT_EQ(RfcCallReceive(handle_, u"EMPTY", nullptr, nullptr, nullptr, &exception), RFC_OK);
}

TEST_F(Conversation, SystemFailureEndsTheConnection) {
  SAP_UC* exception = nullptr;
  ASSERT_EQ(RfcCallReceive(handle_, u"SYSFAIL", nullptr, nullptr, nullptr, &exception),
            RFC_SYS_EXCEPTION);
  EXPECT_EQ(text_of(exception), u"SYSTEM_FAILURE");
  const RFC_ERROR_INFO_EX e = last_error();
  EXPECT_EQ(e.group, RFC_ERROR_SYSTEM_FAILURE);
  EXPECT_EQ(text_of(e.key), u"COMPUTE_INT_ZERODIVIDE");
  EXPECT_EQ(text_of(e.message), u"Division by zero");
  EXPECT_EQ(RfcCall(handle_, u"EMPTY", nullptr, nullptr), RFC_FAILURE);
}

TEST_F(Conversation, AbortCarriesItsText) {
  SAP_UC* exception = nullptr;
  ASSERT_EQ(RfcCallReceive(handle_, u"NO_SUCH_FUNCTION", nullptr, nullptr, nullptr, &exception),
            RFC_SYS_EXCEPTION);
  const RFC_ERROR_INFO_EX e = last_error();
  EXPECT_EQ(e.group, RFC_ERROR_SYSTEM_FAILURE);
  EXPECT_EQ(text_of(e.message), u"Function not supported by the test system");
}

TEST_F(Conversation, CallbacksNestThreeDeep) {
  std::int32_t result = 0;
  RFC_PARAMETER in[] = {{u"RESULT", 0, RFCTYPE_INT, 4, &result}, kEndParameter};
  SAP_UC* exception = nullptr;
  // NEST -> CLIENT_CB (X=1) -> INNER (X=2) answers 20 -> Y=20 -> RESULT=20
  ASSERT_EQ(call_and_serve(handle_, u"NEST", nullptr, in, nullptr, &exception), RFC_OK);
  EXPECT_EQ(result, 20);
  EXPECT_EQ(RfcCallReceive(handle_, u"EMPTY", nullptr, nullptr, nullptr, &exception), RFC_OK);
}

TEST_F(Conversation, PartnerDyingInTheCallIsAnErrorNotAHang) {
  SAP_UC* exception = nullptr;
  ASSERT_EQ(RfcCallReceive(handle_, u"HANGUP", nullptr, nullptr, nullptr, &exception), RFC_FAILURE);
  EXPECT_EQ(last_error().group, RFC_ERROR_COMMUNICATION);
  EXPECT_EQ(RfcCallReceive(handle_, u"EMPTY", nullptr, nullptr, nullptr, &exception), RFC_FAILURE);
}

TEST_F(Conversation, MisuseOfTheCallOrderFails) {
  SAP_UC* exception = nullptr;
  EXPECT_EQ(RfcReceive(handle_, nullptr, nullptr, &exception), RFC_FAILURE);
  EXPECT_EQ(last_error().group, RFC_ERROR_PROGRAM);
  EXPECT_EQ(RfcSendData(handle_, nullptr, nullptr), RFC_FAILURE);
  SAP_UC name[RFC_FUNCNAME_LN + 1];
  EXPECT_EQ(RfcGetName(handle_, name), RFC_FAILURE);
  ASSERT_EQ(RfcCall(handle_, u"EMPTY", nullptr, nullptr), RFC_OK);
  EXPECT_EQ(RfcCall(handle_, u"EMPTY", nullptr, nullptr), RFC_FAILURE);
  EXPECT_EQ(RfcReceive(handle_, nullptr, nullptr, &exception), RFC_OK);
  const std::u16string long_name(200, u'F');
  EXPECT_EQ(RfcCall(handle_, long_name.c_str(), nullptr, nullptr), RFC_FAILURE);
  EXPECT_EQ(RfcCall(RFC_HANDLE_NULL, u"EMPTY", nullptr, nullptr), RFC_FAILURE);
  RfcClose(987654321);  // unknown handles are ignored
}

TEST_F(Conversation, SecondThreadOnABusyHandleFailsCleanly) {
  auto entered = system_.entered_block();
  auto first = std::async(std::launch::async, [this] {
    SAP_UC* exception = nullptr;
    return RfcCallReceive(handle_, u"BLOCK", nullptr, nullptr, nullptr, &exception);
  });
  entered.wait();
  EXPECT_EQ(RfcCall(handle_, u"EMPTY", nullptr, nullptr), RFC_FAILURE);
  system_.release_block();
  EXPECT_EQ(first.get(), RFC_OK);
  SAP_UC* exception = nullptr;
  EXPECT_EQ(RfcCallReceive(handle_, u"EMPTY", nullptr, nullptr, nullptr, &exception), RFC_OK);
}

TEST(ConversationThreads, TenThreadsWithTheirOwnHandles) {
  TestSystem system;
  std::vector<std::thread> threads;
  std::vector<int> failures(10, 0);
  for (int n = 0; n < 10; ++n) {
    threads.emplace_back([&system, &failures, n] {
      const RFC_HANDLE h = system.open();
      for (int k = 0; k < 20; ++k) {
        std::int32_t rows = n + k + 1;
        std::int32_t leng = 8 + n;
        RFC_PARAMETER out[] = {{u"ROWS", 0, RFCTYPE_INT, 4, &rows},
                               {u"LENG", 0, RFCTYPE_INT, 4, &leng}, kEndParameter};
        RFC_TABLE t[] = {{u"DATA", 0, RFCTYPE_BYTE, 0, nullptr, 0, 0}, kEndTable};
        SAP_UC* exception = nullptr;
        if (RfcCallReceive(h, u"FILL", out, nullptr, t, &exception) != RFC_OK ||
            ItFill(t[0].ithandle) != static_cast<unsigned>(rows) ||
            ItLeng(t[0].ithandle) != static_cast<unsigned>(leng)) {
          ++failures[static_cast<std::size_t>(n)];
        }
        ItDelete(t[0].ithandle);
      }
      RfcClose(h);
    });
  }
  for (auto& t : threads) t.join();
  for (int n = 0; n < 10; ++n) EXPECT_EQ(failures[static_cast<std::size_t>(n)], 0) << n;
}

TEST(ConversationThreads, LastErrorBelongsToTheCallingThread) {
  TestSystem system;
  std::promise<void> a_failed;
  std::promise<void> b_failed;
  auto a = std::async(std::launch::async, [&] {
    EXPECT_EQ(RfcCall(424242, u"X", nullptr, nullptr), RFC_FAILURE);
    a_failed.set_value();
    b_failed.get_future().wait();
    RFC_ERROR_INFO_EX e{};
    EXPECT_EQ(RfcLastErrorEx(&e), 0);
    return e.group;
  });
  auto b = std::async(std::launch::async, [&] {
    a_failed.get_future().wait();
    RFC_ERROR_INFO_EX e{};
    EXPECT_EQ(RfcOpenEx(system.connect_string(u"ALICE", u"nope").c_str(), &e), RFC_HANDLE_NULL);
    b_failed.set_value();
    EXPECT_EQ(RfcLastErrorEx(&e), 0);
    return e.group;
  });
  EXPECT_EQ(a.get(), RFC_ERROR_PROGRAM);
  EXPECT_EQ(b.get(), RFC_ERROR_LOGON_FAILURE);
  auto fresh = std::async(std::launch::async, [] {
    RFC_ERROR_INFO_EX e{};
    return RfcLastErrorEx(&e);
  });
  EXPECT_EQ(fresh.get(), 1);
}

TEST(ConversationStop, StoppingTheGatewayBreaksOpenConnections) {
  auto system = std::make_unique<TestSystem>();
  const RFC_HANDLE h = system->open();
  system.reset();  // returns although the serve loop was waiting for a call
  SAP_UC* exception = nullptr;
  EXPECT_EQ(RfcCallReceive(h, u"EMPTY", nullptr, nullptr, nullptr, &exception), RFC_FAILURE);
  RfcClose(h);
}

// Partners that break the protocol: the client fails with an error record.
TEST(MisbehavingPartner, GarbageAndSilenceAreErrors) {
  struct Case {
    const char* what;
    std::function<void(int)> script;
    int group;
  };
  const Case cases[] = {
      {"unknown frame after the call",
       [](int fd) {
         unsigned char type;
         std::string payload;
         rfctest::read_raw_frame(fd, type, payload);
         rfctest::send_raw_welcome(fd);
         while (rfctest::read_raw_frame(fd, type, payload) && type != 8) {
         }
         const unsigned char junk[8] = {99, 0, 0, 0, 0, 0, 0, 0};
         ::send(fd, junk, sizeof junk, MSG_NOSIGNAL);
         rfctest::read_raw_frame(fd, type, payload);
       },
       RFC_ERROR_PROTOCOL},
      {"oversized reply frame",
       [](int fd) {
         unsigned char type;
         std::string payload;
         rfctest::read_raw_frame(fd, type, payload);
         rfctest::send_raw_welcome(fd);
         while (rfctest::read_raw_frame(fd, type, payload) && type != 8) {
         }
         const unsigned char big[8] = {9, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
         ::send(fd, big, sizeof big, MSG_NOSIGNAL);
         rfctest::read_raw_frame(fd, type, payload);
       },
       RFC_ERROR_PROTOCOL},
      {"half a reply, then closed",
       [](int fd) {
         unsigned char type;
         std::string payload;
         rfctest::read_raw_frame(fd, type, payload);
         rfctest::send_raw_welcome(fd);
         while (rfctest::read_raw_frame(fd, type, payload) && type != 8) {
         }
         const unsigned char half[12] = {9, 0, 0, 0, 0, 0, 0, 0, 6, 0, 0, 0};
         ::send(fd, half, sizeof half, MSG_NOSIGNAL);
       },
       RFC_ERROR_COMMUNICATION},
  };
  for (const Case& c : cases) {
    rfctest::RawPartner partner(c.script);
    const std::string port = std::to_string(partner.port());
    const std::u16string cs = u"gwhost=127.0.0.1 gwserv=" + std::u16string(port.begin(), port.end());
    RFC_ERROR_INFO_EX e{};
    const RFC_HANDLE h = RfcOpenEx(cs.c_str(), &e);
    ASSERT_NE(h, RFC_HANDLE_NULL) << c.what;
    SAP_UC* exception = nullptr;
    EXPECT_EQ(RfcCallReceive(h, u"ANY", nullptr, nullptr, nullptr, &exception), RFC_FAILURE)
        << c.what;
    EXPECT_EQ(last_error().group, c.group) << c.what;
    RfcClose(h);
  }
}

TEST(MisbehavingPartner, NotAGatewayFailsTheLogon) {
  rfctest::RawPartner partner([](int fd) {
    const char banner[] = "SSH-2.0-something\r\n";
    ::send(fd, banner, sizeof banner - 1, MSG_NOSIGNAL);
    unsigned char type;
    std::string payload;
    rfctest::read_raw_frame(fd, type, payload);
  });
  const std::string port = std::to_string(partner.port());
  const std::u16string cs = u"gwhost=127.0.0.1 gwserv=" + std::u16string(port.begin(), port.end());
  RFC_ERROR_INFO_EX e{};
  EXPECT_EQ(RfcOpenEx(cs.c_str(), &e), RFC_HANDLE_NULL);
  EXPECT_EQ(e.group, RFC_ERROR_PROTOCOL);
}

}  // namespace
