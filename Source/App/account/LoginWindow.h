// The login window: the back end's login page of the current environment in a titleless
// window, its top strip dragging the window, the main menu's button at the strip's right
// end, a spinner over the page while a sign-in is checked, and a shake when an entry is
// refused. Links of the application's scheme ("korvel-x://...?fut=...") never leave it: the
// window's own navigation policy hands them to the login controller. In the enterprise
// edition without a known domain it shows the shipped page that asks for the domain.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <gtk/gtk.h>

#include "Platform/UI/Geometry.h"

namespace kx {

class WebViewController;

class LoginWindow {
public:
    struct Handlers {
        std::function<void(const std::string& url)> link;
        std::function<void(const std::string& domain)> enterpriseDomain;
    };

    // At 100 % text; the window grows with the desktop's text scale (the page zooms by it) and
    // shrinks to the work area.
    static constexpr int width = 440;
    static constexpr int height = 620;
    static constexpr int dragStripHeight = 48;
    static constexpr int spinnerSize = 32;

    explicit LoginWindow(Handlers handlers);
    ~LoginWindow();
    LoginWindow(const LoginWindow&) = delete;
    LoginWindow& operator=(const LoginWindow&) = delete;

    void loadURL(const std::string& url);
    void loadEnterprisePage();
    void show();
    void close();
    // Shown on screen (closing only hides it; the window lives as long as its owner).
    bool isVisible() const;
    bool isShaking() const;
    // Rejects an entry: the window moves left, right, left by a hundredth of its width.
    void shake();
    // The spinner over the page while a sign-in is checked.
    void setBusy(bool busy);
    bool isBusy() const;

    GtkWindow* window() const;
    WebViewController& webViewController() const { return *controller_; }

    struct Private;

private:
    void layout(double scale, Size size);
    void fitToScreen();

    std::unique_ptr<Private> d_;
    std::shared_ptr<WebViewController> controller_;
};

} // namespace kx
