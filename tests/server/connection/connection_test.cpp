#include "vurude_base_handler.h"
#include "vurude_handle_registry.h"
#include "vurude_handle_token.h"
#include "vurude_mq.h"

#include "utf16_text.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
std::string u8 (std::u16string_view text) { return utf8_from_utf16 (text); }

struct Name_Case
{
  unsigned short serial;
  std::uint64_t token;
  const char *serial_text;
  const char *handle;
};

class Handle_Name : public testing::TestWithParam<Name_Case> {};

TEST_P (Handle_Name, TakesTheLastFourSerialDigitsAndTheFullToken)
{
  std::string serial_text;
  const std::u16string name = Vurude_Base_Handler::make_handle_name (GetParam ().serial, GetParam ().token,
                                                                     &serial_text);
  EXPECT_EQ (serial_text, GetParam ().serial_text);
  EXPECT_EQ (u8 (name), GetParam ().handle);
  EXPECT_EQ (name.size (), 20u);
}

INSTANTIATE_TEST_SUITE_P (
  Values, Handle_Name,
  testing::Values (Name_Case {4465, 0x7f00deadbeef, "4465", "446500007F00DEADBEEF"},
                   Name_Case {12345, 0x10, "12345", "23450000000000000010"},
                   Name_Case {0, 0xFFFFFFFFFFFFFFFF, "0000", "0000FFFFFFFFFFFFFFFF"},
                   Name_Case {7, 0xabc, "0007", "00070000000000000ABC"}));

// A handle is a key to someone's logon: its token part must be neither
// repeated nor predictable from the handles drawn before it.
TEST (Handle_Token, HundredThousandDrawnAreDistinctAndUncorrelated)
{
  constexpr std::size_t count = 100000;
  std::vector<std::uint64_t> tokens (count);
  for (std::uint64_t &token : tokens)
    ASSERT_TRUE (draw_handle_token (token));
  std::vector<std::uint64_t> sorted = tokens;
  std::sort (sorted.begin (), sorted.end ());
  EXPECT_EQ (std::adjacent_find (sorted.begin (), sorted.end ()), sorted.end ()) << "a token repeated";

  // Serial correlation of neighbours (an address or a counter gives close
  // to 1) and the balance of every bit (each set in about half the tokens).
  double sum = 0, sum_sq = 0, sum_lag = 0;
  std::array<std::size_t, 64> ones {};
  for (std::size_t i = 0; i < count; ++i)
    {
      const double x = static_cast<double> (tokens[i]) / 18446744073709551616.0;
      sum += x;
      sum_sq += x * x;
      if (i > 0)
        sum_lag += x * (static_cast<double> (tokens[i - 1]) / 18446744073709551616.0);
      for (int bit = 0; bit < 64; ++bit)
        ones[bit] += (tokens[i] >> bit) & 1;
    }
  const double mean = sum / count;
  const double variance = sum_sq / count - mean * mean;
  const double lag_one = (sum_lag / (count - 1) - mean * mean) / variance;
  // Five standard deviations of a correlation over independent draws.
  EXPECT_LT (std::abs (lag_one), 5.0 / std::sqrt (static_cast<double> (count)));
  for (int bit = 0; bit < 64; ++bit)
    EXPECT_NEAR (static_cast<double> (ones[bit]) / count, 0.5, 5 * 0.5 / std::sqrt (static_cast<double> (count)))
      << "bit " << bit;
}

TEST (Serial_Counter, SeededWithTheProcessIdTruncatedAndWrapping)
{
  auto &serial = *VURUDE_SERIAL::instance ();
  serial = static_cast<unsigned short> (70000);
  EXPECT_EQ (++serial, 4465);
  serial = 65535;
  EXPECT_EQ (++serial, 0);
}

TEST (Mq_Name, JoinsTheKeyPartsOrGivesNothing)
{
  Vurude_Base_Handler handler;
  EXPECT_EQ (handler.make_mq_name (u"H", u"S", u"P", u"J"), u"J,HSP");
  EXPECT_EQ (handler.make_mq_name (u"H", u"S", u"P", nullptr), u"HSP");
  EXPECT_EQ (handler.make_mq_name (u"H", nullptr, u"P", u"J"), u"");
  EXPECT_EQ (handler.make_mq_name (nullptr, u"S", u"P", nullptr), u"");
}

TEST (Named_Queue, CreatedOnceAndReadInPostedOrder)
{
  Vurude_Base_Handler handler;
  Vurude_MQ *first = nullptr;
  Vurude_MQ *second = nullptr;
  EXPECT_EQ (handler.post_mq (u"gwhostsapgw00PROG", nullptr, first), 0);
  EXPECT_EQ (handler.post_mq (u"gwhostsapgw00PROG", nullptr, second), 1);
  EXPECT_EQ (first, second);

  const std::u16string a = u"00010000000000000001";
  const std::u16string b = u"00020000000000000002";
  Vurude_MQ *queue = nullptr;
  ASSERT_NE (handler.post_mq (u"gwhostsapgw00PROG", &a, queue), -1);
  ASSERT_NE (handler.post_mq (u"gwhostsapgw00PROG", &b, queue), -1);
  EXPECT_EQ (handler.read_mq (u"gwhostsapgw00PROG"), a);
  EXPECT_EQ (handler.read_mq (u"gwhostsapgw00PROG"), b);
  EXPECT_EQ (handler.read_mq (u"never posted"), u"");

  ACE_Thread_Mutex *lock = nullptr;
  EXPECT_EQ (handler.find_mq (u"gwhostsapgw00PROG", lock), first);
  EXPECT_EQ (lock, &first->lock);
}

// A handler that names itself as open() does, without a socket or a worker.
class Named_Handler : public Vurude_Base_Handler
{
public:
  Named_Handler () { register_handle (); }
};

TEST (Handler_Registry, FoundHandlerOutlivesItsConnectionUntilLetGo)
{
  const int before = Vurude_Base_Handler::live_count ();
  auto *handler = new Named_Handler;
  const std::u16string name = handler->handle_name ();
  auto &registry = *VURUDE_HANDLER_REGISTRY::instance ();
  EXPECT_EQ (registry.bind (name, handler), 1) << "bound by its own name already";

  Vurude_Handler_Ref found = registry.find (name);
  ASSERT_EQ (found.get (), handler);
  // The worker ends: the name goes at once, the object when the finder lets go.
  handler->handle_close (ACE_INVALID_HANDLE, ACE_Event_Handler::ALL_EVENTS_MASK);
  EXPECT_FALSE (registry.find (name));
  EXPECT_EQ (Vurude_Base_Handler::live_count (), before + 1);
  found.reset ();
  EXPECT_EQ (Vurude_Base_Handler::live_count (), before);
}

TEST (Handler_Registry, HandlesDrawnInARowDifferInTheirSerial)
{
  auto *first = new Named_Handler;
  auto *second = new Named_Handler;
  EXPECT_NE (first->handle_name ().substr (0, 4), second->handle_name ().substr (0, 4));
  EXPECT_EQ (VURUDE_HANDLER_REGISTRY::instance ()->find (second->handle_name ()).get (), second);
  first->handle_close (ACE_INVALID_HANDLE, ACE_Event_Handler::ALL_EVENTS_MASK);
  second->handle_close (ACE_INVALID_HANDLE, ACE_Event_Handler::ALL_EVENTS_MASK);
}

// A handler over one end of a socket pair: what it sends is read from the other.
class Replies : public testing::Test
{
protected:
  // The options' transcoder lives until the process ends, so the XML
  // library stays initialised as long.
  static void SetUpTestSuite () { xercesc::XMLPlatformUtils::Initialize (); }

  void SetUp () override
  {
    int fds[2];
    ASSERT_EQ (::socketpair (AF_UNIX, SOCK_STREAM, 0, fds), 0);
    handler.peer ().set_handle (fds[0]);
    partner.peer ().set_handle (fds[1]);
    handler.partner = Vurude_Handler_Ref (&partner);
  }

  void TearDown () override
  {
    handler.partner.reset ();
    handler.peer ().close ();
    partner.peer ().close ();
  }

  std::string received (Vurude_Base_Handler &from_peer_of, std::size_t count)
  {
    std::string bytes (count, '\0');
    std::size_t got = 0;
    while (got < count)
      {
        const ssize_t n = ::recv (from_peer_of.peer ().get_handle (), bytes.data () + got, count - got, 0);
        if (n <= 0)
          break;
        got += static_cast<std::size_t> (n);
      }
    bytes.resize (got);
    return bytes;
  }

  // Both ends are handlers: what one sends arrives at the other's socket.
  Vurude_Base_Handler handler;
  Vurude_Base_Handler partner;
};

TEST_F (Replies, RecordsWithoutATableAreZerosAndAMarker)
{
  EXPECT_EQ (handler.send_table (ITAB_NULL, 12), 0);
  EXPECT_EQ (received (partner, 13), std::string (12, '\0') + "X");
  EXPECT_EQ (handler.send_table (ITAB_NULL, -3), 0);
  EXPECT_EQ (received (partner, 4), std::string (3, '\0') + "\xFF");
}

TEST_F (Replies, TableRowsGoOutWithTheirFlagAndAreFreed)
{
  ITAB_H table = ItCreate (u"T", 4, 2, 0);
  std::memcpy (ItAppLine (table), "abcd", 4);
  std::memcpy (ItAppLine (table), "efgh", 4);
  EXPECT_EQ (handler.send_table (table, 0), 0);
  EXPECT_EQ (received (partner, 10), std::string ("abcd\0efgh\0", 10));
  EXPECT_EQ (ItFill (table), 0u);
  EXPECT_EQ (handler.table_width, 4);
  EXPECT_EQ (handler.send_table (table, 1), 0) << "an empty table sends nothing";
  std::memcpy (ItAppLine (table), "ijkl", 4);
  EXPECT_EQ (handler.send_table (table, 1), 0);
  EXPECT_EQ (received (partner, 5), std::string ("ijkl\1", 5));
  ItDelete (table);
}

TEST_F (Replies, TextIsSentAsUtf8)
{
  const std::u16string text = u"K\u00e4se \u20ac\n";
  EXPECT_EQ (handler.send_text (text.data (), text.size ()), 10);
  EXPECT_EQ (received (partner, 10), "K\xC3\xA4se \xE2\x82\xAC\n");
}

TEST_F (Replies, FormattedLineLongerThanItsBufferIsCut)
{
  const std::string long_text (1500, 'x');
  EXPECT_EQ (handler.send_format ("%s", long_text.c_str ()), 1022);
  EXPECT_EQ (received (partner, 1022), std::string (1022, 'x'));
  EXPECT_EQ (handler.send_format ("D,%s,%d\n", "FIELD", 7), 10);
  EXPECT_EQ (received (partner, 10), "D,FIELD,7\n");
}

TEST_F (Replies, ErrorLineFollowsAnErrorRecordOnThePartner)
{
  EXPECT_EQ (handler.send_error (u"Unknown request type", 3), 23);
  // The partner's record arrives at the partner's peer, the line at this one's.
  EXPECT_EQ (received (handler, 4), std::string (3, '\0') + "X");
  EXPECT_EQ (received (partner, 23), "E,Unknown request type\n");
}

TEST_F (Replies, LongErrorMessageIsCutToOneLineOf1023Characters)
{
  const std::string message (2000, 'm');
  EXPECT_EQ (handler.send_error (message.c_str (), 0), 1023);
  const std::string line = received (partner, 1023);
  EXPECT_EQ (line.substr (0, 2), "E,");
  EXPECT_EQ (line.back (), '\n');
  EXPECT_EQ (handler.send_error (utf16_from_utf8 (message), 0), 1023);
  EXPECT_EQ (received (partner, 1023), line);
}
}
