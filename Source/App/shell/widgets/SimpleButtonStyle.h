// The look of a SimpleButton without its widget: label, background and border colours for the
// normal, pressed and disabled looks, the font and letter spacing of the label, and the layer
// they paint (background, border, corner radius, border width).
//
// The layer starts red, not in the white of `backgroundColor`: until the first change of a
// colour, the spacing, the enabled flag or the state, the button shows red, which tells its
// maker that it was never styled. An empty pressed or disabled colour leaves the layer's colour
// as it was; an empty normal colour clears it.
#pragma once

#include <optional>
#include <string>

#include "App/shell/Color.h"
#include "App/shell/widgets/AttributedTitle.h"
#include "App/shell/widgets/Font.h"

namespace kx {

enum class SimpleButtonState { normal, pressed };

class SimpleButtonStyle {
public:
    struct Layer {
        std::optional<Color> backgroundColor;
        std::optional<Color> borderColor;
        double cornerRadius = 0;
        double borderWidth = 0;
        friend bool operator==(const Layer&, const Layer&) = default;
    };

    SimpleButtonStyle();
    virtual ~SimpleButtonStyle() = default;

    const std::string& label() const { return label_; }
    void setLabel(std::string label);
    // The button's title is its label.
    const std::string& title() const { return label_; }
    void setTitle(std::string title) { setLabel(std::move(title)); }
    const std::optional<Font>& font() const { return labelFont_; }
    void setFont(std::optional<Font> font);

    const std::optional<Color>& labelColor() const { return labelColor_; }
    const std::optional<Color>& labelColorPressed() const { return labelColorPressed_; }
    const std::optional<Color>& labelColorDisabled() const { return labelColorDisabled_; }
    void setLabelColor(std::optional<Color> color);
    void setLabelColorPressed(std::optional<Color> color);
    void setLabelColorDisabled(std::optional<Color> color);

    const std::optional<Color>& backgroundColor() const { return backgroundColor_; }
    const std::optional<Color>& backgroundColorPressed() const { return backgroundColorPressed_; }
    const std::optional<Color>& backgroundColorDisabled() const { return backgroundColorDisabled_; }
    void setBackgroundColor(std::optional<Color> color);
    void setBackgroundColorPressed(std::optional<Color> color);
    void setBackgroundColorDisabled(std::optional<Color> color);

    const std::optional<Color>& borderColor() const { return borderColor_; }
    const std::optional<Color>& borderColorPressed() const { return borderColorPressed_; }
    const std::optional<Color>& borderColorDisabled() const { return borderColorDisabled_; }
    void setBorderColor(std::optional<Color> color);
    void setBorderColorPressed(std::optional<Color> color);
    void setBorderColorDisabled(std::optional<Color> color);

    double kerning() const { return kerning_; }
    void setKerning(double kerning);

    // The layer's own values: setting them repaints nothing else.
    double cornerRadius() const { return layer_.cornerRadius; }
    void setCornerRadius(double radius);
    double borderWidth() const { return layer_.borderWidth; }
    void setBorderWidth(double width);

    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

    SimpleButtonState buttonState() const { return buttonState_; }
    void setButtonState(SimpleButtonState state);

    const Layer& layer() const { return layer_; }
    // The label as drawn: colours of the current state and enabled flag, centred.
    const AttributedTitle& attributedTitle() const { return title_; }

protected:
    // Something that shows changed.
    virtual void styleDidChange() { }

private:
    void updateButton();
    void updateLabel();

    std::string label_;
    std::optional<Color> labelColor_;
    std::optional<Color> labelColorPressed_;
    std::optional<Color> labelColorDisabled_;
    std::optional<Font> labelFont_;
    std::optional<Color> backgroundColor_;
    std::optional<Color> backgroundColorPressed_;
    std::optional<Color> backgroundColorDisabled_;
    std::optional<Color> borderColor_;
    std::optional<Color> borderColorPressed_;
    std::optional<Color> borderColorDisabled_;
    double kerning_ = 0.4;
    SimpleButtonState buttonState_ = SimpleButtonState::normal;
    bool enabled_ = true;
    Layer layer_;
    AttributedTitle title_;
};

} // namespace kx
