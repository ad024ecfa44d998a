#include "App/preview/QRCodeImage.h"

#include <algorithm>
#include <cmath>

#include <qrencode.h>

namespace kx {

std::optional<QRCodeImage> QRCodeImage::make(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    // The bytes as they are (8-bit mode): the address must come back exactly.
    QRcode* code = QRcode_encodeData(int(text.size()), reinterpret_cast<const unsigned char*>(text.data()), 0, QR_ECLEVEL_Q);
    if (!code)
        return std::nullopt;
    QRCodeImage image;
    image.width_ = code->width;
    image.modules_.resize(std::size_t(code->width) * std::size_t(code->width));
    for (std::size_t i = 0; i < image.modules_.size(); ++i)
        image.modules_[i] = code->data[i] & 1;
    QRcode_free(code);
    return image;
}

int QRCodeImage::modulePixels(int tilePixels) const
{
    const int span = width_ + 2 * quietModules;
    return span > 0 ? tilePixels / span : 0;
}

bool QRCodeImage::draw(cairo_t* cr, int scale) const
{
    scale = std::max(scale, 1);
    const int tilePixels = int(tileSize) * scale;
    const int module = modulePixels(tilePixels);
    if (module < 1)
        return false;
    cairo_save(cr);
    // The white tile.
    const double r = cornerRadius;
    cairo_new_sub_path(cr);
    cairo_arc(cr, tileSize - r, r, r, -M_PI / 2, 0);
    cairo_arc(cr, tileSize - r, tileSize - r, r, 0, M_PI / 2);
    cairo_arc(cr, r, tileSize - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, r, r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill(cr);
    // Modules in device pixels, the code centred on a whole pixel; one path, one fill, so that
    // neighbouring modules do not overlap at 0.8 opacity.
    cairo_scale(cr, 1.0 / scale, 1.0 / scale);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    const int origin = (tilePixels - module * width_) / 2;
    for (int y = 0; y < width_; ++y) {
        for (int x = 0; x < width_; ++x) {
            if (isDark(x, y))
                cairo_rectangle(cr, origin + x * module, origin + y * module, module, module);
        }
    }
    cairo_set_source_rgba(cr, 0, 0, 0, moduleOpacity);
    cairo_fill(cr);
    cairo_restore(cr);
    return true;
}

} // namespace kx
