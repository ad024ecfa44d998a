// A flat push button that paints its own background and border and draws its label as an
// attributed string, with label, background and border colours for the normal, pressed and
// disabled looks (SimpleButtonStyle). It tracks the mouse itself: the pressed look follows the
// pointer while the button is held, and the action goes only when the mouse is released over
// an enabled button; Space and Return press it from the keyboard (ButtonTracking).
#pragma once

#include <functional>
#include <optional>

#include "App/shell/widgets/ButtonTracking.h"
#include "App/shell/widgets/SimpleButtonStyle.h"
#include "App/shell/widgets/View.h"

namespace kx {

class SimpleButton : public View, public SimpleButtonStyle {
public:
    SimpleButton();

    void setAction(std::function<void()> action) { action_ = std::move(action); }

private:
    void styleDidChange() override;
    void draw(cairo_t* cr);

    std::function<void()> action_;
    std::optional<ButtonTracking> tracking_;
};

} // namespace kx
