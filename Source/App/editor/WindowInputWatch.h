// Whether the user has pressed a key or a mouse button in a widget's window since the widget
// came into one: anywhere in the window, also where a page or a control keeps the press for
// itself. A modifier alone is no press: it types nothing, and a switch of windows by the
// keyboard may leave one behind. The watch follows the widget into another window. Main
// thread only.
#pragma once

#include <vector>

#include <gtk/gtk.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

class WindowInputWatch {
public:
    explicit WindowInputWatch(GtkWidget* widget);
    WindowInputWatch(const WindowInputWatch&) = delete;
    WindowInputWatch& operator=(const WindowInputWatch&) = delete;

    bool hasSeenPress() const { return pressed_; }

private:
    void watch(GtkWidget* toplevel);

    bool pressed_ = false;
    SignalConnection hierarchy_;
    // On the window, ahead of the widgets that the presses are for.
    GObjectRef<GtkGesture> buttons_;
    std::vector<SignalConnection> windowConnections_; // first to go
};

} // namespace kx
