// Loads the machine's graphics driver on a thread of its own while the process starts.
//
// The first web view of the process waits on the main thread while WebKit opens its EGL
// display, and most of that wait is the dynamic loader mapping and linking the driver (with
// Mesa, its compiler library alone is tens of milliseconds). This opens a display of its own
// that needs no window system (Mesa's surfaceless platform), which loads the same driver,
// keeps the libraries that came with it loaded, and closes the display again: when WebKit
// opens its display, the driver is already in the process. Where there is no EGL library, or
// no driver offers a surfaceless display, nothing is loaded and nothing changes.
//
// A thread made while the loader is busy waits for it: start this after whatever must not
// wait (the session bus connection and its thread).
#pragma once

#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kx {

class GraphicsDriverPreload {
public:
    GraphicsDriverPreload();
    // Waits for the load: the process must not end with the thread inside the driver.
    ~GraphicsDriverPreload();
    GraphicsDriverPreload(const GraphicsDriverPreload&) = delete;
    GraphicsDriverPreload& operator=(const GraphicsDriverPreload&) = delete;

    void wait();
    // After wait(): the libraries the load brought into the process, which stay in it.
    const std::vector<std::string>& keptLibraries() const { return kept_; }
    // The paths of the shared libraries in the process now.
    static std::set<std::string> loadedLibraries();

private:
    std::vector<std::string> kept_;
    std::thread thread_;
};

} // namespace kx
