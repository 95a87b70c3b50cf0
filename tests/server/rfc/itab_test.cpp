// Writing lines of text into internal tables, reading them back in pieces,
// and the row images a client receives.
#include "vurude_itab.h"

#include <gtest/gtest.h>

#include <sys/uio.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>

namespace
{
// Four characters a line.
class Text_Itab : public testing::Test
{
protected:
  Text_Itab () : itab (nullptr, Vurude_Itab::OWN_DELETE)
  {
    itab.create (u"TEXT", 8, 4);
  }

  std::u16string line_text (unsigned i) const
  {
    return std::u16string (static_cast<const char16_t *> (itab.line (i)), 4);
  }

  Vurude_Itab itab;
};

TEST_F (Text_Itab, AppendTextFillsWithBlanksAndCutsAtTheLine)
{
  const struct
  {
    const char16_t *text;
    std::u16string_view line;
  } cases[] = {
    {u"AB", u"AB  "},
    {u"ABCD", u"ABCD"},   // a full line keeps every character
    {u"ABCDEF", u"ABCD"},
    {u"", u"    "},
    {nullptr, u"    "},
  };
  unsigned n = 0;
  for (const auto &c : cases)
    {
      ASSERT_NE (itab.append_text (c.text), nullptr);
      EXPECT_EQ (line_text (++n), c.line) << n;
    }
  EXPECT_EQ (itab.count (), n);
}

TEST_F (Text_Itab, AppendFormatEndsAFullOrLongLineWithZero)
{
  const std::string huge (100000, 'x');
  ASSERT_NE (itab.append_format ("%d", 12), nullptr);
  ASSERT_NE (itab.append_format ("%s", "ABC"), nullptr);
  ASSERT_NE (itab.append_format ("%s", "ABCD"), nullptr);   // fills the line
  ASSERT_NE (itab.append_format ("AB%s", "CDEFG"), nullptr); // does not fit
  ASSERT_NE (itab.append_format ("%s", huge.c_str ()), nullptr);
  ASSERT_NE (itab.append_format ("\xC3\xA9%d", 1), nullptr); // UTF-8 in, UTF-16 out
  EXPECT_EQ (line_text (1), u"12  ");
  EXPECT_EQ (line_text (2), u"ABC ");
  EXPECT_EQ (line_text (3), std::u16string_view (u"ABC\0", 4));
  EXPECT_EQ (line_text (4), std::u16string_view (u"ABC\0", 4));
  EXPECT_EQ (line_text (5), std::u16string_view (u"xxx\0", 4));
  EXPECT_EQ (line_text (6), u"\u00E91  ");
}

TEST (Vurude_Itab, WithoutATableNothingHappens)
{
  Vurude_Itab itab;
  std::size_t size = 99;
  const void *address = nullptr;
  EXPECT_EQ (itab.append_text (u"A"), nullptr);
  EXPECT_EQ (itab.append_format ("%d", 1), nullptr);
  EXPECT_EQ (itab.line (1), nullptr);
  EXPECT_EQ (itab.count (), 0u);
  EXPECT_EQ (itab.read (address, 10), 0u);
  EXPECT_EQ (itab.wire_image (0, size), nullptr);
  EXPECT_EQ (size, 0u);
  EXPECT_EQ (itab.gather_list (), nullptr);
}

// Two lines of four bytes: "AAAA" and "BBBB".
class Byte_Itab : public testing::Test
{
protected:
  Byte_Itab () : table (ItCreate (u"DTAB", 4, 2, 0))
  {
    std::memcpy (ItAppLine (table), "AAAA", 4);
    std::memcpy (ItAppLine (table), "BBBB", 4);
  }
  ~Byte_Itab () override { ItDelete (table); }

  ITAB_H table;
};

TEST_F (Byte_Itab, WireImageFollowsEachLineWithTheFlagByte)
{
  Vurude_Itab itab (table);
  EXPECT_EQ (itab.line_length, 4u);
  std::size_t size = 0;
  auto image = itab.wire_image (0, size);
  ASSERT_EQ (size, 10u);
  EXPECT_EQ (std::string (reinterpret_cast<char *> (image.get ()), size),
             std::string ("AAAA\0BBBB\0", 10));
  image = itab.wire_image (7, size);
  EXPECT_EQ (std::string (reinterpret_cast<char *> (image.get ()), size),
             std::string ("AAAA\1BBBB\1", 10));

  Vurude_Itab empty (ItCreate (u"EMPTY", 4, 0, 0), Vurude_Itab::OWN_DELETE);
  EXPECT_EQ (empty.wire_image (1, size), nullptr);
  EXPECT_EQ (size, 0u);
}

TEST_F (Byte_Itab, GatherListWritesWhatTheWireImageHolds)
{
  Vurude_Itab itab (table);
  for (int flag : {0, 1})
    {
      auto pieces = itab.gather_list (flag);
      ASSERT_NE (pieces, nullptr);
      EXPECT_EQ (pieces[0].iov_base, itab.line (1)) << "lines are not copied";
      EXPECT_EQ (pieces[1].iov_len, 1u);
      int fds[2];
      ASSERT_EQ (pipe (fds), 0);
      EXPECT_EQ (writev (fds[1], pieces.get (), 4), 10);
      char written[10];
      EXPECT_EQ (::read (fds[0], written, sizeof written), 10);
      close (fds[0]);
      close (fds[1]);
      std::size_t size = 0;
      auto image = itab.wire_image (flag, size);
      EXPECT_EQ (std::memcmp (written, image.get (), size), 0) << flag;
    }
}

TEST_F (Byte_Itab, ReadReturnsAtMostTheRestOfOneLine)
{
  Vurude_Itab itab (table);
  const void *address = nullptr;
  ASSERT_EQ (itab.read (address, 3), 3u);
  EXPECT_EQ (std::memcmp (address, "AAA", 3), 0);
  ASSERT_EQ (itab.read (address, 100), 1u) << "only the rest of line 1";
  EXPECT_EQ (address, static_cast<char *> (itab.line (1)) + 3);
  EXPECT_EQ (itab.current_line, 2u);
  EXPECT_EQ (itab.offset, 0u);
  ASSERT_EQ (itab.read (address, 100), 4u);
  EXPECT_EQ (std::memcmp (address, "BBBB", 4), 0);
  EXPECT_EQ (itab.read (address, 100), 0u);

  itab.free_lines ();
  EXPECT_EQ (itab.count (), 0u);
  EXPECT_EQ (itab.current_line, 1u);
}

TEST (Vurude_Itab, CreateKeepsATableAlreadySet)
{
  Vurude_Itab itab (nullptr, Vurude_Itab::OWN_DELETE);
  const ITAB_H first = itab.create (u"T", 10, 1);
  ASSERT_NE (first, ITAB_NULL);
  EXPECT_EQ (itab.line_length, 10u);
  EXPECT_EQ (itab.create (u"T", 20, 1), first);
  EXPECT_EQ (itab.line_length, 10u);
  Vurude_Itab refused;
  EXPECT_EQ (refused.create (u"T", 0, 1), ITAB_NULL) << "the library refuses empty lines";
}

TEST (Vurude_Itab, OwnershipDecidesWhatDestructionDoes)
{
  const ITAB_H table = ItCreate (u"T", 2, 1, 0);
  ItAppLine (table);
  {
    Vurude_Itab none (table, Vurude_Itab::OWN_NONE);
  }
  EXPECT_EQ (ItFill (table), 1u);
  {
    Vurude_Itab empty (table, Vurude_Itab::OWN_EMPTY);
  }
  EXPECT_EQ (ItFill (table), 0u);
  // Deleting cannot be observed through the handle afterwards; the leak
  // checker of the sanitizer build reports the table if it is not deleted.
  Vurude_Itab owner (table, Vurude_Itab::OWN_DELETE);
}
}
