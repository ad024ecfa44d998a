#include "App/web/ScreenSnapshot.h"

#include <algorithm>
#include <cmath>

#include <gdk/gdk.h>
// X11 only: the root window is readable there and nowhere else.
#include <gdk/gdkx.h>

namespace kx {

std::optional<ScreenSnapshot> ScreenSnapshot::ofScreen()
{
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display))
        return std::nullopt;
    GdkWindow* root = gdk_get_default_root_window();
    const int width = gdk_window_get_width(root);
    const int height = gdk_window_get_height(root);
    if (width <= 0 || height <= 0)
        return std::nullopt;
    GdkPixbuf* screen = gdk_pixbuf_get_from_window(root, 0, 0, width, height);
    if (!screen)
        return std::nullopt;
    auto picture = PixbufPtr::adopt(screen);
    // A scaled display reads in device pixels; the sampler reads one pixel per point.
    if (gdk_pixbuf_get_width(screen) != width || gdk_pixbuf_get_height(screen) != height) {
        picture = PixbufPtr::adopt(gdk_pixbuf_scale_simple(screen, width, height, GDK_INTERP_NEAREST));
        if (!picture)
            return std::nullopt;
    }
    return ScreenSnapshot(std::move(picture));
}

ScreenSnapshot::ScreenSnapshot(PixbufPtr screen)
    : screen_(std::move(screen))
{
}

Size ScreenSnapshot::size() const
{
    return {double(gdk_pixbuf_get_width(screen_.get())), double(gdk_pixbuf_get_height(screen_.get()))};
}

PixbufPtr ScreenSnapshot::copyRect(const Rect& rect) const
{
    if (!std::isfinite(rect.origin.x) || !std::isfinite(rect.origin.y) || !std::isfinite(rect.size.width)
        || !std::isfinite(rect.size.height))
        return nullptr;
    // Beyond any real screen, so that the conversions below cannot overflow.
    constexpr double limit = 1 << 20;
    const double x = std::floor(rect.origin.x);
    const double y = std::floor(rect.origin.y);
    const double width = std::ceil(rect.size.width);
    const double height = std::ceil(rect.size.height);
    if (width < 1 || height < 1 || width > 4096 || height > 4096 || std::abs(x) > limit || std::abs(y) > limit)
        return nullptr;

    auto copy = PixbufPtr::adopt(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, int(width), int(height)));
    if (!copy)
        return nullptr;
    gdk_pixbuf_fill(copy.get(), 0x00000000);

    const Size screen = size();
    const int left = int(std::max(x, 0.0));
    const int top = int(std::max(y, 0.0));
    const int right = int(std::min(x + width, screen.width));
    const int bottom = int(std::min(y + height, screen.height));
    if (right > left && bottom > top) {
        // Copying onto an image with alpha makes the copied pixels opaque.
        gdk_pixbuf_copy_area(screen_.get(), left, top, right - left, bottom - top, copy.get(), left - int(x),
                             top - int(y));
    }
    return copy;
}

std::optional<Color> ScreenSnapshot::colorAtSampledPixel(const GdkPixbuf* image)
{
    if (!image)
        return std::nullopt;
    const int width = gdk_pixbuf_get_width(image);
    const int height = gdk_pixbuf_get_height(image);
    if (width < 1 || height < 1 || gdk_pixbuf_get_bits_per_sample(image) != 8)
        return std::nullopt;
    const int x = int(width * 0.5);
    const int y = int(height * 0.5);
    const int channels = gdk_pixbuf_get_n_channels(image);
    const guint8* pixel = gdk_pixbuf_read_pixels(image) + y * gdk_pixbuf_get_rowstride(image) + x * channels;
    const bool hasAlpha = gdk_pixbuf_get_has_alpha(image);
    return Color{pixel[0] / 255.0, pixel[1] / 255.0, pixel[2] / 255.0, hasAlpha ? pixel[3] / 255.0 : 1.0};
}

} // namespace kx
