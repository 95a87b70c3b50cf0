// Cutting long clauses into the server's lines of 72 characters: only at
// blanks outside literals, each piece as long as it can be.
#include "vok_select_clause.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace
{
using Pieces = std::vector<std::string>;

struct Clause_Case
{
  const char *name;
  std::string text;
  std::size_t max_characters;
  Pieces pieces;  // empty: the text cannot be cut
  friend void PrintTo (const Clause_Case &c, std::ostream *os) { *os << c.name; }
};

class Select_Clause : public testing::TestWithParam<Clause_Case> {};

TEST_P (Select_Clause, CutsAtBlanksOutsideLiterals)
{
  const Clause_Case &c = GetParam ();
  Pieces pieces {"left over"};
  const Vok_Status status = vok_split_clause (c.text, pieces, c.max_characters);
  if (c.pieces.empty ())
    {
      EXPECT_EQ (status.result (), Vok_Result::invalid_argument);
      EXPECT_TRUE (pieces.empty ());
      return;
    }
  ASSERT_TRUE (status.ok ()) << status.message ();
  EXPECT_EQ (pieces, c.pieces);
  std::string joined;
  for (const std::string &piece : pieces)
    joined += piece;
  EXPECT_EQ (joined, c.text);
}

INSTANTIATE_TEST_SUITE_P (
  Cases, Select_Clause,
  testing::Values (
    Clause_Case {"FitsUnchanged", "CARRID = 'LH'", 72, {"CARRID = 'LH'"}},
    Clause_Case {"ExactlyTheLimit", std::string (72, 'A'), 72, {std::string (72, 'A')}},
    Clause_Case {"CutBeforeTheBlank", "AA = 1 AND BB = 2", 10, {"AA = 1 AND", " BB = 2"}},
    Clause_Case {"GreedyPieces", "A = 1 AND B = 2 AND C = 3", 9, {"A = 1 AND", " B = 2", " AND C =", " 3"}},
    Clause_Case {"NotWithinALiteral", "X = 'a b c d' AND Y = 1", 14, {"X = 'a b c d'", " AND Y = 1"}},
    Clause_Case {"DoubledQuoteStaysInside", "X = 'O''Neil x' OR Y", 16, {"X = 'O''Neil x'", " OR Y"}},
    Clause_Case {"BackquoteLiteral", "X = `a b` OR Y", 9, {"X = `a b`", " OR Y"}},
    Clause_Case {"CharacterBeyondTheBmpCountsTwo", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80 B", 4,
                 {"\xF0\x9F\x98\x80\xF0\x9F\x98\x80", " B"}},
    Clause_Case {"UmlautCountsOne", "\xC3\xA4\xC3\xA4\xC3\xA4 B", 4, {"\xC3\xA4\xC3\xA4\xC3\xA4", " B"}},
    Clause_Case {"LiteralTooLong", "X = 'a b c d e f' AND Y = 1", 10, {}},
    Clause_Case {"WordTooLong", "X = " + std::string (80, 'A'), 72, {}}),
  [] (const auto &test) { return std::string (test.param.name); });
}
