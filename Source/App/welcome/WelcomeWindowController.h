// The owner of the start window: the application object loads it at launch when a user is
// signed in and shows it when no document is open; the document controller shows it when the
// last document closes (when `shouldShowOnStartup`) and closes it when a document opens.
//
// After the window has closed, the default notification centre posts
// `windowDidCloseNotification` with the controller as sender (the application quits when
// nothing else is on screen). Main thread only.
#pragma once

#include <functional>
#include <memory>

#include <webkit2/webkit2.h>

#include "App/welcome/WelcomeWindow.h"
#include "Platform/Foundation/UserDefaults.h"

namespace kx {

namespace WelcomeControllerConstants {
inline constexpr const char* WelcomeWindowShowOnStartup = "WelcomeWindowShowOnStartup";
}

class WelcomeWindowController {
public:
    static constexpr const char* windowDidCloseNotification = "WelcomeWindowControllerWindowDidClose";

    // The process's controller, made on first use and kept until the process ends.
    static WelcomeWindowController& shared();
    // `makeWindow` builds the window when it is first needed (tests give their own).
    explicit WelcomeWindowController(std::function<std::unique_ptr<WelcomeWindow>()> makeWindow = {});
    ~WelcomeWindowController();
    WelcomeWindowController(const WelcomeWindowController&) = delete;
    WelcomeWindowController& operator=(const WelcomeWindowController&) = delete;

    // Builds the window (and loads its page) without showing it; once.
    void loadWindow();
    bool isWindowLoaded() const { return window_ != nullptr; }
    // The start page's web view once the window is built, else null. Hidden pages may share
    // its web process.
    WebKitWebView* pageView() const;
    // The window, built when needed.
    WelcomeWindow& window();

    // Refreshes the recent documents and shows the window in front.
    void showWindow(const void* sender = nullptr);
    // The same refresh, the window left where it is.
    void reloadWindow();
    void close();
    bool isVisible() const;

    // Whether the start window comes back when the last document closes: the user default
    // "WelcomeWindowShowOnStartup"; when it holds no number, true is stored and answered.
    static bool shouldShowOnStartup(UserDefaults& defaults = UserDefaults::standard());

private:
    std::function<std::unique_ptr<WelcomeWindow>()> makeWindow_;
    std::unique_ptr<WelcomeWindow> window_;
};

} // namespace kx
