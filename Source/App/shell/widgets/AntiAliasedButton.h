// A borderless button that shows its title as one attributed string: a colour, a background
// colour behind the glyphs, an alignment and a letter spacing, drawn with smoothed glyphs.
// A click (press and release over the button), or Space or Return while it has the keyboard
// focus, sends its action; a screen reader reads its title.
//
// The four fields hold what the full constructor was given; callers may change them and then
// re-apply the title with `setTitle`, passing the fields. `setTitle` never writes them.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "App/shell/Color.h"
#include "App/shell/widgets/AttributedTitle.h"
#include "App/shell/widgets/ButtonTracking.h"
#include "App/shell/widgets/Font.h"
#include "App/shell/widgets/View.h"

namespace kx {

class AntiAliasedButton : public View {
public:
    AntiAliasedButton();
    AntiAliasedButton(const std::string& title, const Font& font, std::optional<Color> textColor,
                      std::optional<Color> backgroundColor, std::optional<TextAlignment> textAlignment,
                      std::optional<float> letterSpacing);

    std::optional<TextAlignment> textAlignment;
    std::optional<float> letterSpacing;
    std::optional<Color> textColor;
    std::optional<Color> backgroundColor;

    // The plain title; what `setTitle` was last given.
    const std::string& title() const { return title_; }
    // The base button's own title, shown plainly until `setTitle` styles it.
    void setPlainTitle(const std::string& title);
    const std::optional<Font>& font() const { return font_; }
    void setFont(std::optional<Font> font) { font_ = std::move(font); }

    // Styles `title`: unset values fall back to `textColor` (then the dark grey of the
    // palette), a clear background, centred, and a spacing that grows with the font size.
    void setTitle(const std::string& title, std::optional<Color> color = {},
                  std::optional<Color> backgroundColor = {}, std::optional<TextAlignment> textAlignment = {},
                  std::optional<float> letterSpacing = {});
    const AttributedTitle& attributedTitle() const { return attributedTitle_; }

    // The styled title `setTitle` makes, for a button with `font` (none: the system font of
    // size 11) and the `textColor` field `fieldColor`.
    static AttributedTitle makeTitle(const std::string& title, const std::optional<Font>& font,
                                     const std::optional<Color>& fieldColor, std::optional<Color> color,
                                     std::optional<Color> backgroundColor, std::optional<TextAlignment> textAlignment,
                                     std::optional<float> letterSpacing);
    // 0.4 points at 12 points, growing by 0.5 / 24 for every point away from 12 (smaller sizes
    // included), at most 0.9.
    static float defaultKern(double pointSize);

    void setAction(std::function<void()> action) { action_ = std::move(action); }

protected:
    // A label takes no mouse events, so that they reach the widgets below it.
    explicit AntiAliasedButton(bool tracksMouse);

private:
    void draw(cairo_t* cr);
    void nameAfterTitle();

    std::string title_;
    std::optional<Font> font_;
    AttributedTitle attributedTitle_;
    std::function<void()> action_;
    std::optional<ButtonTracking> tracking_;
};

} // namespace kx
