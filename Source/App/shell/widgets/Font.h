// A font as our widgets name it: a family (empty: the desktop's interface font), a size in
// points (one point is one device-independent pixel, as on the screen the layouts were made
// for) and a weight.
#pragma once

#include <string>

#include <pango/pango.h>

namespace kx {

struct Font {
    std::string family;
    double pointSize = 13;
    PangoWeight weight = PANGO_WEIGHT_NORMAL;

    friend bool operator==(const Font&, const Font&) = default;

    static Font systemFont(double pointSize, PangoWeight weight = PANGO_WEIGHT_NORMAL)
    {
        return {{}, pointSize, weight};
    }

    // A new description (the caller frees it) with the family filled in from the desktop when
    // empty, and the size in absolute units, so that 13 points are 13 pixels at scale 1.
    PangoFontDescription* description() const;
};

} // namespace kx
