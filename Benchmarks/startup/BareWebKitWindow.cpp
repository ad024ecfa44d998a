// The baseline of the start-up benchmark: the least a WebKitGTK program does to show a page in
// a window. One window, one web view, the page of the first argument; nothing else.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

int main(int argc, char** argv)
{
    g_set_prgname("bare-webkit-window");
    gtk_init(&argc, &argv);
    if (argc < 2)
        return 2;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Bare WebKit window");
    gtk_window_set_default_size(GTK_WINDOW(window), 440, 620);
    GtkWidget* view = webkit_web_view_new();
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
