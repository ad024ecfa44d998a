#include "App/shell/widgets/NamedImages.h"

#include <algorithm>
#include <system_error>

#include <gdk/gdk.h>

#include "Platform/Foundation/Bundle.h"

namespace kx {

NamedImages& NamedImages::shared()
{
    static NamedImages images(Bundle::main().resourcePath() / "images");
    return images;
}

NamedImages::NamedImages(std::filesystem::path folder)
    : folder_(std::move(folder))
{
}

bool NamedImages::isPlainName(const std::string& name)
{
    if (name.empty() || name.front() == '.' || name.size() > 200)
        return false;
    for (unsigned char c : name) {
        if (c == '/' || c == '\\' || c < 0x20)
            return false;
    }
    return true;
}

GdkPixbuf* NamedImages::imageNamed(const std::string& name)
{
    return load(name, -1, -1);
}

GdkPixbuf* NamedImages::imageNamed(const std::string& name, int width, int height)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    return load(name, width, height);
}

cairo_surface_t* NamedImages::surfaceNamed(const std::string& name, int scale)
{
    return surface(name, -1, -1, scale);
}

cairo_surface_t* NamedImages::surfaceNamed(const std::string& name, int width, int height, int scale)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    return surface(name, width, height, scale);
}

Size NamedImages::pointSize(cairo_surface_t* surface)
{
    if (!surface || cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE)
        return {};
    double scaleX = 1, scaleY = 1;
    cairo_surface_get_device_scale(surface, &scaleX, &scaleY);
    return {cairo_image_surface_get_width(surface) / scaleX, cairo_image_surface_get_height(surface) / scaleY};
}

cairo_surface_t* NamedImages::surface(const std::string& name, int width, int height, int scale)
{
    if (!isPlainName(name))
        return nullptr;
    // No screen has more than a few pixels per point; a wild factor must not ask for a huge image.
    scale = std::clamp(scale, 1, 8);
    const auto key = std::make_tuple(name, width, height, scale);
    if (auto found = surfaces_.find(key); found != surfaces_.end())
        return found->second.get();
    const auto pixels = pixelsAt(name, width, height, scale);
    if (!pixels)
        return nullptr;
    // The pixels as they are, with the scale that makes cairo draw them at the size in points
    // (as gdk_cairo_surface_create_from_pixbuf does, without needing a window or a display).
    std::unique_ptr<cairo_surface_t, SurfaceRelease> made{cairo_image_surface_create(
        CAIRO_FORMAT_ARGB32, gdk_pixbuf_get_width(pixels.get()), gdk_pixbuf_get_height(pixels.get()))};
    if (cairo_surface_status(made.get()) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    cairo_surface_set_device_scale(made.get(), scale, scale);
    cairo_t* cr = cairo_create(made.get());
    cairo_scale(cr, 1.0 / scale, 1.0 / scale);
    gdk_cairo_set_source_pixbuf(cr, pixels.get(), 0, 0);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    return surfaces_.emplace(key, std::move(made)).first->second.get();
}

GObjectRef<GdkPixbuf> NamedImages::pixelsAt(const std::string& name, int width, int height, int scale)
{
    // The image in points: its own size, or the size asked for.
    GdkPixbuf* natural = load(name, width, height);
    if (scale > 1) {
        if (GdkPixbuf* drawn = load(name + "@" + std::to_string(scale) + "x", -1, -1)) {
            const int pixelWidth = natural ? gdk_pixbuf_get_width(natural) * scale : gdk_pixbuf_get_width(drawn);
            const int pixelHeight = natural ? gdk_pixbuf_get_height(natural) * scale : gdk_pixbuf_get_height(drawn);
            if (gdk_pixbuf_get_width(drawn) == pixelWidth && gdk_pixbuf_get_height(drawn) == pixelHeight)
                return GObjectRef<GdkPixbuf>::retain(drawn);
            return GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_scale_simple(drawn, pixelWidth, pixelHeight, GDK_INTERP_HYPER));
        }
    }
    if (!natural)
        return {};
    if (scale == 1)
        return GObjectRef<GdkPixbuf>::retain(natural);
    const int pixelWidth = gdk_pixbuf_get_width(natural) * scale;
    const int pixelHeight = gdk_pixbuf_get_height(natural) * scale;
    std::error_code error;
    if (std::filesystem::is_regular_file(folder_ / (name + ".svg"), error))
        return GObjectRef<GdkPixbuf>::retain(load(name, pixelWidth, pixelHeight));
    return GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_scale_simple(natural, pixelWidth, pixelHeight, GDK_INTERP_HYPER));
}

GdkPixbuf* NamedImages::load(const std::string& name, int width, int height)
{
    if (!isPlainName(name))
        return nullptr;
    const auto key = std::make_pair(name, std::make_pair(width, height));
    if (auto found = images_.find(key); found != images_.end())
        return found->second.get();
    for (const char* extension : {".svg", ".png"}) {
        const auto path = folder_ / (name + extension);
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error))
            continue;
        GError* failure = nullptr;
        GdkPixbuf* image = width > 0 ? gdk_pixbuf_new_from_file_at_scale(path.c_str(), width, height, FALSE, &failure)
                                     : gdk_pixbuf_new_from_file(path.c_str(), &failure);
        if (!image) {
            g_warning("Cannot read the image %s: %s", path.c_str(), failure ? failure->message : "unknown error");
            g_clear_error(&failure);
            return nullptr;
        }
        return images_.emplace(key, GObjectRef<GdkPixbuf>::adopt(image)).first->second.get();
    }
    return nullptr;
}

} // namespace kx
