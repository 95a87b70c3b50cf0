// Registered server programs: RfcAccept, RfcWaitForRequest, RfcCheckRegisterServer
// and the gateway calling the program through RfcGwOpenRegistered.
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "rfclib/rfc_gateway.h"
#include "test_system.h"

namespace {

using rfctest::TestSystem;

constexpr RFC_PARAMETER kEndParameter{nullptr, 0, 0, 0, nullptr};

std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }
std::string text8(const SAP_UC* s) { return std::string(s, s + std::u16string_view(s).size()); }

class Registration : public ::testing::Test {
 protected:
  RFC_HANDLE accept() {
    std::u16string port = u16(std::to_string(system_.port()));
    std::vector<std::u16string> words = {u"-a", u"VOKPROG", u"-g", u"127.0.0.1", u"-x", port};
    std::vector<SAP_UC*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return RfcAccept(argv.data());
  }

  int registered(RFC_INT* ready = nullptr, RFC_INT* busy = nullptr) {
    RFC_INT total = -1;
    RFC_INT init = -1;
    RFC_INT r = -1;
    RFC_INT b = -1;
    RFC_ERROR_INFO_EX e{};
    const std::u16string port = u16(std::to_string(system_.port()));
    EXPECT_EQ(RfcCheckRegisterServer(u"VOKPROG", u"127.0.0.1", port.c_str(), &total, &init, &r,
                                     &b, &e),
              RFC_OK);
    EXPECT_EQ(init, 0);
    if (ready != nullptr) *ready = r;
    if (busy != nullptr) *busy = b;
    return total;
  }

  TestSystem system_;
};

TEST_F(Registration, AcceptNeedsAllThreeOptions) {
  std::u16string partial = u"-a VOKPROG -g 127.0.0.1";
  SAP_UC* argv[] = {partial.data(), nullptr};
  EXPECT_EQ(RfcAccept(argv), RFC_HANDLE_NULL);
  RFC_ERROR_INFO_EX e{};
  ASSERT_EQ(RfcLastErrorEx(&e), 0);
  EXPECT_EQ(e.group, RFC_ERROR_PROGRAM);
  EXPECT_EQ(RfcAccept(nullptr), RFC_HANDLE_NULL);
}

TEST_F(Registration, AcceptTakesOneEntryHoldingAllOptions) {
  const std::u16string text = u"-a VOKPROG -g 127.0.0.1 -x " + u16(std::to_string(system_.port()));
  std::u16string copy = text;
  SAP_UC* argv[] = {copy.data(), nullptr};
  const RFC_HANDLE h = RfcAccept(argv);
  ASSERT_NE(h, RFC_HANDLE_NULL);
  EXPECT_EQ(registered(), 1);
  RfcClose(h);
}

TEST_F(Registration, OneRegistrationServesOneConversation) {
  EXPECT_EQ(registered(), 0);
  const RFC_HANDLE program = accept();
  ASSERT_NE(program, RFC_HANDLE_NULL);
  RFC_INT ready = 0;
  RFC_INT busy = 0;
  EXPECT_EQ(registered(&ready, &busy), 1);
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(busy, 0);

  EXPECT_EQ(RfcWaitForRequest(program, 0), RFC_RETRY);

  const RFC_HANDLE system_side = RfcGwOpenRegistered(system_.gateway(), u"VOKPROG", nullptr);
  ASSERT_NE(system_side, RFC_HANDLE_NULL);
  EXPECT_EQ(registered(&ready, &busy), 1);
  EXPECT_EQ(busy, 1);
  RFC_ERROR_INFO_EX e{};
  EXPECT_EQ(RfcGwOpenRegistered(system_.gateway(), u"VOKPROG", &e), RFC_HANDLE_NULL);
  EXPECT_EQ(e.group, RFC_ERROR_BUSY);

  // The system calls the program; the program calls back while serving.
  std::int32_t x = 5;
  RFC_PARAMETER call_out[] = {{u"X", 0, RFCTYPE_INT, 4, &x}, kEndParameter};
  ASSERT_EQ(RfcCall(system_side, u"Z_VOK_BATCH_CALLBACK1", call_out, nullptr), RFC_OK);

  ASSERT_EQ(RfcWaitForRequest(program, 5), RFC_OK);
  SAP_UC name[RFC_FUNCNAME_LN + 1];
  ASSERT_EQ(RfcGetName(program, name), RFC_OK);
  EXPECT_EQ(std::u16string(name), u"Z_VOK_BATCH_CALLBACK1");
  std::int32_t got = 0;
  RFC_PARAMETER program_in[] = {{u"X", 0, RFCTYPE_INT, 4, &got}, kEndParameter};
  ASSERT_EQ(RfcGetData(program, program_in, nullptr), RFC_OK);
  EXPECT_EQ(got, 5);
  ASSERT_EQ(RfcCall(program, u"/VOK/Z_VOK_DIALOG", nullptr, nullptr), RFC_OK);

  SAP_UC* exception = nullptr;
  ASSERT_EQ(RfcReceive(system_side, nullptr, nullptr, &exception), RFC_CALL);
  SAP_UC long_name[200];
  ASSERT_EQ(RfcGetLongNameEx(system_side, long_name, 200), RFC_OK);
  EXPECT_EQ(std::u16string(long_name), u"/VOK/Z_VOK_DIALOG");
  ASSERT_EQ(RfcGetData(system_side, nullptr, nullptr), RFC_OK);
  ASSERT_EQ(RfcSendData(system_side, nullptr, nullptr), RFC_OK);

  ASSERT_EQ(RfcReceive(program, nullptr, nullptr, &exception), RFC_OK);
  got += 1;
  RFC_PARAMETER program_out[] = {{u"Y", 0, RFCTYPE_INT, 4, &got}, kEndParameter};
  ASSERT_EQ(RfcSendData(program, program_out, nullptr), RFC_OK);

  std::int32_t y = 0;
  RFC_PARAMETER call_in[] = {{u"Y", 0, RFCTYPE_INT, 4, &y}, kEndParameter};
  ASSERT_EQ(RfcReceive(system_side, call_in, nullptr, &exception), RFC_OK);
  EXPECT_EQ(y, 6);

  // The system ends the conversation: the registration is used up.
  RfcClose(system_side);
  EXPECT_EQ(RfcWaitForRequest(program, 5), RFC_FAILURE);
  EXPECT_EQ(registered(), 0);
  RfcClose(program);

  const RFC_HANDLE again = accept();
  ASSERT_NE(again, RFC_HANDLE_NULL);
  EXPECT_EQ(registered(), 1);
  RfcClose(again);
}

TEST_F(Registration, ProgramThatLeavesIsNotCounted) {
  const RFC_HANDLE a = accept();
  const RFC_HANDLE b = accept();
  ASSERT_NE(a, RFC_HANDLE_NULL);
  ASSERT_NE(b, RFC_HANDLE_NULL);
  EXPECT_EQ(registered(), 2);
  RfcClose(a);
  EXPECT_EQ(registered(), 1);
  // The one left is the one the system gets.
  const RFC_HANDLE system_side = RfcGwOpenRegistered(system_.gateway(), u"VOKPROG", nullptr);
  ASSERT_NE(system_side, RFC_HANDLE_NULL);
  ASSERT_EQ(RfcCall(system_side, u"PING", nullptr, nullptr), RFC_OK);
  EXPECT_EQ(RfcWaitForRequest(b, 5), RFC_OK);
  RfcClose(system_side);
  RfcClose(b);
}

// A registration is handed out only once its handshake is over: whether the
// system learns of it from the program (RfcAccept has returned) or from the
// count, the handle it gets takes a call at once. The gateway's own thread
// finishes the handshake concurrently, so the check is repeated (a handle
// still in its handshake showed within a few dozen rounds).
TEST_F(Registration, HandedOutRegistrationTakesACallAtOnce) {
  enum class Seen { accept_returned, counted_ready };
  for (const Seen seen : {Seen::accept_returned, Seen::counted_ready}) {
    SCOPED_TRACE(seen == Seen::accept_returned ? "after RfcAccept" : "after the count");
    for (int round = 0; round < 300; ++round) {
      std::future<RFC_HANDLE> program = std::async(std::launch::async, [this] { return accept(); });
      if (seen == Seen::accept_returned) {
        program.wait();
      } else {
        int ready = 0;
        while (RfcGwCountRegistered(system_.gateway(), u"VOKPROG", &ready, nullptr) == 0 ||
               ready == 0) {
          std::this_thread::yield();
        }
      }
      RFC_ERROR_INFO_EX e{};
      const RFC_HANDLE system_side = RfcGwOpenRegistered(system_.gateway(), u"VOKPROG", &e);
      ASSERT_NE(system_side, RFC_HANDLE_NULL) << round << ": " << text8(e.message);
      const RFC_RC rc = RfcCall(system_side, u"PING", nullptr, nullptr);
      RfcLastErrorEx(&e);
      RfcClose(system_side);
      RfcClose(program.get());
      ASSERT_EQ(rc, RFC_OK) << round << ": " << text8(e.message);
    }
  }
}

TEST_F(Registration, CheckAgainstNoGatewayFails) {
  RFC_INT total = 0;
  RFC_ERROR_INFO_EX e{};
  EXPECT_EQ(RfcCheckRegisterServer(u"VOKPROG", u"127.0.0.1", u"sapgw", &total, nullptr, nullptr,
                                   nullptr, &e),
            RFC_FAILURE);
  EXPECT_NE(e.group, RFC_ERROR_NONE);
}

TEST(LibraryInfo, VersionsAndStructures) {
  RfcInit();
  RfcInit();
  SAP_UC text[256];
  EXPECT_GT(RfcGetAllLibVersions(text, 256), 20u);
  EXPECT_NE(std::u16string(text).find(u"rfclib"), std::u16string::npos);
  SAP_UC tiny[4];
  EXPECT_EQ(RfcGetAllLibVersions(tiny, 4), 3u);
  int major = -1;
  int minor = -1;
  int patch = -1;
  EXPECT_EQ(RfcGetPatchLevel(&major, &minor, &patch), RFC_OK);
  EXPECT_EQ(major, 1);
  EXPECT_GE(minor, 0);

  RFC_UNICODE_TYPE_ELEMENT good[] = {
      {u"CARRID", RFCTYPE_CHAR, 0, 3, 0, 6, 0, 12, 0},
      {u"FLDATE", RFCTYPE_DATE, 0, 8, 3, 16, 6, 32, 12},
      {u"PRICE", RFCTYPE_BCD, 2, 8, 11, 8, 22, 8, 44},
      {u"SEATS", RFCTYPE_INT, 0, 4, 20, 4, 32, 4, 52}};
  RFC_TYPEHANDLE type = 0;
  ASSERT_EQ(RfcInstallUnicodeStructure(u"FLIGHT", good, 4, 0, 0, &type), RFC_OK);
  EXPECT_GE(type, RFCTYPE_STRUCTURE_FIRST);
  RFC_TYPEHANDLE again = 0;
  ASSERT_EQ(RfcInstallUnicodeStructure(u"FLIGHT", good, 4, 0, 0, &again), RFC_OK);
  EXPECT_EQ(again, type);

  struct BadCase {
    RFC_UNICODE_TYPE_ELEMENT e[2];
    unsigned count;
  };
  const BadCase bad[] = {
      {{{u"A", RFCTYPE_INT, 0, 4, 0, 3, 0, 4, 0}}, 1},                       // int of 3 bytes
      {{{u"A", RFCTYPE_CHAR, 0, 3, 0, 5, 0, 12, 0}}, 1},                     // odd text length
      {{{u"A", 99, 0, 4, 0, 4, 0, 4, 0}}, 1},                                // unknown type
      {{{u"A", RFCTYPE_CHAR, 0, 2, 0, 4, 0, 8, 0}, {u"B", RFCTYPE_INT, 0, 4, 0, 4, 2, 4, 0}}, 2},  // overlap
      {{{u"A", RFCTYPE_CHAR, 0, 2, 0, 4, 0, 8, 0}, {u"A", RFCTYPE_INT, 0, 4, 0, 4, 4, 4, 0}}, 2},  // twice
      {{{nullptr, RFCTYPE_INT, 0, 4, 0, 4, 0, 4, 0}}, 1},                    // no name
  };
  for (const BadCase& b : bad) {
    RFC_TYPEHANDLE t = 0;
    EXPECT_EQ(RfcInstallUnicodeStructure(u"BAD", b.e, b.count, 0, 0, &t), RFC_FAILURE);
  }
}

TEST(LibraryInfo, StructureTypedTableIsPaddedPerElement) {
  RFC_UNICODE_TYPE_ELEMENT el[] = {{u"NAME", RFCTYPE_CHAR, 0, 2, 0, 4, 0, 8, 0},
                                   {u"COUNT", RFCTYPE_INT, 0, 4, 2, 4, 4, 4, 8}};
  RFC_TYPEHANDLE type = 0;
  ASSERT_EQ(RfcInstallUnicodeStructure(u"PAIR", el, 2, 0, 0, &type), RFC_OK);
  // The system's table lines are 2 bytes long: only the first half of NAME arrives.
  TestSystem system;
  const RFC_HANDLE h = system.open();
  std::int32_t rows = 1;
  std::int32_t leng = 2;
  RFC_PARAMETER out[] = {{u"ROWS", 0, RFCTYPE_INT, 4, &rows}, {u"LENG", 0, RFCTYPE_INT, 4, &leng},
                         kEndParameter};
  RFC_TABLE t[] = {{u"DATA", 0, type, 8, nullptr, 0, 0}, {nullptr, 0, 0, 0, nullptr, 0, 0}};
  SAP_UC* exception = nullptr;
  ASSERT_EQ(RfcCallReceive(h, u"FILL", out, nullptr, t, &exception), RFC_OK);
  ASSERT_EQ(ItFill(t[0].ithandle), 1u);
  const unsigned char expect[8] = {1, 1, 0x20, 0x00, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(ItGetLine(t[0].ithandle, 1), expect, 8), 0);
  ItDelete(t[0].ithandle);
  RfcClose(h);
}

}  // namespace
