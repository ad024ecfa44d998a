// Where the application reaches the start window and the About window: the application calls
// nothing else of them than what this file offers.
// Main thread only.
#pragma once

#include <functional>

#include <gtk/gtk.h>

namespace kx {

class WelcomeWindowHook {
public:
    // Prepares the window without showing it (the launch of a signed-in user).
    static void setUp();
    static void show();
    // Closes the window as its own close button would (the application is told).
    static void close();
    static bool isVisible();
    // The window while it exists, else nullptr.
    static GtkWindow* window();

    // Called after the start window has closed, however it was closed.
    static void setWindowDidCloseHandler(std::function<void()> handler);

    // The About window.
    static void showAboutWindow();
};

} // namespace kx
