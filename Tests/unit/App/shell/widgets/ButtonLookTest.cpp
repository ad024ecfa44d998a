// What the buttons show, worked out without a display: the anti-aliased titles, the simple
// button's three looks, and the toolbar's tints and night gradient.
#include <gtest/gtest.h>

#include "App/shell/AppAppearance.h"
#include "App/shell/ColorConstants.h"
#include "App/shell/widgets/AntiAliasedButton.h"
#include "App/shell/widgets/SimpleButtonStyle.h"
#include "App/shell/widgets/ToolbarAccessoryView.h"
#include "App/shell/widgets/ToolbarButton.h"

using kx::AntiAliasedButton;
using kx::Color;
using kx::Font;
using kx::SimpleButtonState;
using kx::SimpleButtonStyle;
using kx::TextAlignment;

namespace {

Color hex(const char* text)
{
    return Color::colorWithHexColorString(text);
}

const Color red{1, 0, 0, 1};
const Color white{1, 1, 1, 1};

} // namespace

TEST(AntiAliasedTitle, UnsetValuesFallBackAndTheSpacingGrowsWithTheSize)
{
    const struct {
        double size;
        float kern;
    } table[] = {{10, 0.44167f}, {11, 0.42083f}, {12, 0.4f}, {13, 0.42083f}, {18, 0.525f},
                 {24, 0.65f}, {30, 0.775f}, {36, 0.9f}, {48, 0.9f}};
    for (const auto& row : table)
        EXPECT_NEAR(AntiAliasedButton::defaultKern(row.size), row.kern, 1e-4) << row.size;

    auto title = AntiAliasedButton::makeTitle("No Recent Files", Font::systemFont(12), std::nullopt, {}, {}, {}, {});
    EXPECT_EQ(title.foreground, kx::ColorConstants::kDarkGray());
    EXPECT_FALSE(title.background.has_value()); // clear
    EXPECT_EQ(title.alignment, TextAlignment::center);
    EXPECT_NEAR(title.kern, 0.4, 1e-6);
    EXPECT_NEAR(*title.maximumLineHeight, 15.6, 1e-9);

    title = AntiAliasedButton::makeTitle("Big", Font::systemFont(40), std::nullopt, {}, {}, {}, {});
    EXPECT_NEAR(title.kern, 0.9, 1e-6);
    EXPECT_NEAR(*title.maximumLineHeight, 52, 1e-9);

    // No font: the system font of size 11. The field's colour stands in for an unset one;
    // what is given wins.
    title = AntiAliasedButton::makeTitle("x", std::nullopt, hex("112233"), {}, {}, {}, {});
    EXPECT_EQ(title.font, Font::systemFont(11));
    EXPECT_EQ(title.foreground, hex("112233"));
    title = AntiAliasedButton::makeTitle("x", std::nullopt, hex("112233"), hex("445566"), red, TextAlignment::right, 2.5f);
    EXPECT_EQ(title.foreground, hex("445566"));
    EXPECT_EQ(title.background, red);
    EXPECT_EQ(title.alignment, TextAlignment::right);
    EXPECT_NEAR(title.kern, 2.5, 1e-6);
}

TEST(SimpleButtonLook, StartsRedUntilStyledThenFollowsStateAndEnabledFlag)
{
    SimpleButtonStyle button;
    EXPECT_EQ(button.layer().backgroundColor, red);
    EXPECT_EQ(button.font(), Font::systemFont(15, PANGO_WEIGHT_LIGHT));
    EXPECT_DOUBLE_EQ(button.kerning(), 0.4);
    // A label alone keeps the red: only colours, spacing, enabling and pressing repaint.
    button.setTitle("Sign In");
    EXPECT_EQ(button.label(), "Sign In");
    EXPECT_EQ(button.layer().backgroundColor, red);
    button.setKerning(0.4);
    EXPECT_EQ(button.layer().backgroundColor, white);

    button.setBorderColor(hex("CCCCCC"));
    button.setLabelColorPressed(white);
    // Pressed without a pressed background: the layer keeps its colour, the text background
    // falls back to the normal one.
    button.setButtonState(SimpleButtonState::pressed);
    EXPECT_EQ(button.layer().backgroundColor, white);
    EXPECT_EQ(button.layer().borderColor, hex("CCCCCC"));
    EXPECT_EQ(button.attributedTitle().foreground, white);
    EXPECT_EQ(button.attributedTitle().background, white);
    button.setBackgroundColorPressed(hex("0099FF"));
    EXPECT_EQ(button.layer().backgroundColor, hex("0099FF"));
    EXPECT_EQ(button.attributedTitle().background, hex("0099FF"));

    // Disabled without disabled colours: the look of the current state.
    button.setEnabled(false);
    EXPECT_EQ(button.layer().backgroundColor, hex("0099FF"));
    button.setBackgroundColorDisabled(hex("EEEEEE"));
    button.setLabelColorDisabled(hex("999999"));
    EXPECT_EQ(button.layer().backgroundColor, hex("EEEEEE"));
    EXPECT_EQ(button.attributedTitle().foreground, hex("999999"));
    EXPECT_EQ(button.layer().borderColor, hex("CCCCCC"));

    button.setEnabled(true);
    button.setButtonState(SimpleButtonState::normal);
    EXPECT_EQ(button.layer().backgroundColor, white);
    EXPECT_EQ(button.attributedTitle().foreground, kx::ColorConstants::kBlack());
    // An emptied normal colour clears the layer; an emptied label colour draws black.
    button.setBorderColor(std::nullopt);
    EXPECT_FALSE(button.layer().borderColor.has_value());
    button.setLabelColor(std::nullopt);
    EXPECT_EQ(button.attributedTitle().foreground, kx::ColorConstants::kBlack());

    // Corner radius and border width are the layer's own and repaint nothing else.
    button.setCornerRadius(4);
    button.setBorderWidth(1);
    EXPECT_EQ(button.cornerRadius(), 4);
    EXPECT_EQ(button.borderWidth(), 1);
    EXPECT_EQ(button.title(), button.label());
}

TEST(ToolbarLook, TintsAndTheNightGradient)
{
    EXPECT_EQ(kx::ToolbarButton::tint(false, false), hex("444444"));
    EXPECT_EQ(kx::ToolbarButton::tint(false, true), hex("EEEEEE"));
    EXPECT_EQ(kx::ToolbarButton::tint(true, false), hex("111111"));
    EXPECT_EQ(kx::ToolbarButton::tint(true, true), hex("CCCCCC"));

    using Colors = kx::AppAppearance::Colors;
    const auto stops = kx::ToolbarAccessoryView::gradientStops();
    ASSERT_EQ(stops.size(), 5u);
    EXPECT_EQ(stops[0].color, Colors::toolbarTopLine());
    EXPECT_EQ(stops[1].color, Colors::toolbarGradientTop());
    EXPECT_EQ(stops[2].color, Colors::toolbarGradientBottom());
    EXPECT_EQ(stops[3].color, Colors::toolbarBottomLine());
    EXPECT_EQ(stops[4].color, Colors::toolbarBottomLine());
    // Over 74 points: 1.5 and 71.8 points below the top; the last 2 points are the bottom line.
    EXPECT_NEAR(stops[1].location * 74, 1.5, 1e-9);
    EXPECT_NEAR(stops[2].location * 74, 71.8, 1e-9);
    EXPECT_NEAR((1 - stops[3].location) * 74, 2, 1e-9);
    EXPECT_EQ(stops[4].location, 1);
    const std::string css = kx::ToolbarAccessoryView::gradientCSS();
    EXPECT_NE(css.find("headerbar.kx-toolbar-night"), std::string::npos);
    EXPECT_NE(css.find("#444444 2.0270%"), std::string::npos) << css;
    EXPECT_NE(css.find("#2A2A2A 100.0000%"), std::string::npos) << css;
}
