#include "App/shell/widgets/ButtonTracking.h"

#include <utility>

namespace kx {

ButtonTracking::ButtonTracking(GtkWidget* widget, std::function<void(bool)> pressedOver,
                               std::function<void()> clicked)
    : widget_(widget)
    , pressedOver_(std::move(pressedOver))
    , clicked_(std::move(clicked))
{
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
    // The click may destroy the widget and this object with it: nothing is touched afterwards.
    if (contains(size(), {event.x, event.y}) && clicked_) {
        auto clicked = clicked_;
        clicked();
    }
    return true;
}

} // namespace kx
