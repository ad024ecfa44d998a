// A font as our widgets name it: a family (empty: the desktop's interface font), a size in
// points (one point is one device-independent pixel at the desktop's usual 96 dots per inch, as
// on the screen the layouts were made for) and a weight.
#pragma once

#include <string>

#include <cairo.h>
#include <pango/pango.h>

#include "Platform/Foundation/GObjectRef.h"

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
    // empty. Its size is relative to the resolution of the Pango context that lays it out: 13
    // points are 13 pixels at scale 1 and 96 dots per inch, and grow with the desktop's text
    // scaling (Xft DPI) as the text of a label does.
    PangoFontDescription* description() const;
    // The size of `description` in our points.
    static double pointSizeOf(const PangoFontDescription* description);

    // A Pango context for drawing on `cr` at the resolution GTK gives its own widgets' contexts
    // (the desktop's text scaling), so that drawn text grows with labels.
    static GObjectRef<PangoContext> context(cairo_t* cr);
};

} // namespace kx
