#include "App/exchange/ImageScaling.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "Platform/Foundation/SignalConnection.h"

namespace kx {

namespace {

constexpr const char* errorDomain = "ImageScaling";
// Bytes handed to the loader at a time: the header comes first, so an oversized picture is
// refused before its pixels are read.
constexpr std::size_t chunkSize = 64 * 1024;

Error decodingError(const std::string& reason)
{
    return Error(errorDomain, 1, "The image cannot be read.", reason);
}

// Points a pixel side makes at the resolution the loader found, if any.
double pointsFor(int pixels, const GdkPixbuf* pixbuf, const char* option)
{
    const char* text = gdk_pixbuf_get_option(const_cast<GdkPixbuf*>(pixbuf), option);
    if (!text)
        return pixels;
    char* end = nullptr;
    const double dpi = std::strtod(text, &end);
    if (end == text || !std::isfinite(dpi) || dpi < 1 || dpi > 100000)
        return pixels;
    return pixels * 72.0 / dpi;
}

// Float arithmetic may put 3000 * (512 / 3000) a hair above 512; that must not become 513.
int roundedUp(double value)
{
    return std::max(1, static_cast<int>(std::ceil(value - 1e-7)));
}

} // namespace

Result<std::shared_ptr<const Image>, Error> Image::decode(std::string_view bytes, std::size_t maximumPixels,
                                                           bool shrinkLarger)
{
    using R = Result<std::shared_ptr<const Image>, Error>;
    auto loader = GObjectRef<GdkPixbufLoader>::adopt(gdk_pixbuf_loader_new());
    bool tooLarge = false;
    const auto sized = SignalConnection::connect<void(GdkPixbufLoader*, int, int)>(
        loader.get(), "size-prepared", [&](GdkPixbufLoader* source, int width, int height) {
            if (width <= 0 || height <= 0) {
                tooLarge = true;
                gdk_pixbuf_loader_set_size(source, 0, 0); // the loader stops without allocating
                return;
            }
            if (static_cast<std::size_t>(width) <= maximumPixels / static_cast<std::size_t>(height))
                return;
            if (!shrinkLarger) {
                tooLarge = true;
                gdk_pixbuf_loader_set_size(source, 0, 0);
                return;
            }
            const double factor = std::sqrt(double(maximumPixels) / (double(width) * double(height)));
            gdk_pixbuf_loader_set_size(source, std::max(1, int(std::floor(width * factor))),
                                       std::max(1, int(std::floor(height * factor))));
        });

    GError* error = nullptr;
    bool written = true;
    for (std::size_t at = 0; at < bytes.size() && written && !tooLarge; at += chunkSize) {
        const std::size_t length = std::min(chunkSize, bytes.size() - at);
        written = gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(bytes.data() + at), length, &error);
    }
    g_clear_error(&error);
    const bool closed = gdk_pixbuf_loader_close(loader.get(), written && !tooLarge ? &error : nullptr);
    if (tooLarge) {
        g_clear_error(&error);
        return R::failure(decodingError("The picture has more pixels than a picture may have here."));
    }
    if (!written || !closed) {
        Error failure = decodingError(error ? error->message : "The data is no picture.");
        g_clear_error(&error);
        return R::failure(failure);
    }
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader.get());
    if (!pixbuf)
        return R::failure(decodingError("The data is no picture."));

    auto image = std::make_shared<Image>();
    image->representation = GObjectRef<GdkPixbuf>::retain(pixbuf);
    image->pointWidth = pointsFor(gdk_pixbuf_get_width(pixbuf), pixbuf, "x-dpi");
    image->pointHeight = pointsFor(gdk_pixbuf_get_height(pixbuf), pixbuf, "y-dpi");
    return R::success(std::move(image));
}

std::shared_ptr<const Image> scaleDownToFitSide(const std::shared_ptr<const Image>& image, double side)
{
    if (!image)
        return image;
    const double pixelWidth = image->pixelWidth();
    const double pixelHeight = image->pixelHeight();
    const double smallest = std::min({image->pointWidth, image->pointHeight, pixelWidth, pixelHeight});
    // Also refuses NaN sizes and sides: every comparison with NaN is false.
    if (!(smallest > 0.5))
        return image;
    const double factor = std::min(side / pixelWidth, side / pixelHeight);
    if (!(factor < 1) || !(factor > 0))
        return image;

    const int width = roundedUp(pixelWidth * factor);
    const int height = roundedUp(pixelHeight * factor);
    auto scaled = GObjectRef<GdkPixbuf>::adopt(
        gdk_pixbuf_scale_simple(image->representation.get(), width, height, GDK_INTERP_HYPER));
    if (!scaled)
        return image; // no memory for the copy: the full-size picture still serves
    if (!gdk_pixbuf_get_has_alpha(scaled.get()))
        scaled = GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_add_alpha(scaled.get(), FALSE, 0, 0, 0));
    if (!scaled)
        return image;

    auto result = std::make_shared<Image>();
    result->pointWidth = width;
    result->pointHeight = height;
    result->representation = std::move(scaled);
    return result;
}

} // namespace kx
