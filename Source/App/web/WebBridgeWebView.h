// The web view in which every hosted page runs. It owns its WebKitWebView and the view's own
// user content manager, so that script-message handlers and user scripts of one page never
// reach another, and it carries the page's service connection: a channel on the
// "swiftWindowParent" handler, a manager with one router on it, the page's MenuActionTarget,
// and the native services it serves to the page (ColorSampler, Beep). Owners register further
// services on the same manager and channel. Main thread only.
#pragma once

#include <memory>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "Services/generated/MenuActionTarget.h"
#include "Services/runtime/ServiceManager.h"
#include "Services/runtime/channels/PostMessageChannel.h"

namespace kx {
class Beeper;
}

namespace kx::WebBridge {

class WebView {
public:
    // `settings` nullptr means WebKit's defaults. Scripts never get the clipboard.
    explicit WebView(WebKitSettings* settings = nullptr);
    virtual ~WebView();
    WebView(const WebView&) = delete;
    WebView& operator=(const WebView&) = delete;

    WebKitWebView* wkWebView() const { return view_; }
    GtkWidget* widget() const { return GTK_WIDGET(view_); }
    WebKitUserContentManager* userContentManager() const { return userContentManager_; }
    WebKitSettings* settings() const { return webkit_web_view_get_settings(view_); }

    const std::shared_ptr<PostMessageChannel>& serviceChannel() const { return serviceChannel_; }
    ServiceManager& serviceManager() const { return *serviceManager_; }
    // Fails at once with serviceNotFound until the page has announced its services.
    const std::shared_ptr<MenuActionTarget::Interface>& menuActionTarget() const { return menuActionTarget_; }

private:
    const std::shared_ptr<PostMessageChannel> serviceChannel_;
    const std::unique_ptr<ServiceManager> serviceManager_;
    const std::shared_ptr<MenuActionTarget::Interface> menuActionTarget_;
    WebKitUserContentManager* userContentManager_;
    WebKitWebView* view_;
    std::shared_ptr<Beeper> beeper_;
};

} // namespace kx::WebBridge
