#include "App/shell/widgets/Font.h"

#include <cmath>

#include <gtk/gtk.h>
#include <pango/pangocairo.h>

namespace kx {

namespace {

// Pango's points are 1/72 inch; ours are pixels at 96 dots per inch.
constexpr double pangoPointsPerPoint = 72.0 / 96.0;

} // namespace

PangoFontDescription* Font::description() const
{
    PangoFontDescription* description = nullptr;
    if (family.empty()) {
        gchar* name = nullptr;
        if (GtkSettings* settings = gtk_settings_get_default())
            g_object_get(settings, "gtk-font-name", &name, nullptr);
        description = pango_font_description_from_string(name ? name : "Sans");
        g_free(name);
    } else {
        description = pango_font_description_new();
        pango_font_description_set_family(description, family.c_str());
    }
    pango_font_description_set_weight(description, weight);
    const double size = std::isfinite(pointSize) && pointSize > 0 ? pointSize : 13;
    pango_font_description_set_size(description, int(std::lround(size * pangoPointsPerPoint * PANGO_SCALE)));
    return description;
}

double Font::pointSizeOf(const PangoFontDescription* description)
{
    const double size = double(pango_font_description_get_size(description)) / PANGO_SCALE;
    return pango_font_description_get_size_is_absolute(description) ? size : size / pangoPointsPerPoint;
}

GObjectRef<PangoContext> Font::context(cairo_t* cr)
{
    auto context = GObjectRef<PangoContext>::adopt(pango_cairo_create_context(cr));
    // GTK sets the screen's resolution from Xft DPI (-1 when there is none: the usual 96).
    GdkScreen* screen = gdk_screen_get_default();
    const double resolution = screen ? gdk_screen_get_resolution(screen) : -1;
    pango_cairo_context_set_resolution(context.get(), resolution > 0 ? resolution : 96);
    return context;
}

} // namespace kx
