// A view for a window's title bar that gives the bar the night look: placed in a tall title
// bar (Window::useTallTitleBar), it finds that header bar among its ancestors and, while night
// mode is on, fills it with the toolbar gradient of the palette; by day the bar looks as the
// desktop draws it. The look follows every change of mode. In a window without a header bar
// it does nothing.
#pragma once

#include <string>
#include <vector>

#include "App/shell/Color.h"
#include "App/shell/widgets/View.h"

namespace kx {

class ToolbarAccessoryView : public View {
public:
    ToolbarAccessoryView();

    // The header bar it styles, nullptr before it found one.
    GtkHeaderBar* titleBar() const { return titleBar_ ? GTK_HEADER_BAR(titleBar_.get()) : nullptr; }

    // The style class that carries the night gradient.
    static constexpr const char* nightStyleClass = "kx-toolbar-night";

    struct Stop {
        Color color;
        double location; // 0 at the top edge, 1 at the bottom edge
    };
    // The gradient, top to bottom: a top line, the gradient's top and bottom colours, and a
    // bottom line that fills the last 2 of 74 points.
    static std::vector<Stop> gradientStops();
    // The CSS of the night look.
    static std::string gradientCSS();

private:
    void install();
    void applyAppearance();

    GObjectRef<GtkWidget> titleBar_;
};

} // namespace kx
