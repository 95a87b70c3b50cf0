#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "byte_source.h"
#include "itab.h"
#include "message_reader.h"
#include "message_writer.h"
#include "rfclib/rfclib.h"
#include "wire.h"

namespace {

using rfclib::Itab;
using rfclib::MemorySource;
using rfclib::MessageReader;
using rfclib::MessageWriter;
using rfclib::wire::FrameHeader;
using rfclib::wire::FrameType;

std::vector<std::uint8_t> frame(FrameType type, const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> out(8 + payload.size());
  rfclib::wire::encode_header(out.data(), type, static_cast<std::uint32_t>(payload.size()));
  if (!payload.empty()) std::memcpy(out.data() + 8, payload.data(), payload.size());
  return out;
}

TEST(FrameHeader, RoundTripsAndRejectsBadHeaders) {
  std::uint8_t raw[8];
  rfclib::wire::encode_header(raw, FrameType::rows, 1234);
  FrameHeader h;
  rfclib::Error e;
  ASSERT_TRUE(rfclib::wire::decode_header(raw, h, e));
  EXPECT_EQ(h.type, FrameType::rows);
  EXPECT_EQ(h.length, 1234u);

  struct Bad {
    std::uint8_t bytes[8];
  };
  const Bad bad[] = {
      {{0, 0, 0, 0, 0, 0, 0, 0}},          // type 0
      {{15, 0, 0, 0, 0, 0, 0, 0}},         // unknown type
      {{14, 0, 0, 0, 1, 0, 0, 0}},         // HEARTBEAT with a payload
      {{8, 1, 0, 0, 0, 0, 0, 0}},          // reserved byte set
      {{4, 0, 0, 0, 0x01, 0, 1, 0}},       // CALL beyond the control limit
      {{7, 0, 0, 0, 0x01, 0, 0, 1}},       // ROWS beyond the frame limit
  };
  for (const Bad& b : bad) {
    rfclib::Error err;
    EXPECT_FALSE(rfclib::wire::decode_header(b.bytes, h, err));
    EXPECT_EQ(err.group, RFC_ERROR_PROTOCOL);
  }
}

// One message with parameters of every elementary type and two tables, as the
// library writes it.
struct Sample {
  char16_t text[5] = {u'A', u'B', u'C', u'D', u'E'};
  char16_t date[8] = {u'2', u'0', u'2', u'4', u'0', u'1', u'3', u'1'};
  unsigned char bcd[3] = {0x12, 0x34, 0x5C};
  char16_t time[6] = {u'1', u'2', u'3', u'0', u'0', u'0'};
  unsigned char raw[3] = {1, 2, 3};
  char16_t num[4] = {u'0', u'0', u'4', u'2'};
  double f = 2.5;
  std::int32_t i = -7;
  std::int16_t i2 = 300;
  std::uint8_t i1 = 200;
  ITAB_H lines = nullptr;
  ITAB_H empty = nullptr;

  Sample() {
    lines = ItCreate(u"LINES", 4, 0, 0);
    for (int r = 0; r < 3; ++r) std::memset(ItAppLine(lines), 'a' + r, 4);
    empty = ItCreate(u"EMPTY", 10, 0, 0);
  }
  ~Sample() {
    ItDelete(lines);
    ItDelete(empty);
  }

  std::vector<std::uint8_t> message() {
    RFC_PARAMETER p[] = {
        {u"TEXT", 0, RFCTYPE_CHAR, sizeof text, text},
        {u"DATE", 4, RFCTYPE_DATE, sizeof date, date},
        {u"BCD", 0, RFCTYPE_BCD, sizeof bcd, bcd},
        {u"TIME", 0, RFCTYPE_TIME, sizeof time, time},
        {u"RAW", 0, RFCTYPE_BYTE, sizeof raw, raw},
        {u"NUM", 0, RFCTYPE_NUM, sizeof num, num},
        {u"FLOAT", 0, RFCTYPE_FLOAT, sizeof f, &f},
        {u"INT", 0, RFCTYPE_INT, sizeof i, &i},
        {u"INT2", 0, RFCTYPE_INT2, sizeof i2, &i2},
        {u"INT1", 0, RFCTYPE_INT1, sizeof i1, &i1},
        {u"UNKNOWN_TO_RECEIVER", 0, RFCTYPE_BYTE, sizeof raw, raw},
        {nullptr, 0, 0, 0, nullptr}};
    RFC_TABLE t[] = {{u"LINES", 0, RFCTYPE_BYTE, 4, lines, 0, 0},
                     {u"EMPTY", 0, RFCTYPE_BYTE, 10, empty, 0, 0},
                     {nullptr, 0, 0, 0, nullptr, 0, 0}};
    MessageWriter w;
    rfclib::Error e;
    EXPECT_TRUE(w.add_parameters(p, e));
    EXPECT_TRUE(w.add_tables(t, nullptr, e));
    w.empty_frame(FrameType::end);
    return w.flatten();
  }
};

// Receiver's view: lengths differ from the sender's to show padding and cutting.
struct Receiver {
  char16_t text[8];    // longer: blank padded
  char16_t date[8];
  unsigned char bcd[2];  // shorter: cut
  char16_t time[6];
  unsigned char raw[6];  // longer: zero padded
  char16_t num[6];       // longer: blank padded (character-like)
  double f = 0;
  std::int32_t i = 0;
  std::int16_t i2 = 0;
  std::uint8_t i1 = 0;
  RFC_PARAMETER p[11];
  RFC_TABLE t[4];

  Receiver() {
    std::memset(text, 0xEE, sizeof text);
    std::memset(raw, 0xEE, sizeof raw);
    std::memset(num, 0xEE, sizeof num);
    RFC_PARAMETER init[] = {{u"TEXT", 0, RFCTYPE_CHAR, sizeof text, text},
                            {u"DATE", 0, RFCTYPE_DATE, sizeof date, date},
                            {u"BCD", 0, RFCTYPE_BCD, sizeof bcd, bcd},
                            {u"TIME", 0, RFCTYPE_TIME, sizeof time, time},
                            {u"RAW", 0, RFCTYPE_BYTE, sizeof raw, raw},
                            {u"NUM", 0, RFCTYPE_NUM, sizeof num, num},
                            {u"FLOAT", 0, RFCTYPE_FLOAT, sizeof f, &f},
                            {u"INT", 0, RFCTYPE_INT, sizeof i, &i},
                            {u"INT2", 0, RFCTYPE_INT2, sizeof i2, &i2},
                            {u"INT1", 0, RFCTYPE_INT1, sizeof i1, &i1},
                            {nullptr, 0, 0, 0, nullptr}};
    std::memcpy(p, init, sizeof p);
    RFC_TABLE tinit[] = {{u"LINES", 0, RFCTYPE_CHAR, 6, nullptr, 0, 0},
                         {u"EMPTY", 0, RFCTYPE_BYTE, 0, nullptr, 0, 0},
                         {u"NOT_SENT", 0, RFCTYPE_BYTE, 0, nullptr, 0, 0},
                         {nullptr, 0, 0, 0, nullptr, 0, 0}};
    std::memcpy(t, tinit, sizeof t);
  }
  ~Receiver() {
    for (RFC_TABLE& x : t) {
      if (x.ithandle != nullptr) ItDelete(x.ithandle);
    }
  }
};

TEST(MessageCodec, ParametersArePaddedOrCutByTheReceiversType) {
  Sample s;
  const auto bytes = s.message();
  Receiver r;
  MemorySource src(bytes.data(), bytes.size());
  MessageReader reader(src);
  std::vector<Itab*> received;
  ASSERT_TRUE(reader.read_items(r.p, r.t, received));
  EXPECT_EQ(std::u16string_view(r.text, 8), u"ABCDE   ");
  EXPECT_EQ(std::u16string_view(r.date, 8), u"20240131");
  EXPECT_EQ(r.bcd[0], 0x12);
  EXPECT_EQ(r.bcd[1], 0x34);
  EXPECT_EQ(std::u16string_view(r.time, 6), u"123000");
  const unsigned char raw[6] = {1, 2, 3, 0, 0, 0};
  EXPECT_EQ(std::memcmp(r.raw, raw, 6), 0);
  EXPECT_EQ(std::u16string_view(r.num, 6), u"0042  ");
  EXPECT_EQ(r.f, 2.5);
  EXPECT_EQ(r.i, -7);
  EXPECT_EQ(r.i2, 300);
  EXPECT_EQ(r.i1, 200);
}

TEST(MessageCodec, TablesAreCreatedOnReceiptWithTheirLines) {
  Sample s;
  const auto bytes = s.message();
  Receiver r;
  MemorySource src(bytes.data(), bytes.size());
  MessageReader reader(src);
  std::vector<Itab*> received;
  ASSERT_TRUE(reader.read_items(r.p, r.t, received));
  // LINES: receiver asked for 6-byte character lines; 4 sender bytes + one blank.
  ASSERT_NE(r.t[0].ithandle, nullptr);
  EXPECT_EQ(r.t[0].newitab, 1);
  EXPECT_EQ(ItLeng(r.t[0].ithandle), 6u);
  ASSERT_EQ(ItFill(r.t[0].ithandle), 3u);
  const unsigned char expect[6] = {'c', 'c', 'c', 'c', 0x20, 0x00};
  EXPECT_EQ(std::memcmp(ItGetLine(r.t[0].ithandle, 3), expect, 6), 0);
  // EMPTY: leng 0 takes the sender's line length.
  ASSERT_NE(r.t[1].ithandle, nullptr);
  EXPECT_EQ(ItLeng(r.t[1].ithandle), 10u);
  EXPECT_EQ(ItFill(r.t[1].ithandle), 0u);
  // Not sent: left alone by the reader.
  EXPECT_EQ(r.t[2].ithandle, nullptr);
  EXPECT_EQ(received.size(), 2u);
}

TEST(MessageCodec, ReceivedTableReplacesContentAndCutsLongerLines) {
  Sample s;
  const auto bytes = s.message();
  Receiver r;
  r.t[0].ithandle = ItCreate(u"LINES", 2, 0, 0);
  for (int k = 0; k < 5; ++k) ItAppLine(r.t[0].ithandle);
  MemorySource src(bytes.data(), bytes.size());
  MessageReader reader(src);
  std::vector<Itab*> received;
  ASSERT_TRUE(reader.read_items(r.p, r.t, received));
  EXPECT_EQ(r.t[0].newitab, 0);
  ASSERT_EQ(ItFill(r.t[0].ithandle), 3u);
  EXPECT_EQ(std::memcmp(ItGetLine(r.t[0].ithandle, 2), "bb", 2), 0);
}

// Every cut of a valid message must fail cleanly, and tables the reader
// created must not leak or stay behind half filled.
TEST(MessageCodec, TruncatedMessagesFailWithoutLeaks) {
  Sample s;
  const auto bytes = s.message();
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    Receiver r;
    MemorySource src(bytes.data(), cut);
    MessageReader reader(src);
    std::vector<Itab*> received;
    ASSERT_FALSE(reader.read_items(r.p, r.t, received)) << cut;
    EXPECT_EQ(reader.error().group, RFC_ERROR_COMMUNICATION);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(r.t[k].ithandle, nullptr);
  }
}

std::vector<std::uint8_t> table_frame(std::uint32_t leng, std::uint64_t rows, std::uint8_t flags,
                                      const char16_t* name = u"LINES") {
  std::vector<std::uint8_t> p;
  rfclib::wire::PayloadWriter w(p);
  w.text(name);
  w.u32(RFCTYPE_BYTE);
  w.u32(leng);
  w.u64(rows);
  w.u8(flags);
  return frame(FrameType::table, p);
}

std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(MessageCodec, MalformedItemsAreProtocolErrors) {
  std::vector<std::uint8_t> bad_param_payload;
  {
    rfclib::wire::PayloadWriter w(bad_param_payload);
    w.text(u"RAW");
    w.u32(RFCTYPE_BYTE);
    w.u32(100);  // claims more than the frame holds
    w.bytes("abc", 3);
  }
  std::vector<std::uint8_t> bad_name_payload = {0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0};
  const std::vector<std::uint8_t> end = frame(FrameType::end, {});
  const std::vector<std::vector<std::uint8_t>> cases = {
      frame(FrameType::param, bad_param_payload),
      frame(FrameType::param, bad_name_payload),
      frame(FrameType::param, {1, 0}),
      concat({table_frame(0, 0, 0), end}),                        // line length 0
      concat({table_frame(4, 1, 0), frame(FrameType::rows, std::vector<std::uint8_t>(8)), end}),
      concat({table_frame(4, 2, 0), frame(FrameType::rows, std::vector<std::uint8_t>(4)), end}),
      concat({table_frame(4, 1, 1), end}),                        // unchanged with rows
      concat({table_frame(4, 0, 4), end}),                        // unknown flag
      // A table that took its line length from the sender, again narrower
      // (in the same message here; a later message is refused alike).
      concat({table_frame(4, 1, 0, u"EMPTY"), frame(FrameType::rows, std::vector<std::uint8_t>(4)),
              table_frame(1, 1, 0, u"EMPTY"), frame(FrameType::rows, std::vector<std::uint8_t>(1)), end}),
      concat({frame(FrameType::call, {}), end}),                  // call inside a message
      concat({frame(FrameType::end, {1})}),                       // END with payload
      concat({frame(FrameType::table, {1, 2, 3})}),               // short TABLE
  };
  for (std::size_t k = 0; k < cases.size(); ++k) {
    Receiver r;
    MemorySource src(cases[k].data(), cases[k].size());
    MessageReader reader(src);
    std::vector<Itab*> received;
    EXPECT_FALSE(reader.read_items(r.p, r.t, received)) << k;
    EXPECT_EQ(reader.error().group, RFC_ERROR_PROTOCOL) << k;
    EXPECT_EQ(r.t[0].ithandle, nullptr) << k;
    EXPECT_EQ(r.t[1].ithandle, nullptr) << k;
  }
}

TEST(MessageCodec, UnchangedTableKeepsTheReceiversLines) {
  ITAB_H mine = ItCreate(u"LINES", 4, 0, 0);
  std::memcpy(ItAppLine(mine), "keep", 4);
  const auto bytes = concat({table_frame(4, 0, 1), frame(FrameType::end, {})});
  RFC_TABLE t[] = {{u"LINES", 0, RFCTYPE_BYTE, 4, mine, 0, 0}, {nullptr, 0, 0, 0, nullptr, 0, 0}};
  MemorySource src(bytes.data(), bytes.size());
  MessageReader reader(src);
  std::vector<Itab*> received;
  ASSERT_TRUE(reader.read_items(nullptr, t, received));
  ASSERT_EQ(ItFill(mine), 1u);
  EXPECT_EQ(std::memcmp(ItGetLine(mine, 1), "keep", 4), 0);
  ItDelete(mine);
}

// A table goes back as "unchanged" only while it holds exactly the lines it
// got under the same name in the call being answered.
TEST(MessageCodec, WriterSendsUnchangedOnlyForTablesAsReceived) {
  struct Case {
    const char* what;
    bool lines_twice;  // the call brings LINES twice instead of the sample message
    std::function<void(Receiver&, RFC_TABLE& out)> change;
    bool unchanged;
  };
  const Case cases[] = {
      {"as received", false, [](auto&, auto&) {}, true},
      {"line changed", false, [](auto& r, auto&) { ItGupLine(r.t[0].ithandle, 1); }, false},
      {"line appended", false, [](auto& r, auto&) { ItAppLine(r.t[0].ithandle); }, false},
      {"emptied", false, [](auto& r, auto&) { ItFree(r.t[0].ithandle); }, false},
      {"received again by another message", false,
       [](auto& r, auto&) {
         Sample again;
         const auto bytes = again.message();
         MemorySource src(bytes.data(), bytes.size());
         MessageReader reader(src);
         std::vector<Itab*> elsewhere;
         EXPECT_TRUE(reader.read_items(r.p, r.t, elsewhere));
       },
       false},
      {"sent under another received table's name", false,
       [](auto&, auto& out) { out.name = u"EMPTY"; }, false},
      {"received twice by the call answered", true, [](auto&, auto&) {}, false},
  };
  const auto twice = concat({table_frame(4, 1, 0), frame(FrameType::rows, {1, 2, 3, 4}),
                             table_frame(4, 1, 0), frame(FrameType::rows, {5, 6, 7, 8}),
                             frame(FrameType::end, {})});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sample s;
    const auto bytes = c.lines_twice ? twice : s.message();
    Receiver r;
    MemorySource src(bytes.data(), bytes.size());
    MessageReader reader(src);
    std::vector<Itab*> received;
    ASSERT_TRUE(reader.read_items(r.p, r.t, received));
    // What the connection keeps of the call for its answer (RfcGetData).
    std::vector<std::uint64_t> answered;
    for (const Itab* t : received) answered.push_back(t->receipt());
    RFC_TABLE out[] = {r.t[0], {nullptr, 0, 0, 0, nullptr, 0, 0}};
    c.change(r, out[0]);
    MessageWriter w;
    rfclib::Error e;
    ASSERT_TRUE(w.add_tables(out, &answered, e));
    const auto reply = w.flatten();
    FrameHeader h;
    ASSERT_TRUE(rfclib::wire::decode_header(reply.data(), h, e));
    ASSERT_EQ(h.type, FrameType::table);
    const std::uint8_t flags = reply[rfclib::wire::kHeaderSize + h.length - 1];
    EXPECT_EQ(flags, c.unchanged ? rfclib::wire::kTableUnchanged : 0);
    if (c.unchanged) {
      EXPECT_EQ(reply.size(), rfclib::wire::kHeaderSize + h.length);
    }
  }
}

}  // namespace
