#include "App/shell/widgets/Accessibility.h"

#include <algorithm>

#include <gtk/gtk-a11y.h>

#include "App/shell/widgets/View.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/WeakObject.h"

namespace kx::Accessibility {

namespace {

gboolean doAction(AtkAction* action, gint index)
{
    GtkWidget* widget = gtk_accessible_get_widget(GTK_ACCESSIBLE(action));
    if (index != 0 || !widget || !gtk_widget_is_sensitive(widget) || !gtk_widget_get_visible(widget))
        return FALSE;
    // Not inside the call: a click may close the window or ask a question, which the screen
    // reader (waiting on the bus for the answer) must not wait for.
    MainQueue::async([weak = WeakObject<GtkWidget>(widget)] {
        const GObjectRef<GtkWidget> button = weak.lock();
        if (button && gtk_widget_is_sensitive(button.get()) && gtk_widget_get_visible(button.get()))
            gtk_widget_activate(button.get());
    });
    return TRUE;
}

void initActionInterface(gpointer interface, gpointer)
{
    auto* action = static_cast<AtkActionIface*>(interface);
    action->do_action = doAction;
    action->get_n_actions = [](AtkAction*) -> gint { return 1; };
    action->get_name = [](AtkAction*, gint index) -> const gchar* { return index == 0 ? "click" : nullptr; };
    action->get_localized_name = [](AtkAction*, gint index) -> const gchar* { return index == 0 ? "Click" : nullptr; };
    action->get_description = [](AtkAction*, gint index) -> const gchar* {
        return index == 0 ? "Clicks the button" : nullptr;
    };
}

GType buttonAreaAccessibleType()
{
    static const GType type = [] {
        const GType made = g_type_register_static_simple(GTK_TYPE_WIDGET_ACCESSIBLE, "KxButtonAreaAccessible",
                                                         sizeof(GtkWidgetAccessibleClass), nullptr,
                                                         sizeof(GtkWidgetAccessible), nullptr, GTypeFlags(0));
        const GInterfaceInfo action{initActionInterface, nullptr, nullptr};
        g_type_add_interface_static(made, ATK_TYPE_ACTION, &action);
        return made;
    }();
    return type;
}

void initButtonAreaClass(gpointer klass, gpointer)
{
    auto* widgetClass = GTK_WIDGET_CLASS(klass);
    widgetClass->activate_signal = g_signal_new("activate", G_TYPE_FROM_CLASS(klass),
                                                GSignalFlags(G_SIGNAL_RUN_FIRST | G_SIGNAL_ACTION), 0, nullptr, nullptr,
                                                nullptr, G_TYPE_NONE, 0);
    gtk_widget_class_set_accessible_type(widgetClass, buttonAreaAccessibleType());
}

GType buttonAreaType()
{
    static const GType type = g_type_register_static_simple(GTK_TYPE_DRAWING_AREA, "KxButtonArea",
                                                            sizeof(GtkDrawingAreaClass), initButtonAreaClass,
                                                            sizeof(GtkDrawingArea), nullptr, GTypeFlags(0));
    return type;
}

} // namespace

GtkWidget* newButtonArea()
{
    return GTK_WIDGET(g_object_new(buttonAreaType(), nullptr));
}

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
