#include "App/shell/widgets/ButtonTracking.h"

#include <utility>

#include "App/shell/widgets/Accessibility.h"

namespace kx {

ButtonTracking::ButtonTracking(GtkWidget* widget, std::function<void(bool)> pressedOver,
                               std::function<void()> clicked, AtkRole role)
    : widget_(widget)
    , pressedOver_(std::move(pressedOver))
    , clicked_(std::move(clicked))
{
    gtk_widget_set_can_focus(widget, TRUE);
    gtk_widget_set_focus_on_click(widget, FALSE);
    gtk_widget_add_events(widget, GDK_KEY_PRESS_MASK | GDK_FOCUS_CHANGE_MASK);
    Accessibility::setRole(widget, role);
    nameFromTooltip();
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventKey*)>(
        widget, "key-press-event", [this](GtkWidget*, GdkEventKey* event) -> gboolean { return keyPressed(*event); }));
    // A screen reader's "click" (a widget of Accessibility::newButtonArea).
    if (g_signal_lookup("activate", G_OBJECT_TYPE(widget)))
        connections_.push_back(SignalConnection::connect<void(GtkWidget*)>(widget, "activate", [this](GtkWidget*) {
            if (!tracking_)
                click();
        }));
    // Over whatever the widget drew itself.
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, cairo_t*)>(
        widget, "draw",
        [this](GtkWidget* widget, cairo_t* cr) -> gboolean {
            Accessibility::drawFocusRing(widget, cr, focusCornerRadius_, focusInset_);
            return FALSE;
        },
        G_CONNECT_AFTER));
    connections_.push_back(SignalConnection::connect<void(GObject*, GParamSpec*)>(
        widget, "notify::tooltip-text", [this](GObject*, GParamSpec*) { nameFromTooltip(); }));
    gtk_widget_add_events(widget, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_BUTTON_MOTION_MASK);
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventButton*)>(
        widget, "button-press-event", [this](GtkWidget*, GdkEventButton* event) -> gboolean { return pressed(*event); }));
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventMotion*)>(
        widget, "motion-notify-event", [this](GtkWidget*, GdkEventMotion* event) -> gboolean { return moved(*event); }));
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventButton*)>(
        widget, "button-release-event",
        [this](GtkWidget*, GdkEventButton* event) -> gboolean { return released(*event); }));
    // A grab taken by someone else (a menu, a drag) ends the press without a click.
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEvent*)>(
        widget, "grab-broken-event", [this](GtkWidget*, GdkEvent*) -> gboolean {
            if (tracking_) {
                tracking_ = false;
                setOver(false);
            }
            return FALSE;
        }));
}

void ButtonTracking::setAccessibleName(std::string name)
{
    accessibleName_ = std::move(name);
    Accessibility::setName(widget_, *accessibleName_);
}

void ButtonTracking::setAccessibleRole(AtkRole role)
{
    Accessibility::setRole(widget_, role);
}

void ButtonTracking::nameFromTooltip()
{
    if (accessibleName_)
        return;
    gchar* tooltip = gtk_widget_get_tooltip_text(widget_);
    if (tooltip)
        Accessibility::setName(widget_, tooltip);
    g_free(tooltip);
}

bool ButtonTracking::contains(const Size& size, const Point& point)
{
    return point.x >= 0 && point.y >= 0 && point.x < size.width && point.y < size.height;
}

Size ButtonTracking::size() const
{
    return {double(gtk_widget_get_allocated_width(widget_)), double(gtk_widget_get_allocated_height(widget_))};
}

void ButtonTracking::setOver(bool over)
{
    if (over == over_)
        return;
    over_ = over;
    if (pressedOver_)
        pressedOver_(over);
}

bool ButtonTracking::pressed(const GdkEventButton& event)
{
    if (event.button != GDK_BUTTON_PRIMARY)
        return false;
    // The second and third presses of a double or triple click arrive as presses of their own.
    if (event.type != GDK_BUTTON_PRESS)
        return true;
    tracking_ = true;
    setOver(true);
    return true;
}

bool ButtonTracking::moved(const GdkEventMotion& event)
{
    if (!tracking_)
        return false;
    setOver(contains(size(), {event.x, event.y}));
    return true;
}

bool ButtonTracking::released(const GdkEventButton& event)
{
    if (event.button != GDK_BUTTON_PRIMARY || !tracking_)
        return false;
    tracking_ = false;
    setOver(false);
    if (contains(size(), {event.x, event.y}))
        click();
    return true;
}

bool ButtonTracking::keyPressed(const GdkEventKey& event)
{
    if (!Accessibility::activatesButton(event) || !gtk_widget_is_sensitive(widget_))
        return false;
    // Not while the mouse holds the button: its release decides.
    if (!tracking_)
        click();
    return true;
}

void ButtonTracking::click()
{
    // The click may destroy the widget and this object with it: nothing is touched afterwards.
    if (clicked_) {
        auto clicked = clicked_;
        clicked();
    }
}

} // namespace kx
