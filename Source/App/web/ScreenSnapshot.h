// The picture of the whole screen that the colour sampler reads from. X11 shows a client only
// what is on screen, its own windows included, so the sampler takes this picture before its
// loupe appears and reads every later square from it: the loupe never sees itself.
#pragma once

#include <optional>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "App/shell/Color.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/UI/Geometry.h"

namespace kx {

using PixbufPtr = GObjectRef<GdkPixbuf>;

class ScreenSnapshot {
public:
    // The screen as it is now, read from the X11 root window. None where no client may read the
    // screen (Wayland) or the read fails.
    static std::optional<ScreenSnapshot> ofScreen();

    explicit ScreenSnapshot(PixbufPtr screen);

    // Screen size in pixels.
    Size size() const;
    // A copy of `rect` (top-left pixel coordinates) with an alpha channel; whatever lies off the
    // screen is transparent. None for an empty or non-finite rectangle.
    PixbufPtr copyRect(const Rect& rect) const;

    // The colour of the pixel at the centre of `image` (x = trunc(width × 0.5), the same for y),
    // or none when there is no image to read.
    static std::optional<Color> colorAtSampledPixel(const GdkPixbuf* image);

private:
    PixbufPtr screen_; // shared by copies, never changed
};

} // namespace kx
