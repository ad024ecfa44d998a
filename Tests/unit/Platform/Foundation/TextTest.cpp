// The small text helpers: replacing, a prefix that keeps characters whole, hexadecimal digits.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "Platform/Foundation/Text.h"

using kx::LetterCase;

TEST(Text, ReplaceAllReplacesEachOccurrenceOnceAndNothingForAnEmptyPattern)
{
    std::string text = "@A@-@A@@A@";
    kx::replaceAll(text, "@A@", "[@A@]"); // what is put in is not searched again
    EXPECT_EQ(text, "[@A@]-[@A@][@A@]");
    kx::replaceAll(text, "", "x"); // a hidden token that is not set: nothing to hide
    EXPECT_EQ(text, "[@A@]-[@A@][@A@]");
    kx::replaceAll(text, "[@A@]", "");
    EXPECT_EQ(text, "-");
}

TEST(Text, Utf8PrefixCutsBeforeACharacterNeverInsideIt)
{
    const std::string name = "ab\u00e9\U0001F600z"; // a, b, two bytes, four bytes, z
    EXPECT_EQ(kx::utf8Prefix(name, 100), name);
    EXPECT_EQ(kx::utf8Prefix(name, name.size()), name);
    EXPECT_EQ(kx::utf8Prefix(name, 3), "ab"); // inside the two-byte letter
    EXPECT_EQ(kx::utf8Prefix(name, 4), "ab\u00e9");
    for (std::size_t size : {5u, 6u, 7u})
        EXPECT_EQ(kx::utf8Prefix(name, size), "ab\u00e9") << size;
    EXPECT_EQ(kx::utf8Prefix(name, 8), "ab\u00e9\U0001F600");
    EXPECT_EQ(kx::utf8Prefix("\u00e9", 1), "");
}

TEST(Text, HexDigitsReadBackInEitherCase)
{
    for (unsigned value = 0; value < 16; ++value) {
        EXPECT_EQ(kx::hexDigitValue(kx::hexDigit(value)), int(value)) << value;
        EXPECT_EQ(kx::hexDigitValue(kx::hexDigit(value, LetterCase::upper)), int(value)) << value;
    }
    EXPECT_EQ(kx::hexDigit(10), 'a');
    EXPECT_EQ(kx::hexDigit(15, LetterCase::upper), 'F');
    EXPECT_EQ(kx::hexDigit(0x3C), 'c'); // only the low four bits count
}

TEST(Text, CharactersBesideTheDigitRangesAreNotDigits)
{
    for (char c : {'/', ':', '@', 'G', '`', 'g', ' ', '\0', '\x80', '\xFF'})
        EXPECT_EQ(kx::hexDigitValue(c), -1) << int(static_cast<unsigned char>(c));
}

TEST(Text, HexStringPrintsEachByteHighHalfFirst)
{
    const std::array<unsigned char, 5> bytes = {0x00, 0x0F, 0xA5, 0x10, 0xFF};
    EXPECT_EQ(kx::hexString(bytes), "000fa510ff");
    EXPECT_EQ(kx::hexString(bytes, LetterCase::upper), "000FA510FF");
    EXPECT_EQ(kx::hexString({}), "");
}
