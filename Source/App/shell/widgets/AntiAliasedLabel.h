// An AntiAliasedButton that is static text: it takes no mouse events, which therefore reach
// the widgets below it (in a window movable by its background, a press on it moves the
// window), it never highlights or sends an action, and it never takes the keyboard focus.
#pragma once

#include "App/shell/widgets/AntiAliasedButton.h"

namespace kx {

class AntiAliasedLabel : public AntiAliasedButton {
public:
    AntiAliasedLabel();
    AntiAliasedLabel(const std::string& title, const Font& font, std::optional<Color> textColor,
                     std::optional<Color> backgroundColor, std::optional<TextAlignment> textAlignment,
                     std::optional<float> letterSpacing);
};

} // namespace kx
