// The QR code of a share address as the live-sharing popover draws it: made by libqrencode at
// error-correction level Q, its dark modules black at 0.8 opacity over a white tile with
// rounded corners. Every module covers the same whole number of device pixels and a quiet
// margin of at least two modules stays white inside the tile, so that phone cameras read it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <cairo.h>

namespace kx {

class QRCodeImage {
public:
    static constexpr int quietModules = 2;
    static constexpr double tileSize = 136;    // points
    static constexpr double cornerRadius = 3;
    static constexpr double moduleOpacity = 0.8;

    // The code of `text`'s bytes; none when the text is empty or too long for any QR code.
    static std::optional<QRCodeImage> make(const std::string& text);

    int width() const { return width_; } // modules a side
    bool isDark(int x, int y) const { return modules_[std::size_t(y) * std::size_t(width_) + std::size_t(x)]; }
    // Device pixels a module takes in a tile of `tilePixels`, quiet margin included; 0 when
    // the code is too fine for the tile.
    int modulePixels(int tilePixels) const;

    // Draws the tile at (0, 0), `tileSize` points a side, for a surface of `scale` device
    // pixels a point. False, drawing nothing, when the code does not fit.
    bool draw(cairo_t* cr, int scale) const;

private:
    int width_ = 0;
    std::vector<bool> modules_;
};

} // namespace kx
