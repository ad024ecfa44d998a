#include "App/documents/container/KVContainerImageData.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <type_traits>

#include <cairo.h>
#include <glib.h>
#include <gmodule.h>
#include <openssl/evp.h>
#include <poppler.h>

#include "App/documents/KVDocumentError.h"
#include "App/exchange/ImageScaling.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx::KVContainerImageData {

bool isPNG(std::string_view data)
{
    return data.size() >= 4 && data.substr(0, 4) == std::string_view("\x89PNG", 4);
}

bool isJPEG(std::string_view data)
{
    return data.size() >= 3 && data.substr(0, 3) == std::string_view("\xFF\xD8\xFF", 3);
}

std::string contentName(std::string_view data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha1(), nullptr);
    gchar* text = g_base64_encode(digest, length);
    std::string name;
    for (const char* c = text; *c; ++c)
        if (*c != '/' && *c != '+' && *c != '=')
            name += *c;
    g_free(text);
    if (isPNG(data))
        name += ".png";
    else if (isJPEG(data))
        name += ".jpg";
    return name;
}

bool hasPixelSize(std::string_view data)
{
    if (data.empty())
        return false;
    auto loader = GObjectRef<GdkPixbufLoader>::adopt(gdk_pixbuf_loader_new());
    bool sized = false;
    auto sizing = SignalConnection::connect<void(GdkPixbufLoader*, int, int)>(
        loader.get(), "size-prepared", [&sized](GdkPixbufLoader*, int width, int height) { sized = width > 0 && height > 0; });
    GError* error = nullptr;
    constexpr size_t piece = 64 * 1024;
    for (size_t offset = 0; !sized && offset < data.size(); offset += piece) {
        size_t length = std::min(piece, data.size() - offset);
        if (!gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(data.data() + offset), length, &error))
            break;
    }
    g_clear_error(&error);
    // Once the size is known the rest is not wanted: the loader may complain of it.
    gdk_pixbuf_loader_close(loader.get(), &error);
    g_clear_error(&error);
    return sized;
}

bool looksLikePDF(std::string_view data)
{
    return data.substr(0, 1024).find("%PDF-") != std::string_view::npos;
}

namespace {

// Poppler's functions, from the library loaded with the first PDF (see CMakeLists.txt); null
// when it cannot be loaded. Any thread.
struct Poppler {
    decltype(&poppler_document_new_from_bytes) documentNewFromBytes = nullptr;
    decltype(&poppler_document_get_n_pages) documentGetNPages = nullptr;
    decltype(&poppler_document_get_page) documentGetPage = nullptr;
    decltype(&poppler_page_get_size) pageGetSize = nullptr;
    decltype(&poppler_page_render) pageRender = nullptr;
};

const Poppler* poppler()
{
    static const std::optional<Poppler> loaded = []() -> std::optional<Poppler> {
        GModule* module = g_module_open(KX_POPPLER_GLIB_SONAME, G_MODULE_BIND_LOCAL);
        if (!module) {
            RKLog(std::string("PDF images cannot be drawn: ") + g_module_error(), RKLogKind::general);
            return std::nullopt;
        }
        Poppler functions;
        const auto find = [&](const char* name, auto& function) {
            gpointer symbol = nullptr;
            if (!g_module_symbol(module, name, &symbol))
                return false;
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(symbol);
            return true;
        };
        if (!find("poppler_document_new_from_bytes", functions.documentNewFromBytes)
            || !find("poppler_document_get_n_pages", functions.documentGetNPages)
            || !find("poppler_document_get_page", functions.documentGetPage)
            || !find("poppler_page_get_size", functions.pageGetSize) || !find("poppler_page_render", functions.pageRender)) {
            RKLog(std::string("PDF images cannot be drawn: ") + g_module_error(), RKLogKind::general);
            g_module_close(module);
            return std::nullopt;
        }
        // Its types stay registered with GObject: it is never unloaded.
        g_module_make_resident(module);
        return functions;
    }();
    return loaded ? &*loaded : nullptr;
}

} // namespace

std::optional<std::string> renderPDFPage(std::string_view data)
{
    if (!looksLikePDF(data))
        return std::nullopt;
    const Poppler* library = poppler();
    if (!library)
        return std::nullopt;
    auto bytes = g_bytes_new(data.data(), data.size());
    GError* error = nullptr;
    auto document = GObjectRef<PopplerDocument>::adopt(library->documentNewFromBytes(bytes, nullptr, &error));
    g_bytes_unref(bytes);
    g_clear_error(&error);
    if (!document || library->documentGetNPages(document.get()) < 1)
        return std::nullopt;
    const KVDocumentError unsupported(KVDocumentError::Code::unsupportedImageFormat);
    auto page = GObjectRef<PopplerPage>::adopt(library->documentGetPage(document.get(), 0));
    if (!page)
        throw unsupported;
    double width = 0, height = 0;
    library->pageGetSize(page.get(), &width, &height);
    if (!(width > 0) || !(height > 0) || !std::isfinite(width) || !std::isfinite(height))
        throw unsupported;
    double scale = 1.0;
    if (std::ceil(width) * std::ceil(height) > double(Image::maximumPixelCount))
        scale = std::sqrt(double(Image::maximumPixelCount) / (std::ceil(width) * std::ceil(height)));
    const int pixelWidth = std::max(1, int(std::ceil(width * scale)));
    const int pixelHeight = std::max(1, int(std::ceil(height * scale)));

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixelWidth, pixelHeight);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        throw unsupported;
    }
    cairo_t* context = cairo_create(surface);
    cairo_scale(context, scale, scale);
    library->pageRender(page.get(), context);
    cairo_destroy(context);
    cairo_surface_flush(surface);
    std::string png;
    auto status = cairo_surface_write_to_png_stream(
        surface,
        [](void* closure, const unsigned char* chunk, unsigned int length) {
            static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(chunk), length);
            return CAIRO_STATUS_SUCCESS;
        },
        &png);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS || png.empty())
        throw unsupported;
    return png;
}

std::optional<std::string> encode(const GObjectRef<GdkPixbuf>& image, bool asJPEG)
{
    if (!image)
        return std::nullopt;
    gchar* buffer = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    gboolean ok = asJPEG ? gdk_pixbuf_save_to_buffer(image.get(), &buffer, &size, "jpeg", &error, "quality", "85", nullptr)
                         : gdk_pixbuf_save_to_buffer(image.get(), &buffer, &size, "png", &error, nullptr);
    g_clear_error(&error);
    if (!ok)
        return std::nullopt;
    std::string data(buffer, size);
    g_free(buffer);
    return data;
}

} // namespace kx::KVContainerImageData
