#include "App/shell/widgets/ClickableView.h"

#include <cmath>
#include <cstdlib>

#include "App/shell/RKLog.h"
#include "Platform/UI/Window.h"

namespace kx {

ClickableView::ClickableView()
    : View(gtk_event_box_new())
    , fixed_(GTK_FIXED(gtk_fixed_new()))
{
    gtk_container_add(GTK_CONTAINER(widget()), GTK_WIDGET(fixed_));
    gtk_widget_show(GTK_WIDGET(fixed_));
    gtk_widget_add_events(widget(), GDK_BUTTON_PRESS_MASK);
    connect<gboolean(GtkWidget*, GdkEventButton*)>(
        "button-press-event", [this](GtkWidget*, GdkEventButton* event) -> gboolean { return pressed(*event); });
    // The arrow whatever the widgets around it show.
    connect<void(GtkWidget*)>("realize", [](GtkWidget* widget) {
        auto cursor = GObjectRef<GdkCursor>::adopt(gdk_cursor_new_from_name(gtk_widget_get_display(widget), "default"));
        gdk_window_set_cursor(gtk_widget_get_window(widget), cursor.get());
    });
}

ClickableView::~ClickableView()
{
    if (pendingClick_)
        pendingClick_->cancel();
    RKLog("deinit ClickableView", RKLogKind::general);
}

void ClickableView::doClick()
{
    if (auto handler = clickHandler)
        handler();
}

int ClickableView::clickCount(const Press& previous, std::uint32_t time, const Point& location, unsigned button,
                              std::chrono::milliseconds interval, double distance)
{
    const bool continues = previous.clickCount > 0 && button == previous.button && time >= previous.time
                           && std::chrono::milliseconds(time - previous.time) <= interval
                           && std::fabs(location.x - previous.location.x) <= distance
                           && std::fabs(location.y - previous.location.y) <= distance;
    return continues ? previous.clickCount + 1 : 1;
}

bool ClickableView::pressed(const GdkEventButton& event)
{
    if (event.button != GDK_BUTTON_PRIMARY)
        return false;
    // GDK's own double and triple presses come after the plain presses that this counts.
    if (event.type != GDK_BUTTON_PRESS)
        return true;
    gint distance = 5;
    if (GtkSettings* settings = gtk_settings_get_default())
        g_object_get(settings, "gtk-double-click-distance", &distance, nullptr);
    const auto interval = Window::doubleClickInterval();
    const Point location{event.x_root, event.y_root};
    const int count = clickCount(lastPress_, event.time, location, event.button, interval, distance);
    lastPress_ = {event.time, location, event.button, count};

    if (count == 1) {
        if (doubleClickHandler) {
            if (pendingClick_)
                pendingClick_->cancel();
            pendingClick_ = MainQueue::after(interval / 2, [this] { doClick(); });
        } else {
            doClick();
        }
    } else if (count == 2) {
        if (pendingClick_)
            pendingClick_->cancel();
        pendingClick_.reset();
        if (auto handler = doubleClickHandler)
            handler();
    }
    return true;
}

} // namespace kx
