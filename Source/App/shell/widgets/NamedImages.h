// Images loaded by name from a folder of the application's resources (Resources/images):
// "<name>.svg" or else "<name>.png". Each is read once and kept. Main thread only.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/UI/Geometry.h"

namespace kx {

class NamedImages {
public:
    // The images of the application's bundle.
    static NamedImages& shared();
    explicit NamedImages(std::filesystem::path folder);

    // The image at its own size; nullptr when there is none (or `name` is not a plain name).
    GdkPixbuf* imageNamed(const std::string& name);
    // The image drawn at `width` × `height` pixels (a vector image stays sharp); nullptr when
    // there is none or the size is not above 0.
    GdkPixbuf* imageNamed(const std::string& name, int width, int height);

    // The image for drawing on a screen of `scale` pixels per point (a widget's scale factor):
    // cairo draws it at its size in points, the image's own size or `width` × `height`, with
    // `scale` times as many pixels each way. A drawing made for the scale
    // ("<name>@2x.png" for 2) comes first, then the vector image drawn at that size, then the
    // image enlarged smoothly. nullptr when there is none or the size is not above 0.
    cairo_surface_t* surfaceNamed(const std::string& name, int scale);
    cairo_surface_t* surfaceNamed(const std::string& name, int width, int height, int scale);
    // The size in points at which `surface` is drawn.
    static Size pointSize(cairo_surface_t* surface);

    // Names are plain file names without extension: no folders, nothing hidden.
    static bool isPlainName(const std::string& name);

private:
    struct SurfaceRelease {
        void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
    };

    GdkPixbuf* load(const std::string& name, int width, int height);
    cairo_surface_t* surface(const std::string& name, int width, int height, int scale);
    GObjectRef<GdkPixbuf> pixelsAt(const std::string& name, int width, int height, int scale);

    std::filesystem::path folder_;
    std::map<std::pair<std::string, std::pair<int, int>>, GObjectRef<GdkPixbuf>> images_;
    std::map<std::tuple<std::string, int, int, int>, std::unique_ptr<cairo_surface_t, SurfaceRelease>> surfaces_;
};

} // namespace kx
