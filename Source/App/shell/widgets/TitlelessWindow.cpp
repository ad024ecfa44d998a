#include "App/shell/widgets/TitlelessWindow.h"

#include <cmath>

namespace kx {

TitlelessWindow::TitlelessWindow(Size contentSize)
    : Window(contentSize)
    , flippedContentView_(GTK_FIXED(gtk_fixed_new()))
{
    hideTitleBar();
    GtkWindow* window = gtkWindow();
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_deletable(window, FALSE);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_NORMAL);
    setMovableByWindowBackground(true);
    setMenuBarVisible(false);
    gtk_widget_set_size_request(GTK_WIDGET(flippedContentView_), int(std::lround(contentSize.width)),
                                int(std::lround(contentSize.height)));
    setContentView(GTK_WIDGET(flippedContentView_));
}

} // namespace kx
