// Whether the application is active: it is while any of its windows is the active one. The
// focus changes and the unmapping of every top-level window are watched (emission hooks, so
// that windows made anywhere count); when the last active window loses the focus, the
// application resigns once the main loop has had an idle turn, so that the focus moving from
// one of our windows to another does not count. Main thread only.
#pragma once

#include <functional>

#include <gtk/gtk.h>

namespace kx {

class ApplicationActivity {
public:
    // Starts watching (once). `didResignActive` runs when the application stops being active;
    // `windowDidBecomeActive` gets each top-level window that gains the focus.
    static void start(std::function<void()> didResignActive, std::function<void(GtkWindow*)> windowDidBecomeActive);
    // Any top-level window of this process is active.
    static bool isActive();
};

} // namespace kx
