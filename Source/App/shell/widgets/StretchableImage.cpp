#include "App/shell/widgets/StretchableImage.h"

#include <cmath>

#include <gdk/gdk.h>

namespace kx {

std::vector<StretchableImage::Piece> StretchableImage::pieces(const Rect& destination, const Size& imageSize,
                                                              const TMEdgeInsets& insets)
{
    const double x = std::round(destination.origin.x);
    const double top = std::round(destination.origin.y);
    const double w = std::round(destination.size.width);
    const double h = std::round(destination.size.height);
    // An empty destination shows nothing, not caps drawn around a point.
    if (!(w > 0 && h > 0))
        return {};
    const double W = imageSize.width;
    const double H = imageSize.height;
    const double t = insets.top;
    const double l = insets.left;
    const double b = insets.bottom;
    const double r = insets.right;

    // The pieces as measured from the bottom left (y grows upwards, 0 at the bottom of the
    // destination and of the image), flipped once below.
    struct Unflipped {
        double dx, dy, dw, dh, sx, sy, sw, sh;
    };
    const Unflipped table[] = {
        {x, 0, l, b, 0, 0, l, b},
        {x, h - t, l, t, 0, H - t, l, t},
        {x + w - r, h - t, r, t, W - r, H - t, r, t},
        {x + w - r, 0, r, b, W - r, 0, r, b},
        {x + l, 0, w - l - r, b, l, 0, W - l - r, b},
        {x + l, h - t, w - l - r, t, l, H - t, W - l - r, t},
        {x, b, l, h - t - b, 0, b, l, H - t - b},
        {x + w - r, b, r, h - t - b, W - r, b, r, H - t - b},
        {x + l, b, w - l - r, h - t - b, l, b + 2, W - l - r, H - t - b - 4},
    };
    std::vector<Piece> result;
    for (const auto& p : table) {
        if (!(p.dw > 0 && p.dh > 0 && p.sw > 0 && p.sh > 0))
            continue;
        result.push_back({{{p.dx, top + h - (p.dy + p.dh)}, {p.dw, p.dh}}, {{p.sx, H - (p.sy + p.sh)}, {p.sw, p.sh}}});
    }
    return result;
}

void StretchableImage::drawInRect(cairo_t* cr, GdkPixbuf* image, const Rect& destination, const TMEdgeInsets& insets)
{
    if (!cr || !image)
        return;
    const Size imageSize{double(gdk_pixbuf_get_width(image)), double(gdk_pixbuf_get_height(image))};
    for (const Piece& piece : pieces(destination, imageSize, insets)) {
        const Rect& to = piece.destination;
        const Rect& from = piece.source;
        cairo_save(cr);
        cairo_rectangle(cr, to.origin.x, to.origin.y, to.size.width, to.size.height);
        cairo_clip(cr);
        cairo_translate(cr, to.origin.x, to.origin.y);
        cairo_scale(cr, to.size.width / from.size.width, to.size.height / from.size.height);
        gdk_cairo_set_source_pixbuf(cr, image, -from.origin.x, -from.origin.y);
        // Stretched pieces repeat their edge pixels rather than fade into nothing.
        cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
        cairo_paint(cr);
        cairo_restore(cr);
    }
}

} // namespace kx
