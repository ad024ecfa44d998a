#include "App/web/WebBridgeMenuDelegate.h"

#include "App/web/WebBridgeWebView.h"
#include "Platform/UI/ResponderChain.h"

namespace kx::WebBridge {

const std::shared_ptr<MenuDelegate>& menuDelegate()
{
    static const auto* delegate = new std::shared_ptr<MenuDelegate>(std::make_shared<MenuDelegate>());
    return *delegate;
}

void MenuDelegate::menuWillOpen(NativeMenu& menu)
{
    // The web view that would perform the menu's web actions: the focused one of the key window.
    auto* webView = dynamic_cast<WebView*>(ResponderChain::shared().targetForAction(selector));
    if (!webView)
        return;
    menuToWebViewMap_.insert_or_assign(&menu, webView->weakRef());
    webView->menuWillOpen(menu);
}

void MenuDelegate::menuDidClose(NativeMenu& menu)
{
    auto found = menuToWebViewMap_.find(&menu);
    if (found == menuToWebViewMap_.end())
        return;
    if (auto* webView = dynamic_cast<WebView*>(found->second.get()))
        webView->menuDidClose();
    menuToWebViewMap_.erase(found);
}

} // namespace kx::WebBridge
