#include "App/shell/widgets/AntiAliasedLabel.h"

namespace kx {

AntiAliasedLabel::AntiAliasedLabel()
    : AntiAliasedButton(false)
{
}

AntiAliasedLabel::AntiAliasedLabel(const std::string& title, const Font& font, std::optional<Color> textColor,
                                   std::optional<Color> backgroundColor, std::optional<TextAlignment> textAlignment,
                                   std::optional<float> letterSpacing)
    : AntiAliasedButton(false)
{
    setFont(font);
    this->textColor = textColor;
    this->backgroundColor = backgroundColor;
    this->textAlignment = textAlignment;
    this->letterSpacing = letterSpacing;
    setPlainTitle(title);
    setTitle(title, this->textColor, this->backgroundColor, this->textAlignment, this->letterSpacing);
}

} // namespace kx
