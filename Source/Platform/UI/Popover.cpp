#include "Platform/UI/Popover.h"

#include <algorithm>
#include <cmath>

#include "Platform/UI/Window.h"

namespace kx {

Popover::Popover(Kind kind)
    : kind_(kind)
{
    if (kind == Kind::attached) {
        frame_ = GObjectRef<GtkWidget>::sink(gtk_popover_new(nullptr));
        gtk_popover_set_modal(GTK_POPOVER(frame_.get()), TRUE);
        return;
    }
    placedByCompositor_ = !Window::isX11Display(gdk_display_get_default());
    frame_ = GObjectRef<GtkWidget>::retain(gtk_window_new(placedByCompositor_ ? GTK_WINDOW_POPUP : GTK_WINDOW_TOPLEVEL));
    GtkWindow* window = GTK_WINDOW(frame_.get());
    gtk_window_set_decorated(window, FALSE);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_skip_taskbar_hint(window, TRUE);
    gtk_window_set_skip_pager_hint(window, TRUE);
    // A pop-up surface needs a pop-up's hint to be mapped as one even when its grab fails.
    gtk_window_set_type_hint(window, placedByCompositor_ ? GDK_WINDOW_TYPE_HINT_DROPDOWN_MENU : GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_widget_add_events(frame_.get(), GDK_KEY_PRESS_MASK | GDK_BUTTON_PRESS_MASK | GDK_STRUCTURE_MASK);
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventKey*)>(
        frame_.get(), "key-press-event", [this](GtkWidget*, GdkEventKey* event) -> gboolean {
            if (event->keyval != GDK_KEY_Escape)
                return FALSE;
            close();
            return TRUE;
        }));
    // While it shows, it holds the pointer, as a popover does: a press anywhere outside it,
    // in this application or not, reaches it and closes it.
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEvent*)>(
        frame_.get(), "map-event", [this](GtkWidget*, GdkEvent*) -> gboolean {
            grabPointer();
            return FALSE;
        }));
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventButton*)>(
        frame_.get(), "button-press-event", [this](GtkWidget*, GdkEventButton* event) -> gboolean {
            if (contains({event->x_root, event->y_root}))
                return FALSE;
            close();
            return TRUE;
        }));
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEvent*)>(
        frame_.get(), "grab-broken-event", [this](GtkWidget*, GdkEvent*) -> gboolean {
            close();
            return FALSE;
        }));
    // The compositor dismisses a pop-up surface itself (a press outside the application) and
    // GDK hides its window under GTK: the popover is closed then. (The unmap of an earlier
    // close can arrive after the popover showed again, its window visible: that one is old.)
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEvent*)>(
        frame_.get(), "unmap-event", [this](GtkWidget*, GdkEvent*) -> gboolean {
            GdkWindow* window = gtk_widget_get_window(frame_.get());
            if (placedByCompositor_ && gtk_widget_get_visible(frame_.get()) && window && !gdk_window_is_visible(window))
                close();
            return FALSE;
        }));
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEvent*)>(
        frame_.get(), "delete-event", [this](GtkWidget*, GdkEvent*) -> gboolean {
            close();
            return TRUE;
        }));
}

Popover::~Popover()
{
    if (kind_ == Kind::window)
        releasePointer();
    anchorConnections_.clear();
    connections_.clear();
    gtk_widget_destroy(frame_.get());
}

void Popover::setContentView(GtkWidget* view)
{
    if (content_)
        gtk_container_remove(GTK_CONTAINER(frame_.get()), content_);
    content_ = view;
    if (!view)
        return;
    gtk_container_add(GTK_CONTAINER(frame_.get()), view);
    gtk_widget_show(view);
}

bool Popover::isShown() const
{
    return gtk_widget_get_visible(frame_.get());
}

void Popover::show(GtkWidget* widget, GtkPositionType edge)
{
    GtkWidget* toplevel = widget ? gtk_widget_get_toplevel(widget) : nullptr;
    if (!GTK_IS_WINDOW(toplevel) || !gtk_widget_get_mapped(widget))
        return;
    anchorConnections_.clear();
    anchor_ = GObjectRef<GtkWidget>::retain(widget);
    if (kind_ == Kind::attached) {
        gtk_popover_set_relative_to(GTK_POPOVER(frame_.get()), widget);
        gtk_popover_set_position(GTK_POPOVER(frame_.get()), edge);
        // Shown at once, without GTK's fade (and hidden so too): the fade moves on only with
        // frames of the window's clock, which on a busy X display can stop coming while the
        // popover is still transparent, and it stays unseen until something redraws the window.
        gtk_widget_show(frame_.get());
        return;
    }
    showWindow(widget, edge);
}

void Popover::showWindow(GtkWidget* widget, GtkPositionType edge)
{
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
    GtkWindow* window = GTK_WINDOW(frame_.get());
    gtk_window_set_transient_for(window, GTK_WINDOW(toplevel));
    anchorConnections_.push_back(SignalConnection::connect<void(GtkWidget*)>(toplevel, "hide", [this](GtkWidget*) {
        close();
    }));
    anchorConnections_.push_back(SignalConnection::connect<void(GtkWidget*)>(toplevel, "destroy", [this](GtkWidget*) {
        close();
    }));

    // The widget's rectangle on the screen.
    GtkAllocation allocation;
    gtk_widget_get_allocation(widget, &allocation);
    int x = 0;
    int y = 0;
    gtk_widget_translate_coordinates(widget, toplevel, 0, 0, &x, &y);
    if (placedByCompositor_) {
        showPopupSurface(toplevel, {x, y, allocation.width, allocation.height}, edge);
        return;
    }
    int rootX = 0;
    int rootY = 0;
    gdk_window_get_origin(gtk_widget_get_window(toplevel), &rootX, &rootY);
    const Rect anchor{{double(rootX + x), double(rootY + y)}, {double(allocation.width), double(allocation.height)}};

    GtkRequisition natural;
    gtk_widget_get_preferred_size(frame_.get(), nullptr, &natural);
    GdkRectangle workArea{0, 0, 0, 0};
    GdkDisplay* display = gtk_widget_get_display(widget);
    if (GdkMonitor* monitor = gdk_display_get_monitor_at_window(display, gtk_widget_get_window(toplevel)))
        gdk_monitor_get_workarea(monitor, &workArea);
    const Point origin = windowOrigin(anchor, {double(natural.width), double(natural.height)}, edge,
                                      {{double(workArea.x), double(workArea.y)}, {double(workArea.width), double(workArea.height)}});
    gtk_window_move(window, int(std::lround(origin.x)), int(std::lround(origin.y)));
    gtk_widget_show(frame_.get());
    gtk_window_present(window);
}

void Popover::showPopupSurface(GtkWidget* toplevel, const GdkRectangle& anchor, GtkPositionType edge)
{
    // The side of the anchor the pop-up touches, and the point of the pop-up that touches it:
    // centred along that side, as windowOrigin does; the compositor slides it into the screen.
    GdkGravity anchorPoint = GDK_GRAVITY_SOUTH;
    GdkGravity popupPoint = GDK_GRAVITY_NORTH;
    switch (edge) {
    case GTK_POS_TOP:
        anchorPoint = GDK_GRAVITY_NORTH;
        popupPoint = GDK_GRAVITY_SOUTH;
        break;
    case GTK_POS_BOTTOM:
        break;
    case GTK_POS_LEFT:
        anchorPoint = GDK_GRAVITY_WEST;
        popupPoint = GDK_GRAVITY_EAST;
        break;
    case GTK_POS_RIGHT:
        anchorPoint = GDK_GRAVITY_EAST;
        popupPoint = GDK_GRAVITY_WEST;
        break;
    }
    // The anchor is in the coordinates of the toplevel's own window, which is what the
    // positioner measures from.
    GtkAllocation frame;
    gtk_widget_get_allocation(toplevel, &frame);
    const GdkRectangle rectangle{anchor.x + frame.x, anchor.y + frame.y, std::max(1, anchor.width),
                                 std::max(1, anchor.height)};
    // A pop-up surface is placed when it maps: one on screen is taken down and placed anew.
    if (gtk_widget_get_visible(frame_.get())) {
        releasePointer();
        gtk_widget_hide(frame_.get());
    }
    gtk_widget_realize(frame_.get());
    GdkWindow* popup = gtk_widget_get_window(frame_.get());
    gdk_window_move_to_rect(popup, &rectangle, anchorPoint, popupPoint, GDK_ANCHOR_SLIDE, 0, 0);
    // The grab is part of showing a pop-up surface: the compositor takes it with the first
    // frame, so the window is shown from inside it.
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(frame_.get()));
    const GdkGrabStatus status =
        seat ? gdk_seat_grab(seat, popup, GDK_SEAT_CAPABILITY_ALL, TRUE, nullptr, nullptr,
                             [](GdkSeat*, GdkWindow*, gpointer data) { gtk_widget_show(static_cast<GtkWidget*>(data)); },
                             frame_.get())
             : GDK_GRAB_FAILED;
    if (status == GDK_GRAB_SUCCESS) {
        gtk_grab_add(frame_.get());
        grabbed_ = true;
    } else {
        gtk_widget_show(frame_.get());
    }
}

void Popover::close()
{
    if (kind_ == Kind::attached) {
        gtk_widget_hide(frame_.get());
        return;
    }
    anchorConnections_.clear();
    releasePointer();
    gtk_widget_hide(frame_.get());
}

void Popover::grabPointer()
{
    GdkWindow* window = gtk_widget_get_window(frame_.get());
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(frame_.get()));
    // The map can be heard after a close already hid the window again: nothing to grab then.
    // A pop-up surface took its grab as it was shown, or goes without.
    if (placedByCompositor_ || grabbed_ || !window || !seat || !gdk_window_is_visible(window))
        return;
    // Events for this application's windows still go where they belong (owner events), and
    // GTK's own grab sends those to this window.
    if (gdk_seat_grab(seat, window, GDK_SEAT_CAPABILITY_ALL_POINTING, TRUE, nullptr, nullptr, nullptr, nullptr)
        != GDK_GRAB_SUCCESS)
        return;
    gtk_grab_add(frame_.get());
    grabbed_ = true;
}

void Popover::releasePointer()
{
    if (!grabbed_)
        return;
    grabbed_ = false;
    gtk_grab_remove(frame_.get());
    gdk_seat_ungrab(gdk_display_get_default_seat(gtk_widget_get_display(frame_.get())));
}

bool Popover::contains(const Point& root) const
{
    GdkWindow* window = gtk_widget_get_window(frame_.get());
    if (!window)
        return false;
    int x = 0, y = 0;
    gdk_window_get_origin(window, &x, &y);
    return root.x >= x && root.y >= y && root.x < x + gdk_window_get_width(window)
           && root.y < y + gdk_window_get_height(window);
}

Point Popover::windowOrigin(const Rect& anchor, const Size& size, GtkPositionType edge, const Rect& area)
{
    const double midX = anchor.origin.x + anchor.size.width / 2;
    const double midY = anchor.origin.y + anchor.size.height / 2;
    Point origin;
    switch (edge) {
    case GTK_POS_TOP:
        origin = {midX - size.width / 2, anchor.origin.y - size.height};
        break;
    case GTK_POS_BOTTOM:
        origin = {midX - size.width / 2, anchor.origin.y + anchor.size.height};
        break;
    case GTK_POS_LEFT:
        origin = {anchor.origin.x - size.width, midY - size.height / 2};
        break;
    case GTK_POS_RIGHT:
        origin = {anchor.origin.x + anchor.size.width, midY - size.height / 2};
        break;
    }
    // Into the work area; a window larger than it keeps its top left corner inside.
    if (area.size.width > 0 && area.size.height > 0) {
        origin.x = std::max(area.origin.x, std::min(origin.x, area.origin.x + area.size.width - size.width));
        origin.y = std::max(area.origin.y, std::min(origin.y, area.origin.y + area.size.height - size.height));
    }
    return origin;
}

} // namespace kx
