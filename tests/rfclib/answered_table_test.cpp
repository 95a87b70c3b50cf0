// A table a served call received goes back as "unchanged" only while it holds
// exactly what that call brought. The system calls a registered program with
// LINES and OTHER; the program changes its LINES in some way between RfcGetData
// and RfcSendData, and the system must end up with the program's lines.
// One thread drives both ends, so every step happens in a known order.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "rfclib/rfc_gateway.h"
#include "test_system.h"

namespace {

using rfctest::TestSystem;

constexpr RFC_TABLE kEndTable{nullptr, 0, 0, 0, nullptr, 0, 0};
constexpr unsigned kLeng = 8;

ITAB_H table_of(const std::vector<std::string>& lines) {
  ITAB_H t = ItCreate(u"LINES", kLeng, 0, 0);
  for (const std::string& line : lines) std::memcpy(ItAppLine(t), line.data(), line.size());
  return t;
}

std::vector<std::string> lines_of(ITAB_H t) {
  std::vector<std::string> lines;
  for (unsigned k = 1; k <= ItFill(t); ++k) {
    const char* line = static_cast<const char*>(ItGetLine(t, k));
    lines.emplace_back(line, strnlen(line, kLeng));
  }
  return lines;
}

RFC_TABLE lines_entry(ITAB_H t) { return {u"LINES", 0, RFCTYPE_BYTE, kLeng, t, 0, 0}; }

// One conversation: `caller` is the system's handle on the registered program.
class Conversation {
 public:
  explicit Conversation(TestSystem& system) : system_(system) {
    const std::string port = std::to_string(system.port());
    std::u16string words =
        u"-a ANSWERS -g 127.0.0.1 -x " + std::u16string(port.begin(), port.end());
    SAP_UC* argv[] = {words.data(), nullptr};
    program = RfcAccept(argv);
    caller = RfcGwOpenRegistered(system.gateway(), u"ANSWERS", nullptr);
  }
  ~Conversation() {
    RfcClose(caller);
    RfcClose(program);
  }

  // The program calls the system back with `t` as LINES; the system answers
  // with new lines (REPLY or EXCEPTION) or sends LINES back untouched.
  enum class Answer { reply, exception, untouched };
  void call_back_with(ITAB_H t, Answer answer) {
    RFC_TABLE sent[] = {lines_entry(t), kEndTable};
    ASSERT_EQ(RfcCall(program, u"NESTED", nullptr, sent), RFC_OK);
    SAP_UC* exception = nullptr;
    ASSERT_EQ(RfcReceive(caller, nullptr, nullptr, &exception), RFC_CALL);
    RFC_TABLE got[] = {{u"LINES", 0, RFCTYPE_BYTE, 0, nullptr, 0, 0}, kEndTable};
    ASSERT_EQ(RfcGetData(caller, nullptr, got), RFC_OK);
    if (answer != Answer::untouched) {
      ItFree(got[0].ithandle);
      std::memcpy(ItAppLine(got[0].ithandle), "nested", 6);
    }
    if (answer == Answer::exception) {
      ASSERT_EQ(RfcRaiseTables(caller, u"NESTED_FAILED", got), RFC_OK);
    } else {
      ASSERT_EQ(RfcSendData(caller, nullptr, got), RFC_OK);
    }
    ItDelete(got[0].ithandle);
    EXPECT_EQ(RfcReceive(program, nullptr, sent, &exception),
              answer == Answer::exception ? RFC_EXCEPTION : RFC_OK);
  }

  // The program calls the system (no tables); the system, serving that,
  // calls the program back with LINES, which the program reads into `t`.
  void callback_fills(ITAB_H t) {
    ASSERT_EQ(RfcCall(program, u"NESTED", nullptr, nullptr), RFC_OK);
    SAP_UC* exception = nullptr;
    ASSERT_EQ(RfcReceive(caller, nullptr, nullptr, &exception), RFC_CALL);
    ASSERT_EQ(RfcGetData(caller, nullptr, nullptr), RFC_OK);
    ITAB_H fresh = table_of({"callback"});
    RFC_TABLE back[] = {lines_entry(fresh), kEndTable};
    ASSERT_EQ(RfcCall(caller, u"INNER", nullptr, back), RFC_OK);
    ASSERT_EQ(RfcReceive(program, nullptr, nullptr, &exception), RFC_CALL);
    RFC_TABLE into[] = {lines_entry(t), kEndTable};
    ASSERT_EQ(RfcGetData(program, nullptr, into), RFC_OK);
    ASSERT_EQ(RfcSendData(program, nullptr, nullptr), RFC_OK);
    ASSERT_EQ(RfcReceive(caller, nullptr, back, &exception), RFC_OK);
    ItDelete(fresh);
    ASSERT_EQ(RfcSendData(caller, nullptr, nullptr), RFC_OK);
    ASSERT_EQ(RfcReceive(program, nullptr, nullptr, &exception), RFC_OK);
  }

  // A call on another connection of the program fills `t` (one line of 0x01 bytes).
  void other_connection_fills(ITAB_H t) {
    const RFC_HANDLE other = system_.open();
    std::int32_t rows = 1;
    std::int32_t leng = kLeng;
    RFC_PARAMETER out[] = {{u"ROWS", 0, RFCTYPE_INT, 4, &rows},
                           {u"LENG", 0, RFCTYPE_INT, 4, &leng},
                           {nullptr, 0, 0, 0, nullptr}};
    RFC_TABLE data[] = {{u"DATA", 0, RFCTYPE_BYTE, kLeng, t, 0, 0}, kEndTable};
    SAP_UC* exception = nullptr;
    EXPECT_EQ(RfcCallReceive(other, u"FILL", out, nullptr, data, &exception), RFC_OK);
    RfcClose(other);
  }

  RFC_HANDLE program = RFC_HANDLE_NULL;
  RFC_HANDLE caller = RFC_HANDLE_NULL;

 private:
  TestSystem& system_;
};

struct Case {
  const char* what;
  // Runs on the program between RfcGetData and RfcSendData. received[0] is
  // LINES, received[1] OTHER; the program answers with received[0] as LINES.
  std::function<void(Conversation&, RFC_TABLE* received)> change;
  std::vector<std::string> expected;
};

TEST(AnsweredTable, CallerEndsUpWithTheProgramsLines) {
  using Answer = Conversation::Answer;
  const std::string ones(kLeng, '\x01');
  const Case cases[] = {
      {"untouched", [](Conversation&, RFC_TABLE*) {}, {"a1", "a2"}},
      {"line appended",
       [](Conversation&, RFC_TABLE* r) { std::memcpy(ItAppLine(r[0].ithandle), "z", 1); },
       {"a1", "a2", "z"}},
      {"line changed",
       [](Conversation&, RFC_TABLE* r) { std::memcpy(ItGupLine(r[0].ithandle, 1), "z", 1); },
       {"z1", "a2"}},
      {"emptied", [](Conversation&, RFC_TABLE* r) { ItFree(r[0].ithandle); }, {}},
      {"refilled by the reply of a nested call",
       [](Conversation& c, RFC_TABLE* r) { c.call_back_with(r[0].ithandle, Answer::reply); },
       {"nested"}},
      {"refilled by the exception of a nested call",
       [](Conversation& c, RFC_TABLE* r) { c.call_back_with(r[0].ithandle, Answer::exception); },
       {"nested"}},
      {"sent along a nested call that leaves it as it was",
       [](Conversation& c, RFC_TABLE* r) { c.call_back_with(r[0].ithandle, Answer::untouched); },
       {"a1", "a2"}},
      {"refilled by RfcGetData of a callback",
       [](Conversation& c, RFC_TABLE* r) { c.callback_fills(r[0].ithandle); },
       {"callback"}},
      {"refilled by a call on another connection",
       [](Conversation& c, RFC_TABLE* r) { c.other_connection_fills(r[0].ithandle); },
       {ones}},
      {"deleted, created anew and refilled by a nested call",
       [](Conversation& c, RFC_TABLE* r) {
         ItDelete(r[0].ithandle);
         r[0].ithandle = ItCreate(u"LINES", kLeng, 0, 0);
         c.call_back_with(r[0].ithandle, Answer::reply);
       },
       {"nested"}},
      {"answered under the name of another received table",
       [](Conversation&, RFC_TABLE* r) { std::swap(r[0].ithandle, r[1].ithandle); },
       {"b1"}},
  };
  TestSystem system;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Conversation conversation(system);
    ASSERT_NE(conversation.program, RFC_HANDLE_NULL);
    ASSERT_NE(conversation.caller, RFC_HANDLE_NULL);
    ITAB_H mine = table_of({"a1", "a2"});
    ITAB_H other = table_of({"b1"});
    RFC_TABLE sent[] = {
        lines_entry(mine), {u"OTHER", 0, RFCTYPE_BYTE, kLeng, other, 0, 0}, kEndTable};
    ASSERT_EQ(RfcCall(conversation.caller, u"SERVE", nullptr, sent), RFC_OK);

    ASSERT_EQ(RfcWaitForRequest(conversation.program, 5), RFC_OK);
    RFC_TABLE received[] = {{u"LINES", 0, RFCTYPE_BYTE, 0, nullptr, 0, 0},
                            {u"OTHER", 0, RFCTYPE_BYTE, 0, nullptr, 0, 0},
                            kEndTable};
    ASSERT_EQ(RfcGetData(conversation.program, nullptr, received), RFC_OK);
    ASSERT_NO_FATAL_FAILURE(c.change(conversation, received));
    RFC_TABLE answer[] = {lines_entry(received[0].ithandle), kEndTable};
    ASSERT_EQ(RfcSendData(conversation.program, nullptr, answer), RFC_OK);

    SAP_UC* exception = nullptr;
    ASSERT_EQ(RfcReceive(conversation.caller, nullptr, sent, &exception), RFC_OK);
    EXPECT_EQ(lines_of(mine), c.expected);
    for (ITAB_H t : {mine, other, received[0].ithandle, received[1].ithandle}) ItDelete(t);
  }
}

}  // namespace
