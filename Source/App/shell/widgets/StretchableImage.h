// Nine-part drawing of a stretchable image: the four corners keep their size, the edges
// stretch along one axis and the centre along both, the centre sampled 2 points inside the
// image's top and bottom caps.
#pragma once

#include <vector>

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include "App/shell/widgets/TMEdgeInsets.h"
#include "Platform/UI/Geometry.h"

namespace kx {

class StretchableImage {
public:
    struct Piece {
        Rect destination;
        Rect source;
        friend bool operator==(const Piece&, const Piece&) = default;
    };

    // The pieces to draw, in order: corners (bottom left, top left, top right, bottom right),
    // edges (bottom, top, left, right), centre. `destination` (each value rounded to the
    // nearest whole point first) and the image both have their origin at the top left.
    // A piece whose source or destination is not above 0 in width and height is left out:
    // the image is drawn smaller than its caps, and there is nothing to draw for it (a cairo
    // scale of 0 or less would break the context for the rest of the drawing). An empty
    // destination gives no pieces.
    static std::vector<Piece> pieces(const Rect& destination, const Size& imageSize, const TMEdgeInsets& insets);

    // Draws `image` into `destination` of `cr`, source over.
    static void drawInRect(cairo_t* cr, GdkPixbuf* image, const Rect& destination, const TMEdgeInsets& insets);
};

} // namespace kx
