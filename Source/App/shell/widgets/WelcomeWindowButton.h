// The text buttons of the start window ("Open…", "New"): borderless, corners rounded by 3
// points, the title centred in the system font of size 12 and a given colour, drawn with
// smoothed glyphs. A click, or Space or Return while it has the keyboard focus, sends the
// action; a screen reader reads the title.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "App/shell/Color.h"
#include "App/shell/widgets/AttributedTitle.h"
#include "App/shell/widgets/ButtonTracking.h"
#include "App/shell/widgets/View.h"

namespace kx {

class WelcomeWindowButton : public View {
public:
    // The title in black.
    explicit WelcomeWindowButton(const std::string& title);

    void setTitle(const std::string& title, const Color& color);
    const std::string& title() const { return attributedTitle_.text; }
    const AttributedTitle& attributedTitle() const { return attributedTitle_; }

    void setAction(std::function<void()> action) { action_ = std::move(action); }

    static constexpr double cornerRadius = 3.0;

private:
    void draw(cairo_t* cr);

    AttributedTitle attributedTitle_;
    std::function<void()> action_;
    std::optional<ButtonTracking> tracking_;
};

} // namespace kx
