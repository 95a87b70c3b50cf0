#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "rfclib/rfclib.h"

namespace {

TEST(Itab, CreateRejectsZeroAndOversizedLines) {
  EXPECT_EQ(ItCreate(u"T", 0, 10, 0), nullptr);
  EXPECT_EQ(ItCreate(u"T", (8u << 20) + 1, 10, 0), nullptr);
  ITAB_H t = ItCreate(u"T", 8u << 20, 1, 0);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(ItDelete(t), 0);
}

TEST(Itab, NullHandleIsHarmless) {
  EXPECT_EQ(ItAppLine(nullptr), nullptr);
  EXPECT_EQ(ItGetLine(nullptr, 1), nullptr);
  EXPECT_EQ(ItGupLine(nullptr, 1), nullptr);
  EXPECT_EQ(ItFill(nullptr), 0u);
  EXPECT_EQ(ItLeng(nullptr), 0u);
  EXPECT_NE(ItFree(nullptr), 0);
  EXPECT_NE(ItDelete(nullptr), 0);
  char dest[4];
  EXPECT_NE(ItCpyLine(nullptr, 1, dest), 0);
}

TEST(Itab, AppendedLinesAreZeroFilledAndOneBased) {
  ITAB_H t = ItCreate(u"T", 7, 30, 0);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(ItLeng(t), 7u);
  EXPECT_EQ(ItGetLine(t, 0), nullptr);
  EXPECT_EQ(ItGetLine(t, 1), nullptr);
  auto* a = static_cast<unsigned char*>(ItAppLine(t));
  ASSERT_NE(a, nullptr);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(a[i], 0);
  std::memcpy(a, "ABCDEFG", 7);
  auto* b = static_cast<unsigned char*>(ItAppLine(t));
  std::memcpy(b, "HIJKLMN", 7);
  EXPECT_EQ(ItFill(t), 2u);
  EXPECT_EQ(ItGetLine(t, 1), a);
  EXPECT_EQ(ItGupLine(t, 2), b);
  EXPECT_EQ(ItGetLine(t, 3), nullptr);
  char copy[7];
  EXPECT_EQ(ItCpyLine(t, 2, copy), 0);
  EXPECT_EQ(std::memcmp(copy, "HIJKLMN", 7), 0);
  EXPECT_NE(ItCpyLine(t, 3, copy), 0);
  ItDelete(t);
}

// Lines live in blocks: pointers handed out must survive later appends that
// open new blocks, and every line keeps its own bytes.
TEST(Itab, LinePointersStayValidAcrossBlocks) {
  const unsigned leng = 200;
  const unsigned count = 20000;  // several blocks
  ITAB_H t = ItCreate(u"BIG", leng, 0, 0);
  std::vector<unsigned char*> lines;
  for (unsigned i = 0; i < count; ++i) {
    auto* p = static_cast<unsigned char*>(ItAppLine(t));
    ASSERT_NE(p, nullptr);
    std::memset(p, static_cast<int>(i % 251), leng);
    lines.push_back(p);
  }
  ASSERT_EQ(ItFill(t), count);
  for (unsigned i = 0; i < count; i += 997) {
    EXPECT_EQ(ItGetLine(t, i + 1), lines[i]);
    EXPECT_EQ(lines[i][0], i % 251);
    EXPECT_EQ(lines[i][leng - 1], i % 251);
  }
  ItDelete(t);
}

TEST(Itab, FreeEmptiesAndTableIsReusable) {
  ITAB_H t = ItCreate(u"T", 4, 0, 0);
  for (int i = 0; i < 5; ++i) ItAppLine(t);
  EXPECT_EQ(ItFree(t), 0);
  EXPECT_EQ(ItFill(t), 0u);
  EXPECT_EQ(ItGetLine(t, 1), nullptr);
  auto* p = static_cast<unsigned char*>(ItAppLine(t));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0], 0);  // a reused block is zero-filled again
  EXPECT_EQ(ItFill(t), 1u);
  EXPECT_EQ(ItLeng(t), 4u);
  ItDelete(t);
}

TEST(Itab, LongLinesGetOneBlockEach) {
  const unsigned leng = 3u << 20;
  ITAB_H t = ItCreate(u"T", leng, 0, 0);
  auto* a = static_cast<unsigned char*>(ItAppLine(t));
  auto* b = static_cast<unsigned char*>(ItAppLine(t));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  a[leng - 1] = 1;
  b[0] = 2;
  EXPECT_EQ(static_cast<unsigned char*>(ItGetLine(t, 1))[leng - 1], 1);
  EXPECT_EQ(static_cast<unsigned char*>(ItGetLine(t, 2))[0], 2);
  ItDelete(t);
}

}  // namespace
