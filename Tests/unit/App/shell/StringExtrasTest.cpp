#include <gtest/gtest.h>

#include "App/shell/StringExtras.h"

using namespace std::string_literals;

TEST(StringExtras, Md5FormsDifferInCaseAndInWhereTheyStop)
{
    EXPECT_EQ(kx::md5String(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(kx::md5String("The quick brown fox jumps over the lazy dog"), "9e107d9d372bb6826bd81d3542a419d6");
    EXPECT_EQ(kx::MD5String("The quick brown fox jumps over the lazy dog"), "9E107D9D372BB6826BD81D3542A419D6");
    EXPECT_EQ(kx::md5String("\xc3\xbc"), "c03410a5204b21cd8229ff754688d743"); // UTF-8 bytes

    const std::string withNul = "abc\0def"s;
    EXPECT_EQ(kx::MD5String(withNul), kx::MD5String("abc"));
    EXPECT_NE(kx::md5String(withNul), kx::md5String("abc"));
    EXPECT_EQ(kx::md5String(withNul).size(), 32u);
}

TEST(StringExtras, Utf16SubstringCountsCodeUnits)
{
    // "a", "é" (one unit, two bytes), "😀" (two units, four bytes), "b".
    const std::string text = "a\xc3\xa9\xf0\x9f\x98\x80" "b";
    EXPECT_EQ(kx::utf16substring(text, 0, 0), "");
    EXPECT_EQ(kx::utf16substring("", 0, 0), "");
    EXPECT_EQ(kx::utf16substring(text, 5, 0), "");
    EXPECT_FALSE(kx::utf16substring(text, 6, 0).has_value());
    EXPECT_EQ(kx::utf16substring(text, 1, 1), "\xc3\xa9");
    EXPECT_EQ(kx::utf16substring(text, 2, 2), "\xf0\x9f\x98\x80");
    EXPECT_EQ(kx::utf16substring(text, 0, 5), text);
    EXPECT_EQ(kx::utf16substring(text, 4, 1), "b");
    // Either end inside the emoji's surrogate pair.
    EXPECT_FALSE(kx::utf16substring(text, 3, 1).has_value());
    EXPECT_FALSE(kx::utf16substring(text, 2, 1).has_value());
    EXPECT_FALSE(kx::utf16substring(text, 3, 0).has_value());
    // Out of range, negative, overflowing, or not UTF-8.
    EXPECT_FALSE(kx::utf16substring(text, 4, 2).has_value());
    EXPECT_FALSE(kx::utf16substring(text, -1, 1).has_value());
    EXPECT_FALSE(kx::utf16substring(text, 0, -1).has_value());
    EXPECT_FALSE(kx::utf16substring(text, 1, INT64_MAX).has_value());
    EXPECT_FALSE(kx::utf16substring("a\xff", 0, 1).has_value());
}
