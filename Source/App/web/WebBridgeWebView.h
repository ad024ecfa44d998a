// The web view in which every hosted page runs. It owns its WebKitWebView and the view's own
// user content manager, so that script-message handlers and user scripts of one page never
// reach another.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

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

private:
    WebKitUserContentManager* userContentManager_;
    WebKitWebView* view_;
};

} // namespace kx::WebBridge
