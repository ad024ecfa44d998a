// Images as the working container's background jobs see them, and their downscaling. Pure
// gdk-pixbuf: no GDK or GTK call, so that any worker thread may decode and scale.
//
// An image has a size in points and, usually, one pixel buffer, its first representation.
// The two differ for pictures that carry a resolution (a 144 dpi PNG has half as many points
// as pixels), and a picture whose buffer could not be made has points but no pixels.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/Result.h"

namespace kx {

struct Image {
    double pointWidth = 0;
    double pointHeight = 0;
    // The first representation; null when the image has none.
    GObjectRef<GdkPixbuf> representation;

    int pixelWidth() const { return representation ? gdk_pixbuf_get_width(representation.get()) : 0; }
    int pixelHeight() const { return representation ? gdk_pixbuf_get_height(representation.get()) : 0; }

    // Pictures beyond this many pixels are refused before their pixels are decoded: a few
    // header bytes must not make a worker allocate gigabytes.
    static constexpr std::size_t maximumPixelCount = 100'000'000;

    // Decodes PNG, JPEG, GIF, TIFF, WebP or SVG bytes (whatever gdk-pixbuf's loaders read).
    // The point size follows the picture's resolution where it names one (72 dpi is a point a
    // pixel). A picture over `maximumPixels` is refused, or with `shrinkLarger` decoded at the
    // largest size of the same proportions that fits (for smaller copies of it).
    static Result<std::shared_ptr<const Image>, Error> decode(std::string_view bytes,
                                                               std::size_t maximumPixels = maximumPixelCount,
                                                               bool shrinkLarger = false);
};

// The image scaled down so that neither pixel side exceeds `side`, or the very same object
// when there is nothing to scale: its smallest extent (points and pixels, pixels counting 0
// without a representation) is 0.5 or less, or the factor min(side / pixel width, side /
// pixel height) is 1 or more. A new image has the scaled pixel size, each side rounded up, as
// its size in points too, and one 8-bit RGBA buffer of that size.
std::shared_ptr<const Image> scaleDownToFitSide(const std::shared_ptr<const Image>& image, double side);

} // namespace kx
