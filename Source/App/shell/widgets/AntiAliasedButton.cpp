#include "App/shell/widgets/AntiAliasedButton.h"

#include <array>

#include "App/shell/ColorConstants.h"
#include "App/shell/Math.h"
#include "App/shell/widgets/Accessibility.h"

namespace kx {

AntiAliasedButton::AntiAliasedButton()
    : AntiAliasedButton(true)
{
}

AntiAliasedButton::AntiAliasedButton(bool tracksMouse)
    : View(tracksMouse ? Accessibility::newButtonArea() : gtk_drawing_area_new())
{
    // A label is static text: Tab passes it by, and a screen reader reads it as text.
    gtk_widget_set_can_focus(widget(), FALSE);
    Accessibility::setRole(widget(), ATK_ROLE_LABEL);
    connect<gboolean(GtkWidget*, cairo_t*)>("draw", [this](GtkWidget*, cairo_t* cr) -> gboolean {
        draw(cr);
        return FALSE;
    });
    if (tracksMouse) {
        tracking_.emplace(widget(), nullptr, [this] {
            if (auto action = action_)
                action();
        });
    }
}

AntiAliasedButton::AntiAliasedButton(const std::string& title, const Font& font, std::optional<Color> textColor,
                                     std::optional<Color> backgroundColor, std::optional<TextAlignment> textAlignment,
                                     std::optional<float> letterSpacing)
    : AntiAliasedButton(true)
{
    font_ = font;
    this->textColor = textColor;
    this->backgroundColor = backgroundColor;
    this->textAlignment = textAlignment;
    this->letterSpacing = letterSpacing;
    setPlainTitle(title);
    setTitle(title_, this->textColor, this->backgroundColor, this->textAlignment, this->letterSpacing);
}

float AntiAliasedButton::defaultKern(double pointSize)
{
    static constexpr std::array<double, 2> sizes{12, 36};
    static constexpr std::array<double, 2> kerns{0.4, 0.9};
    return Math::modulate(pointSize, sizes, kerns, true);
}

AttributedTitle AntiAliasedButton::makeTitle(const std::string& title, const std::optional<Font>& font,
                                             const std::optional<Color>& fieldColor, std::optional<Color> color,
                                             std::optional<Color> backgroundColor,
                                             std::optional<TextAlignment> textAlignment,
                                             std::optional<float> letterSpacing)
{
    AttributedTitle made;
    made.text = title;
    made.font = font.value_or(Font::systemFont(11));
    made.foreground = color ? *color : fieldColor ? *fieldColor : ColorConstants::kDarkGray();
    made.background = backgroundColor; // none is clear
    made.alignment = textAlignment.value_or(TextAlignment::center);
    made.kern = letterSpacing ? *letterSpacing : defaultKern(made.font.pointSize);
    made.maximumLineHeight = made.font.pointSize * 1.3;
    return made;
}

void AntiAliasedButton::setPlainTitle(const std::string& title)
{
    title_ = title;
    // The base button shows a plain title in its own look.
    attributedTitle_ = AttributedTitle{title, ColorConstants::kBlack(), std::nullopt, font_.value_or(Font::systemFont(13)),
                                       0, TextAlignment::center, std::nullopt};
    nameAfterTitle();
    gtk_widget_queue_draw(widget());
}

void AntiAliasedButton::setTitle(const std::string& title, std::optional<Color> color,
                                 std::optional<Color> backgroundColor, std::optional<TextAlignment> textAlignment,
                                 std::optional<float> letterSpacing)
{
    title_ = title;
    attributedTitle_ = makeTitle(title, font_, textColor, color, backgroundColor, textAlignment, letterSpacing);
    nameAfterTitle();
    gtk_widget_queue_draw(widget());
}

void AntiAliasedButton::nameAfterTitle()
{
    if (tracking_)
        tracking_->setAccessibleName(title_);
    else
        Accessibility::setName(widget(), title_);
}

void AntiAliasedButton::draw(cairo_t* cr)
{
    const Size size = boundsSize();
    attributedTitle_.draw(cr, {{0, 0}, size});
}

} // namespace kx
