// A one-style title drawn with Pango: text, colour, a background behind the glyphs, font,
// letter spacing, alignment and a maximum line height, drawn with smoothed, unhinted glyphs
// placed at fractions of a pixel (the look of our anti-aliased controls).
#pragma once

#include <optional>
#include <string>

#include <cairo.h>
#include <gtk/gtk.h>

#include "App/shell/Color.h"
#include "App/shell/widgets/Font.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/UI/Geometry.h"

namespace kx {

enum class TextAlignment { left, right, center, justified, natural };

struct AttributedTitle {
    std::string text;
    Color foreground;
    // Behind the glyphs only; none is clear.
    std::optional<Color> background;
    Font font;
    // Extra space between letters, in points.
    double kern = 0;
    TextAlignment alignment = TextAlignment::center;
    std::optional<double> maximumLineHeight;

    friend bool operator==(const AttributedTitle&, const AttributedTitle&) = default;

    // Draws the title across `bounds`, aligned within its width and centred in its height.
    void draw(cairo_t* cr, const Rect& bounds) const;
    // The size the title takes when laid out in a width of `width` points (0: one line).
    Size measure(double width = 0) const;

private:
    GObjectRef<PangoLayout> layout(cairo_t* cr, double width) const;
};

} // namespace kx
