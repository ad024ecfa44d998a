#include "App/shell/widgets/Font.h"

#include <gtk/gtk.h>

namespace kx {

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
    pango_font_description_set_absolute_size(description, (pointSize > 0 ? pointSize : 13) * PANGO_SCALE);
    return description;
}

} // namespace kx
