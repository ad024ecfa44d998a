#include "App/shell/widgets/Accessibility.h"

#include <algorithm>

#include "App/shell/widgets/View.h"

namespace kx::Accessibility {

void setRole(GtkWidget* widget, AtkRole role)
{
    if (AtkObject* accessible = gtk_widget_get_accessible(widget))
        atk_object_set_role(accessible, role);
}

void setName(GtkWidget* widget, const std::string& name)
{
    if (AtkObject* accessible = gtk_widget_get_accessible(widget))
        atk_object_set_name(accessible, name.c_str());
}

bool activatesButton(const GdkEventKey& event)
{
    if (event.state & (GDK_CONTROL_MASK | GDK_MOD1_MASK | GDK_SUPER_MASK))
        return false;
    switch (event.keyval) {
    case GDK_KEY_space:
    case GDK_KEY_KP_Space:
    case GDK_KEY_Return:
    case GDK_KEY_ISO_Enter:
    case GDK_KEY_KP_Enter:
        return true;
    default:
        return false;
    }
}

Color focusRingColor()
{
    return Color::colorWithHexColorString("#0099FF");
}

void drawFocusRing(GtkWidget* widget, cairo_t* cr, double cornerRadius, double inset, const Color& color)
{
    drawFocusRing(widget, cr,
                  {{inset, inset},
                   {gtk_widget_get_allocated_width(widget) - 2 * inset, gtk_widget_get_allocated_height(widget) - 2 * inset}},
                  cornerRadius, color);
}

void drawFocusRing(GtkWidget* widget, cairo_t* cr, const Rect& rect, double cornerRadius, const Color& color)
{
    if (!gtk_widget_has_visible_focus(widget))
        return;
    const double width = rect.size.width;
    const double height = rect.size.height;
    constexpr double lineWidth = 2.0;
    if (width <= lineWidth * 2 || height <= lineWidth * 2)
        return;
    cairo_save(cr);
    View::addRoundedRectangle(
        cr, {{rect.origin.x + lineWidth / 2, rect.origin.y + lineWidth / 2}, {width - lineWidth, height - lineWidth}},
        std::max(0.0, cornerRadius - lineWidth / 2));
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
    cairo_set_line_width(cr, lineWidth);
    cairo_stroke(cr);
    cairo_restore(cr);
}

} // namespace kx::Accessibility
