#include "App/shell/widgets/SimpleButtonStyle.h"

#include <utility>

#include "App/shell/ColorConstants.h"

namespace kx {

namespace {

const Color red{1, 0, 0, 1};
const Color white{1, 1, 1, 1};
const Color clear{0, 0, 0, 0};

} // namespace

SimpleButtonStyle::SimpleButtonStyle()
    : labelColor_(ColorConstants::kBlack())
    , labelFont_(Font::systemFont(15, PANGO_WEIGHT_LIGHT))
    , backgroundColor_(white)
{
    layer_.backgroundColor = red;
    // The base button's title is empty until a label is set.
    title_.font = *labelFont_;
}

void SimpleButtonStyle::setLabel(std::string label)
{
    label_ = std::move(label);
    updateLabel();
}

void SimpleButtonStyle::setFont(std::optional<Font> font)
{
    labelFont_ = std::move(font);
    updateLabel();
}

void SimpleButtonStyle::setLabelColor(std::optional<Color> color)
{
    labelColor_ = color;
    updateLabel();
}

void SimpleButtonStyle::setLabelColorPressed(std::optional<Color> color)
{
    labelColorPressed_ = color;
    updateLabel();
}

void SimpleButtonStyle::setLabelColorDisabled(std::optional<Color> color)
{
    labelColorDisabled_ = color;
    updateLabel();
}

void SimpleButtonStyle::setBackgroundColor(std::optional<Color> color)
{
    backgroundColor_ = color;
    updateButton();
}

void SimpleButtonStyle::setBackgroundColorPressed(std::optional<Color> color)
{
    backgroundColorPressed_ = color;
    updateButton();
}

void SimpleButtonStyle::setBackgroundColorDisabled(std::optional<Color> color)
{
    backgroundColorDisabled_ = color;
    updateButton();
}

void SimpleButtonStyle::setBorderColor(std::optional<Color> color)
{
    borderColor_ = color;
    updateButton();
}

void SimpleButtonStyle::setBorderColorPressed(std::optional<Color> color)
{
    borderColorPressed_ = color;
    updateButton();
}

void SimpleButtonStyle::setBorderColorDisabled(std::optional<Color> color)
{
    borderColorDisabled_ = color;
    updateButton();
}

void SimpleButtonStyle::setKerning(double kerning)
{
    kerning_ = kerning;
    updateButton();
}

void SimpleButtonStyle::setCornerRadius(double radius)
{
    layer_.cornerRadius = radius;
    styleDidChange();
}

void SimpleButtonStyle::setBorderWidth(double width)
{
    layer_.borderWidth = width;
    styleDidChange();
}

void SimpleButtonStyle::setEnabled(bool enabled)
{
    enabled_ = enabled;
    updateButton();
}

void SimpleButtonStyle::setButtonState(SimpleButtonState state)
{
    buttonState_ = state;
    updateButton();
}

void SimpleButtonStyle::updateButton()
{
    if (buttonState_ == SimpleButtonState::pressed) {
        if (backgroundColorPressed_)
            layer_.backgroundColor = backgroundColorPressed_;
        if (borderColorPressed_)
            layer_.borderColor = borderColorPressed_;
    } else {
        layer_.backgroundColor = backgroundColor_;
        layer_.borderColor = borderColor_;
    }
    if (!enabled_) {
        if (backgroundColorDisabled_)
            layer_.backgroundColor = backgroundColorDisabled_;
        if (borderColorDisabled_)
            layer_.borderColor = borderColorDisabled_;
    }
    updateLabel();
}

void SimpleButtonStyle::updateLabel()
{
    std::optional<Color> text = labelColor_;
    std::optional<Color> background = backgroundColor_;
    if (buttonState_ == SimpleButtonState::pressed) {
        if (labelColorPressed_)
            text = labelColorPressed_;
        if (backgroundColorPressed_)
            background = backgroundColorPressed_;
    }
    if (!enabled_) {
        if (labelColorDisabled_)
            text = labelColorDisabled_;
        if (backgroundColorDisabled_)
            background = backgroundColorDisabled_;
    }
    // Emptied colours and font: black text on a clear background in the initial font.
    title_ = AttributedTitle{label_,
                             text.value_or(ColorConstants::kBlack()),
                             background.value_or(clear),
                             labelFont_.value_or(Font::systemFont(15, PANGO_WEIGHT_LIGHT)),
                             double(float(kerning_)), // as the single-precision number it is drawn with
                             TextAlignment::center,
                             std::nullopt};
    styleDidChange();
}

} // namespace kx
