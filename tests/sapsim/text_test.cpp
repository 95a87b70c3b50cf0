// UTF-8 <-> UTF-16 conversion and fixed-width fields.
#include "sapsim/text.h"

#include <gtest/gtest.h>

namespace {

TEST(Text, ConvertsBothWays)
{
    struct Case {
        const char* utf8;
        std::u16string utf16;
    };
    const Case cases[] = {
        {"", u""},
        {"DEMO", u"DEMO"},
        {"Gr\xc3\xbc\xc3\x9f" "e", u"Grüße"},
        {"\xe4\xb8\x96\xe7\x95\x8c", u"世界"},
        {"\xf0\x9f\x98\x80", u"\U0001F600"},  // outside the BMP: a surrogate pair
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sapsim::to_utf16(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(sapsim::to_utf8(c.utf16), c.utf8) << c.utf8;
    }
}

TEST(Text, MalformedInputBecomesReplacementCharacters)
{
    EXPECT_EQ(sapsim::to_utf16("a\xff" "b"), u"a\uFFFDb");
    EXPECT_EQ(sapsim::to_utf16("a\xe4\xb8"), u"a\uFFFD");  // cut off at the end
    EXPECT_EQ(sapsim::to_utf16("\xc3(x"), u"\uFFFD(x");
    EXPECT_EQ(sapsim::to_utf8(std::u16string(1, u'\xD800') + u"x"), "\xef\xbf\xbdx");  // lone surrogate
}

TEST(Text, FixedFieldsArePaddedCutAndTrimmed)
{
    char16_t field[5];
    sapsim::put_chars(field, 5, "ab");
    EXPECT_EQ(std::u16string(field, 5), u"ab   ");
    sapsim::put_chars(field, 5, "abcdefgh");
    EXPECT_EQ(std::u16string(field, 5), u"abcde");
    EXPECT_EQ(sapsim::get_chars(u"ab   ", 5), "ab");
    EXPECT_EQ(sapsim::get_chars(u"a b\0zz", 6), "a b");
    EXPECT_EQ(sapsim::from_c_text(u"abc", 2), "ab");
}

} // namespace
