// The baseline of the start-up benchmark: the least a WebKitGTK program does to show a page in
// a window. One window, one web view, the page of the first argument; nothing else. Like
// korvel-x (Source/Platform/Foundation/StartupTrace.h) it marks its steps in the start-up
// trace when KORVEL_X_STARTUP_TRACE names one, "page loaded" when its load has finished, for
// pages that cannot tell the probe themselves.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace {

void mark(const char* name)
{
    static const int fd = [] {
        const char* trace = g_getenv("KORVEL_X_STARTUP_TRACE");
        return trace ? ::open(trace, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600) : -1;
    }();
    if (fd < 0)
        return;
    const std::string line = std::to_string(g_get_monotonic_time()) + " " + name + "\n";
    (void)!::write(fd, line.data(), line.size());
}

void loadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer)
{
    if (event == WEBKIT_LOAD_FINISHED)
        mark("page loaded");
}

} // namespace

int main(int argc, char** argv)
{
    mark("main");
    g_set_prgname("bare-webkit-window");
    gtk_init(&argc, &argv);
    mark("gtk_init");
    if (argc < 2)
        return 2;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Bare WebKit window");
    gtk_window_set_default_size(GTK_WINDOW(window), 440, 620);
    GtkWidget* view = webkit_web_view_new();
    mark("web view made");
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(view, "load-changed", G_CALLBACK(loadChanged), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
    gtk_widget_show_all(window);
    mark("window shown");
    gtk_main();
    return 0;
}
