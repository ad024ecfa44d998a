#include "App/shell/application/WelcomeWindowHook.h"

#include <string>

#include "App/shell/AppInfo.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

namespace {

struct PlaceholderWindow {
    GObjectRef<GtkWidget> window;
    SignalConnection deleteEvent;
};

std::function<void()>& didCloseHandler()
{
    static std::function<void()> handler;
    return handler;
}

// A plain window with one line of text; closing it only hides it.
PlaceholderWindow makeWindow(const std::string& title, const std::string& text, bool notifiesClose)
{
    PlaceholderWindow placeholder;
    placeholder.window = GObjectRef<GtkWidget>::retain(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    GtkWindow* window = GTK_WINDOW(placeholder.window.get());
    gtk_window_set_title(window, title.c_str());
    gtk_window_set_default_size(window, 480, 240);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    gtk_container_set_border_width(GTK_CONTAINER(window), 24);
    gtk_container_add(GTK_CONTAINER(window), label);
    gtk_widget_show(label);
    placeholder.deleteEvent = SignalConnection::connect<gboolean(GtkWidget*, GdkEvent*)>(
        window, "delete-event", [notifiesClose](GtkWidget* widget, GdkEvent*) -> gboolean {
            gtk_widget_hide(widget);
            if (notifiesClose && didCloseHandler())
                didCloseHandler()();
            return TRUE;
        });
    return placeholder;
}

PlaceholderWindow& startWindow()
{
    static PlaceholderWindow window = makeWindow(
        "Korvel X", "The start window is coming.\nOpen a project with Ctrl+O, or quit with Ctrl+Q.", true);
    return window;
}

bool hasStartWindow = false;

} // namespace

void WelcomeWindowHook::setUp()
{
    startWindow();
    hasStartWindow = true;
}

void WelcomeWindowHook::show()
{
    setUp();
    gtk_window_present(GTK_WINDOW(startWindow().window.get()));
}

void WelcomeWindowHook::close()
{
    if (hasStartWindow && isVisible())
        gtk_window_close(GTK_WINDOW(startWindow().window.get()));
}

bool WelcomeWindowHook::isVisible()
{
    return hasStartWindow && gtk_widget_get_visible(startWindow().window.get());
}

GtkWindow* WelcomeWindowHook::window()
{
    return hasStartWindow ? GTK_WINDOW(startWindow().window.get()) : nullptr;
}

void WelcomeWindowHook::setWindowDidCloseHandler(std::function<void()> handler)
{
    didCloseHandler() = std::move(handler);
}

void WelcomeWindowHook::showAboutWindow()
{
    static PlaceholderWindow about = makeWindow(
        "About Korvel X", "Korvel X " + AppInfo::current()->shortVersion() + " (" + AppInfo::current()->bundle().stringForInfoKey("CFBundleVersion").value_or("") + ")", false);
    gtk_window_present(GTK_WINDOW(about.window.get()));
}

} // namespace kx
