#include "App/exchange/ImageScaling.h"

#include <algorithm>
#include <cmath>

#include "Platform/Foundation/SignalConnection.h"

namespace kx {

GObjectRef<GdkPixbuf> decodeImage(std::span<const std::byte> bytes, std::uint64_t maximumPixels)
{
    if (bytes.empty())
        return nullptr;
    auto loader = GObjectRef<GdkPixbufLoader>::adopt(gdk_pixbuf_loader_new());
    bool refused = false;
    auto sizing = SignalConnection::connect<void(GdkPixbufLoader*, int, int)>(
        loader.get(), "size-prepared", [&refused, maximumPixels](GdkPixbufLoader* self, int width, int height) {
            if (width <= 0 || height <= 0) {
                refused = true;
                return;
            }
            const double pixels = double(width) * double(height);
            if (pixels <= double(maximumPixels))
                return;
            const double factor = std::sqrt(double(maximumPixels) / pixels);
            gdk_pixbuf_loader_set_size(self, std::max(1, int(std::floor(width * factor))), std::max(1, int(std::floor(height * factor))));
        });
    GError* error = nullptr;
    // In pieces, so that a refusal stops the work early.
    constexpr size_t piece = 256 * 1024;
    bool ok = true;
    for (size_t offset = 0; ok && !refused && offset < bytes.size(); offset += piece) {
        auto part = bytes.subspan(offset, std::min(piece, bytes.size() - offset));
        ok = gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(part.data()), part.size(), &error);
    }
    g_clear_error(&error);
    bool closed = gdk_pixbuf_loader_close(loader.get(), &error);
    g_clear_error(&error);
    if (!ok || !closed || refused)
        return nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader.get());
    if (!pixbuf)
        return nullptr;
    // An animation's first frame, as a still image.
    return GObjectRef<GdkPixbuf>::retain(pixbuf);
}

GObjectRef<GdkPixbuf> scaleDownToFitSide(const GObjectRef<GdkPixbuf>& image, double side)
{
    if (!image)
        return image;
    const double width = gdk_pixbuf_get_width(image.get());
    const double height = gdk_pixbuf_get_height(image.get());
    if (std::min(width, height) <= 0.5)
        return image;
    const double factor = std::min(side / width, side / height);
    if (!(factor < 1.0))
        return image;
    const int newWidth = std::max(1, int(std::ceil(width * factor)));
    const int newHeight = std::max(1, int(std::ceil(height * factor)));
    auto scaled = GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_scale_simple(image.get(), newWidth, newHeight, GDK_INTERP_BILINEAR));
    if (scaled && !gdk_pixbuf_get_has_alpha(scaled.get()))
        scaled = GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_add_alpha(scaled.get(), FALSE, 0, 0, 0));
    return scaled;
}

} // namespace kx
