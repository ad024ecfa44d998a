// A colour as the shell writes it: sRGB components and alpha, each from 0 to 1. Palettes are
// written as six hex digits and turned into colours here.
#pragma once

#include <string>
#include <string_view>

namespace kx {

struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    friend bool operator==(const Color&, const Color&) = default;

    // "RRGGBB" or "#RRGGBB" to an opaque colour. A text of exactly seven characters loses its
    // first one, whatever it is; the rest is read as one hex number (leading white space and a
    // "0x" are allowed, reading stops at the first non-hex character, too large a number reads
    // as 0xFFFFFFFF) whose low three bytes are red, green and blue. Unreadable text is black.
    static Color colorWithHexColorString(std::string_view text);

    // "#RRGGBB", upper-case, components rounded half away from zero and kept within 0...255.
    std::string hexColorString() const;
    // "(r, g, b, a)" with red, green and blue scaled to 0...255 and alpha as is, two decimals.
    // Independent of the locale: pages read it.
    std::string RGBAColorString() const;

    // Each component moved `fraction` of the way towards `ofColor` (alpha included).
    Color blendedColorWithFraction(double fraction, const Color& ofColor) const;

    // Red, green and blue from rand(), each one of 0/255 ... 254/255.
    static Color randomColorWithAlpha(float alpha);
    // The same seed gives the same colour on every machine and in every run: the components
    // come from FNV-1a (64-bit) hashes of "R", "G" or "B" followed by the twice-applied
    // upper-case MD5 of the seed, each modulo 255.
    static Color randomColorWithSeed(std::string_view seed, float andAlpha);
};

} // namespace kx
