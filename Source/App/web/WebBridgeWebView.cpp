#include "App/web/WebBridgeWebView.h"

namespace kx::WebBridge {

WebView::WebView(WebKitSettings* settings)
    : userContentManager_(webkit_user_content_manager_new())
{
    GObject* view = nullptr;
    if (settings) {
        view = G_OBJECT(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", userContentManager_, "settings",
                                     settings, nullptr));
    } else {
        view = G_OBJECT(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", userContentManager_, nullptr));
    }
    view_ = WEBKIT_WEB_VIEW(g_object_ref_sink(view));
    webkit_settings_set_javascript_can_access_clipboard(this->settings(), FALSE);
}

WebView::~WebView()
{
    // Takes the view out of whatever window holds it; the page goes with it.
    gtk_widget_destroy(GTK_WIDGET(view_));
    g_object_unref(view_);
    g_object_unref(userContentManager_);
}

} // namespace kx::WebBridge
