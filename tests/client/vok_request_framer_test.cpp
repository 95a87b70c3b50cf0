// Cutting requests into continuation lines. Besides the cases, a model of the
// server's reader (blocks of up to 256 bytes from the start of each line or
// segment, a request ends at a block that ends with a line feed) must get
// every request back whole, in one piece.
#include "vok_request_framer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace
{
struct Split_Case
{
  const char *name;
  std::string request;
  std::size_t max_line;
  std::vector<std::size_t> line_sizes;
  // Failures name the case, not its bytes.
  friend void PrintTo (const Split_Case &c, std::ostream *os) { *os << c.name; }
};

class Request_Split : public testing::TestWithParam<Split_Case> {};

TEST_P (Request_Split, CutsWhereExpected)
{
  const Split_Case &c = GetParam ();
  std::vector<std::string_view> lines;
  const Vok_Status status = Vok_Request_Framer::split (c.request, c.max_line, lines);
  ASSERT_TRUE (status.ok ()) << status.message ();
  std::vector<std::size_t> sizes;
  std::string joined;
  for (std::string_view line : lines)
    {
      sizes.push_back (line.size ());
      joined += line;
    }
  EXPECT_EQ (sizes, c.line_sizes);
  EXPECT_EQ (joined, c.request);
}

// A request of `size` bytes 'a' with a line feed at each of `line_feeds`.
std::string text (std::size_t size, std::vector<std::size_t> line_feeds = {})
{
  std::string request (size, 'a');
  for (std::size_t at : line_feeds)
    request[at] = '\n';
  return request;
}

INSTANTIATE_TEST_SUITE_P (
  Cases, Request_Split,
  testing::Values (
    Split_Case {"Empty", "", 4096, {0}},
    Split_Case {"Short", "abc", 4096, {3}},
    Split_Case {"FillsOneLine", text (9), 10, {9}},
    Split_Case {"OneByteOver", text (10), 10, {8, 2}},
    Split_Case {"SeveralLines", text (20), 8, {6, 6, 6, 2}},
    // Continuation lines carry an even number of bytes.
    Split_Case {"OddLineLimit", text (20), 9, {6, 6, 8}},
    Split_Case {"SmallestLines", "abc", 3, {1, 2}},
    Split_Case {"DefaultSize", text (10000), Vok_Request_Framer::default_line_bytes, {4094, 4094, 1812}},
    Split_Case {"InnerLineFeedsStay", text (600, {0, 100, 254, 256}), 4096, {600}},
    // Backslash of the ending at index 255 would close a block alone.
    Split_Case {"EndingOffTheBlockEdge", text (600), 257, {254, 254, 92}},
    Split_Case {"LineFeedOnBlockEdge", text (300, {255}), 4096, {254, 46}},
    Split_Case {"LineFeedOnSecondBlockEdge", text (1000, {511}), 4096, {510, 490}},
    // One cut moves the later line feeds off the edges.
    Split_Case {"LineFeedsOnEveryEdge", text (1100, {255, 511, 767, 1023}), 4096, {254, 846}},
    Split_Case {"BackslashesAlone", "a\\b\\\\c", 4096, {6}}),
  [] (const auto &test) { return std::string (test.param.name); });

struct Refused_Case
{
  const char *name;
  std::string request;
  std::size_t max_line;
  // Failures name the case, not its bytes.
  friend void PrintTo (const Refused_Case &c, std::ostream *os) { *os << c.name; }
};

class Request_Refused : public testing::TestWithParam<Refused_Case> {};

TEST_P (Request_Refused, IsAnInvalidArgument)
{
  std::vector<std::string_view> lines;
  const Vok_Status status = Vok_Request_Framer::split (GetParam ().request, GetParam ().max_line, lines);
  EXPECT_EQ (status.result (), Vok_Result::invalid_argument) << status.message ();
  EXPECT_TRUE (lines.empty ());
}

INSTANTIATE_TEST_SUITE_P (
  Cases, Request_Refused,
  testing::Values (Refused_Case {"BackslashBeforeLineFeed", "<a>\\\n</a>", 4096},
                   Refused_Case {"TrailingBackslash", "C:\\", 4096},
                   Refused_Case {"LineTooSmall", "abc", 2}),
  [] (const auto &test) { return std::string (test.param.name); });

// What the server makes of the lines: the requests it hands on, and how many
// "OK" it answers.
struct Server_View
{
  std::vector<std::string> requests;
  std::size_t continuations = 0;
};

// Each line arrives in segments of `segment` bytes (0: all at once), and the
// server reads each segment in blocks of up to 256 bytes.
Server_View read_as_server (const std::vector<std::string_view> &lines, std::size_t segment = 0)
{
  constexpr std::size_t block = Vok_Request_Framer::server_block_bytes;
  Server_View view;
  std::string request;
  for (std::size_t i = 0; i < lines.size (); ++i)
    {
      const std::string wire = std::string (lines[i]) + (i + 1 < lines.size () ? "\\\n" : "\n");
      std::vector<std::string> blocks;
      const std::size_t step = segment ? segment : wire.size ();
      for (std::size_t start = 0; start < wire.size (); start += step)
        for (std::size_t at = start; at < std::min (start + step, wire.size ()); at += block)
          blocks.push_back (wire.substr (at, std::min (block, start + step - at)));
      for (std::string &piece : blocks)
        {
          if (piece.back () != '\n')
            {
              request += piece;
              continue;
            }
          if (piece.size () >= 2 && piece[piece.size () - 2] == '\\')
            {
              request += piece.substr (0, piece.size () - 2);
              ++view.continuations;
              continue;
            }
          request += piece.substr (0, piece.size () - 1);
          view.requests.push_back (request);
          request.clear ();
        }
    }
  if (!request.empty ())
    view.requests.push_back ("(unfinished) " + request);
  return view;
}

TEST (Request_Split_Model, ServerReceivesEveryRequestWhole)
{
  std::mt19937 random (20090319);
  const std::size_t line_sizes[] = {3, 4, 100, 255, 256, 257, 258, 511, 512, 513, 4096, 4097};
  for (int round = 0; round < 400; ++round)
    {
      const std::size_t size = random () % 3000;
      const unsigned line_feed_per_mille = random () % 50;
      std::string request;
      for (std::size_t i = 0; i < size; ++i)
        {
          const unsigned roll = random () % 1000;
          request += roll < line_feed_per_mille ? '\n' : roll < 2 * line_feed_per_mille ? '\\' : 'x';
        }
      // Requests that cannot be framed are refused elsewhere.
      for (std::size_t at; (at = request.find ("\\\n")) != std::string::npos;)
        request[at] = 'y';
      if (!request.empty () && request.back () == '\\')
        request.back () = 'z';

      for (std::size_t max_line : line_sizes)
        {
          std::vector<std::string_view> lines;
          ASSERT_TRUE (Vok_Request_Framer::split (request, max_line, lines).ok ());
          for (std::size_t i = 0; i < lines.size (); ++i)
            ASSERT_LE (lines[i].size () + (i + 1 < lines.size () ? 2 : 1), max_line);
          const Server_View view = read_as_server (lines);
          ASSERT_EQ (view.requests, std::vector<std::string> {request})
            << "round " << round << ", lines of " << max_line;
          ASSERT_EQ (view.continuations, lines.size () - 1);
        }
    }
}

// Over a network a long line comes in segments. Whatever even size they have,
// a continuation's backslash and line feed stay together.
TEST (Request_Split_Model, ContinuationEndingsSurviveSegmentsOfEvenSize)
{
  const std::size_t segment_sizes[] = {2, 256, 536, 1220, 1448, 1460, 8948};
  const std::size_t line_sizes[] = {257, 1001, 1449, 4096, 4097};
  for (std::size_t size : {10000u, 12345u})
    {
      const std::string request (size, 'x');
      for (std::size_t max_line : line_sizes)
        {
          std::vector<std::string_view> lines;
          ASSERT_TRUE (Vok_Request_Framer::split (request, max_line, lines).ok ());
          for (std::size_t segment : segment_sizes)
            ASSERT_EQ (read_as_server (lines, segment).requests, std::vector<std::string> {request})
              << "lines of " << max_line << ", segments of " << segment;
        }
    }
}
}
