#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <filesystem>
#include <string>

#include "App/shell/AppAppearance.h"
#include "App/shell/Color.h"
#include "support/ChildProcess.h"
#include "support/ScopedSetting.h"
#include "support/TestPaths.h"

using kx::Color;

namespace {

// Switches LC_NUMERIC to a locale with a decimal comma: an installed de_DE or fr_FR, else de_DE
// built from the system's locale sources into `scratch` (machines without locales, CI's).
bool selectCommaLocale(const std::filesystem::path& scratch)
{
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        return true;
    const std::string target = (scratch / "de_DE.UTF-8").string();
    kxtest::runProgram({"localedef", "-c", "-i", "de_DE", "-f", "UTF-8", target});
    // setlocale reads LOCPATH at each call; the locale stays loaded once chosen.
    kxtest::ScopedSetting locales("LOCPATH", scratch.c_str());
    return std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
}

} // namespace

TEST(Color, HexTextReadsLikeTheShellWritesIt)
{
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"0099FF", 0x0099FF}, {"#0099FF", 0x0099FF},
        // Seven characters lose the first, whatever it is; other lengths keep it.
        {"X0099FF", 0x0099FF}, {"\xc3\xa9" "0099FF", 0x0099FF}, {"##0099FF", 0},
        // No shorthand; the top byte of eight digits is dropped.
        {"FFF", 0x000FFF}, {"80112233", 0x112233},
        // Leading blanks and a 0x prefix are read; reading stops at the first non-digit.
        {"  0x12AB34", 0x12AB34}, {"12zz", 0x12},
        // Too large a number saturates; nothing readable is black.
        {"123456789ABCDEF", 0xFFFFFF}, {"zz", 0}, {"", 0},
    };
    for (const auto& [text, rgb] : cases) {
        const Color expected{(rgb >> 16) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, 1.0};
        EXPECT_EQ(Color::colorWithHexColorString(text), expected) << text;
    }
}

TEST(Color, TextFormsRoundAndStayInRange)
{
    EXPECT_EQ(Color::colorWithHexColorString("00A0F0").hexColorString(), "#00A0F0");
    EXPECT_EQ((Color{0.5, 0.002, 1, 1}.hexColorString()), "#8001FF");
    EXPECT_EQ((Color{-0.5, 1.7, std::nan(""), 1}.hexColorString()), "#00FF00");

    EXPECT_EQ((Color{1, 1, 1, 1}.RGBAColorString()), "(255, 255, 255, 1.00)");
    EXPECT_EQ(Color::colorWithHexColorString("0099FF").blendedColorWithFraction(0, Color{}).RGBAColorString(),
              "(0, 153, 255, 1.00)");
}

TEST(Color, TextFormsKeepTheDecimalPointUnderACommaLocale)
{
    // Pages read this text: a decimal comma of the user's locale must not reach them.
    kxtest::TemporaryDirectory scratch;
    const std::string old = std::setlocale(LC_NUMERIC, nullptr);
    ASSERT_TRUE(selectCommaLocale(scratch.path())) << "no de_DE locale, and none could be built (package locales)";
    const std::string point = std::localeconv()->decimal_point;
    const std::string text = Color{0, 0, 0, 0.5}.RGBAColorString();
    std::setlocale(LC_NUMERIC, old.c_str());
    ASSERT_EQ(point, ",");
    EXPECT_EQ(text, "(0, 0, 0, 0.50)");
}

TEST(Color, SeededColoursAreStableAndBlendsMeetHalfWay)
{
    const Color a = Color::randomColorWithSeed("layer 1", 0.5f);
    EXPECT_NE(a, Color::randomColorWithSeed("layer 2", 0.5f));
    EXPECT_DOUBLE_EQ(a.alpha, 0.5);
    // Fixed across machines and runs (FNV-1a over the doubled MD5 text).
    EXPECT_EQ(a.hexColorString(), "#2EE02B");
    // The toolbar's top line lies half-way between 333333 and 444444.
    EXPECT_DOUBLE_EQ(kx::AppAppearance::Colors::toolbarTopLine().red, (0x33 + 0x44) / 2.0 / 255.0);
}
