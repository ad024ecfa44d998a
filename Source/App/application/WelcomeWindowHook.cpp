#include "App/application/WelcomeWindowHook.h"

#include "App/welcome/RKAboutWindow.h"
#include "App/welcome/WelcomeWindow.h"
#include "App/welcome/WelcomeWindowController.h"
#include "Platform/Foundation/NotificationCenter.h"

namespace kx {

namespace {

std::function<void()>& didCloseHandler()
{
    static std::function<void()> handler;
    return handler;
}

// The controller says when its window has closed, however it was closed.
void observeClosing()
{
    static NotificationCenter::Token token = NotificationCenter::defaultCenter().addObserver(
        WelcomeWindowController::windowDidCloseNotification, &WelcomeWindowController::shared(),
        [](const Notification&) {
            if (didCloseHandler())
                didCloseHandler()();
        });
}

} // namespace

void WelcomeWindowHook::setUp()
{
    observeClosing();
    WelcomeWindowController::shared().loadWindow();
}

void WelcomeWindowHook::show()
{
    observeClosing();
    WelcomeWindowController::shared().showWindow();
}

void WelcomeWindowHook::close()
{
    WelcomeWindowController::shared().close();
}

bool WelcomeWindowHook::isVisible()
{
    return WelcomeWindowController::shared().isVisible();
}

GtkWindow* WelcomeWindowHook::window()
{
    auto& controller = WelcomeWindowController::shared();
    return controller.isWindowLoaded() ? controller.window().gtkWindow() : nullptr;
}

void WelcomeWindowHook::setWindowDidCloseHandler(std::function<void()> handler)
{
    didCloseHandler() = std::move(handler);
}

void WelcomeWindowHook::showAboutWindow()
{
    RKAboutWindow::sharedInstance().showWindow();
}

} // namespace kx
