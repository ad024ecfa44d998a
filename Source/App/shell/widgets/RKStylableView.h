// A container with a background colour and a border of its own width and colour on each edge.
// Its children are placed at points from its top left (GtkFixed). The borders are drawn over
// the background and below the children, in the order left, top, right, bottom, so later
// borders cover earlier ones where they meet.
#pragma once

#include <optional>
#include <vector>

#include "App/shell/Color.h"
#include "App/shell/widgets/View.h"

namespace kx {

class RKStylableView : public View {
public:
    RKStylableView();

    GtkFixed* fixed() const { return GTK_FIXED(widget()); }

    // Each stores the width and colour of its edge and redraws.
    void setLeftBorderWidth(float width, std::optional<Color> color);
    void setTopBorderWidth(float width, std::optional<Color> color);
    void setRightBorderWidth(float width, std::optional<Color> color);
    void setBottomBorderWidth(float width, std::optional<Color> color);
    // All four, left, top, right, bottom.
    void setBorderWidth(float width, std::optional<Color> color);

    // Takes effect at the next redraw.
    const std::optional<Color>& backgoundColor() const { return backgoundColor_; }
    void setBackgoundColor(std::optional<Color> color) { backgoundColor_ = std::move(color); }

    struct Fill {
        Rect rect;
        Color color;
        friend bool operator==(const Fill&, const Fill&) = default;
    };
    // What a redraw fills, in order, for bounds of `size`. A border without width or colour
    // draws nothing.
    std::vector<Fill> fills(const Size& size) const;

private:
    struct Edge {
        float width = 0;
        std::optional<Color> color;
    };
    void draw(cairo_t* cr);

    Edge left_;
    Edge top_;
    Edge right_;
    Edge bottom_;
    std::optional<Color> backgoundColor_;
};

} // namespace kx
