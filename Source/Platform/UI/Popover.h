// A popover shown beside a widget, in one of two forms:
// - attached: a GtkPopover, with its arrow, drawn inside the widget's window. On X11 it is
//   clipped to that window, which is fine for small native content.
// - window: a transient, undecorated top-level window placed beside the widget, for content
//   that must not be clipped and may want the keyboard (a web page). It closes on Escape and
//   when the widget's window hides. Under Wayland, where a client neither places its windows
//   nor grabs the pointer, it is a pop-up surface instead: the compositor places it beside
//   the widget from the same rule (gdk_window_move_to_rect) and gives it the pointer and the
//   keyboard until a press elsewhere dismisses it.
// Either closes when the user presses the mouse elsewhere. Main thread only.
#pragma once

#include <vector>

#include <gtk/gtk.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/Geometry.h"

namespace kx {

class Popover {
public:
    enum class Kind { attached, window };

    explicit Popover(Kind kind);
    ~Popover();
    Popover(const Popover&) = delete;
    Popover& operator=(const Popover&) = delete;

    Kind kind() const { return kind_; }
    // The GtkPopover or the pop-up window: what carries the popover's background.
    GtkWidget* frameWidget() const { return frame_.get(); }

    // The popover's content, sized by its size request.
    void setContentView(GtkWidget* view);
    GtkWidget* contentView() const { return content_; }

    // Shows the popover beside `widget`, on its `edge` side (the arrow or the window's near
    // edge points at the widget). Nothing when the widget is in no window on screen.
    void show(GtkWidget* widget, GtkPositionType edge = GTK_POS_BOTTOM);
    void close();
    bool isShown() const;
    // The widget it was last shown beside; nullptr before.
    GtkWidget* anchor() const { return anchor_.get(); }

    // Where the pop-up window of `size` goes beside `anchor` (both in root coordinates, origin
    // top left) on `edge`: centred along that side, then moved into `area` (the monitor's
    // work area) as far as it fits.
    static Point windowOrigin(const Rect& anchor, const Size& size, GtkPositionType edge, const Rect& area);
    // Whether the pop-up window is a pop-up surface that the compositor places (Wayland).
    bool isPlacedByCompositor() const { return placedByCompositor_; }

private:
    void showWindow(GtkWidget* widget, GtkPositionType edge);
    void showPopupSurface(GtkWidget* toplevel, const GdkRectangle& anchor, GtkPositionType edge);
    void grabPointer();
    void releasePointer();
    // Whether the root point lies on the pop-up window.
    bool contains(const Point& root) const;

    Kind kind_;
    bool placedByCompositor_ = false;
    GObjectRef<GtkWidget> frame_;
    GtkWidget* content_ = nullptr;
    GObjectRef<GtkWidget> anchor_;
    bool grabbed_ = false;
    std::vector<SignalConnection> connections_;
    std::vector<SignalConnection> anchorConnections_;
};

} // namespace kx
