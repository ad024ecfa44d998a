#include "App/editor/WindowInputWatch.h"

namespace kx {

WindowInputWatch::WindowInputWatch(GtkWidget* widget)
{
    hierarchy_ = SignalConnection::connect<void(GtkWidget*, GtkWidget*)>(
        widget, "hierarchy-changed", [this](GtkWidget* widget, GtkWidget*) { watch(gtk_widget_get_toplevel(widget)); });
    watch(gtk_widget_get_toplevel(widget));
}

void WindowInputWatch::watch(GtkWidget* toplevel)
{
    windowConnections_.clear();
    buttons_.reset();
    if (!GTK_IS_WINDOW(toplevel))
        return;
    // Seen in the capture phase, and never claimed: the press goes on to its widget unchanged.
    buttons_ = GObjectRef<GtkGesture>::adopt(gtk_gesture_multi_press_new(toplevel));
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(buttons_.get()), 0); // any button
    gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(buttons_.get()), GTK_PHASE_CAPTURE);
    windowConnections_.push_back(SignalConnection::connect<void(GtkGestureMultiPress*, int, double, double)>(
        buttons_.get(), "pressed", [this](GtkGestureMultiPress*, int, double, double) { pressed_ = true; }));
    // Every key reaches the window first, which hands it to its focused widget.
    windowConnections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventKey*)>(
        toplevel, "key-press-event", [this](GtkWidget*, GdkEventKey* event) -> gboolean {
            pressed_ = pressed_ || !event->is_modifier;
            return FALSE;
        }));
}

} // namespace kx
