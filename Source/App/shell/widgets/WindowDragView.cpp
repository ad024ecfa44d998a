#include "App/shell/widgets/WindowDragView.h"

#include "Platform/UI/Window.h"

namespace kx {

WindowDragView::WindowDragView()
    : View(gtk_event_box_new())
{
    // Its own input window over whatever lies below (a web view), drawing nothing.
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(widget()), FALSE);
    gtk_event_box_set_above_child(GTK_EVENT_BOX(widget()), TRUE);
    gtk_widget_add_events(widget(), GDK_BUTTON_PRESS_MASK | GDK_BUTTON_MOTION_MASK);
    connect<gboolean(GtkWidget*, GdkEventButton*)>("button-press-event",
                                                   [](GtkWidget* widget, GdkEventButton* event) -> gboolean {
                                                       if (event->button != GDK_BUTTON_PRIMARY)
                                                           return FALSE;
                                                       if (event->type == GDK_BUTTON_PRESS)
                                                           Window::performWindowDrag(widget, *event);
                                                       return TRUE;
                                                   });
    // Dragging is the window manager's; the motion goes nowhere else.
    connect<gboolean(GtkWidget*, GdkEventMotion*)>("motion-notify-event",
                                                   [](GtkWidget*, GdkEventMotion*) -> gboolean { return TRUE; });
}

} // namespace kx
