// How long the user has not touched keyboard or pointer. On X11 the X server's screen-saver
// extension answers on GDK's own display. Under Wayland GNOME's idle monitor
// (org.gnome.Mutter.IdleMonitor) is asked in the background and its last answer is given;
// where there is neither, the answer is 0, and one log line says so.
#pragma once

#include <cstdint>

namespace kx {

class RKSystemIdleTime {
public:
    // Sets up the query once; call before `secondsIdle`.
    static void startTracking();
    // Whole seconds since the last input.
    static std::uint64_t secondsIdle();
};

} // namespace kx
