// Images of every kind a project meets, made in memory: PNG, JPEG, TIFF through gdk-pixbuf,
// GIF written by hand (gdk-pixbuf reads GIF but does not write it), SVG text and a PDF page
// through cairo.
#pragma once

#include <cairo-pdf.h>
#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <string>

namespace imagefixtures {

inline GdkPixbuf* makePixbuf(int width, int height)
{
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    // A gradient, so that every size of it differs.
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            guchar* p = pixels + y * stride + x * 3;
            p[0] = static_cast<guchar>(x * 255 / width);
            p[1] = static_cast<guchar>(y * 255 / height);
            p[2] = 128;
        }
    return pixbuf;
}

inline std::string encoded(int width, int height, const char* type)
{
    GdkPixbuf* pixbuf = makePixbuf(width, height);
    gchar* buffer = nullptr;
    gsize size = 0;
    gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, type, nullptr, nullptr);
    std::string data(buffer, size);
    g_free(buffer);
    g_object_unref(pixbuf);
    return data;
}

inline std::string png(int width, int height) { return encoded(width, height, "png"); }
inline std::string jpeg(int width, int height) { return encoded(width, height, "jpeg"); }
inline std::string tiff(int width, int height) { return encoded(width, height, "tiff"); }

// A two-colour GIF of one colour; the code stream restarts every two pixels so that its codes
// stay three bits wide.
inline std::string gif(int width, int height)
{
    std::string data = "GIF89a";
    auto word = [&](int value) {
        data += static_cast<char>(value & 0xFF);
        data += static_cast<char>(value >> 8);
    };
    word(width);
    word(height);
    data += '\x80'; // global colour table of 2 entries
    data += '\0';
    data += '\0';
    data += std::string("\xFF\x00\x00\x00\x00\xFF", 6);
    data += ',';
    word(0);
    word(0);
    word(width);
    word(height);
    data += '\0';
    data += '\x02'; // minimum code size
    std::string codes;
    unsigned bits = 0, count = 0;
    auto emit = [&](unsigned code) {
        bits |= code << count;
        count += 3;
        while (count >= 8) {
            codes += static_cast<char>(bits & 0xFF);
            bits >>= 8;
            count -= 8;
        }
    };
    const long pixels = long(width) * height;
    for (long i = 0; i < pixels; i += 2) {
        emit(4);
        emit(0);
        if (i + 1 < pixels)
            emit(0);
    }
    emit(5);
    if (count)
        codes += static_cast<char>(bits & 0xFF);
    for (size_t offset = 0; offset < codes.size(); offset += 255) {
        size_t length = std::min<size_t>(255, codes.size() - offset);
        data += static_cast<char>(length);
        data += codes.substr(offset, length);
    }
    data += '\0';
    data += ';';
    return data;
}

inline std::string svg(int width, int height)
{
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height)
           + "\"><rect width=\"100%\" height=\"100%\" fill=\"#3366cc\"/></svg>";
}

// One page of `width` by `height` points.
inline std::string pdf(double width, double height)
{
    std::string data;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(
        [](void* closure, const unsigned char* chunk, unsigned int length) {
            static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(chunk), length);
            return CAIRO_STATUS_SUCCESS;
        },
        &data, width, height);
    cairo_t* context = cairo_create(surface);
    cairo_set_source_rgb(context, 0.8, 0.1, 0.1);
    cairo_rectangle(context, 10, 10, width - 20, height - 20);
    cairo_fill(context);
    cairo_destroy(context);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
    return data;
}

// The pixel size of encoded image bytes, {0, 0} when they do not decode.
inline std::pair<int, int> pixelSize(const std::string& data)
{
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(data.data()), data.size(), nullptr);
    gdk_pixbuf_loader_close(loader, nullptr);
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    std::pair<int, int> size = pixbuf ? std::make_pair(gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf)) : std::make_pair(0, 0);
    g_object_unref(loader);
    return size;
}

} // namespace imagefixtures
