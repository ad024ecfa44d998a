#include "App/welcome/WelcomeWindowController.h"

#include "App/web/WebViewController.h"
#include "Platform/Foundation/NotificationCenter.h"

namespace kx {

WelcomeWindowController& WelcomeWindowController::shared()
{
    static auto* controller = new WelcomeWindowController();
    return *controller;
}

WelcomeWindowController::WelcomeWindowController(std::function<std::unique_ptr<WelcomeWindow>()> makeWindow)
    : makeWindow_(makeWindow ? std::move(makeWindow) : [] { return std::make_unique<WelcomeWindow>(); })
{
}

WelcomeWindowController::~WelcomeWindowController() = default;

void WelcomeWindowController::loadWindow()
{
    if (window_)
        return;
    window_ = makeWindow_();
    window_->didClose = [this] { NotificationCenter::defaultCenter().post(windowDidCloseNotification, this); };
}

WebKitWebView* WelcomeWindowController::pageView() const
{
    return window_ ? window_->webViewController().webView().wkWebView() : nullptr;
}

WelcomeWindow& WelcomeWindowController::window()
{
    loadWindow();
    return *window_;
}

void WelcomeWindowController::showWindow(const void*)
{
    window().makeKeyAndOrderFront(); // reads the list anew
}

void WelcomeWindowController::reloadWindow()
{
    window().reloadRecentFiles();
}

void WelcomeWindowController::close()
{
    if (window_)
        window_->close();
}

bool WelcomeWindowController::isVisible() const
{
    return window_ && window_->isVisible();
}

bool WelcomeWindowController::shouldShowOnStartup(UserDefaults& defaults)
{
    const nlohmann::json value = defaults.objectForKey(WelcomeControllerConstants::WelcomeWindowShowOnStartup);
    if (value.is_number())
        return value.get<double>() != 0;
    if (value.is_boolean())
        return value.get<bool>();
    defaults.setBool(WelcomeControllerConstants::WelcomeWindowShowOnStartup, true);
    defaults.synchronize();
    return true;
}

} // namespace kx
