#include "App/web/WebBridgeWebView.h"

#include "App/web/Beeper.h"
#include "App/web/RKColorSampler.h"
#include "App/web/WebBridgeContextMenuPresenter.h"
#include "Services/generated/Beep.h"
#include "Services/generated/ColorSampler.h"
#include "Services/generated/ContextMenuPresenter.h"

namespace kx::WebBridge {

WebView::WebView(WebKitSettings* settings, WebKitWebView* relatedView)
    : serviceChannel_(PostMessageChannel::make())
    , serviceManager_(std::make_unique<ServiceManager>(std::make_shared<const ServiceDebugging::Logger>("📮")))
    , menuActionTarget_(serviceManager_->addRouter(serviceChannel_)->expect(MenuActionTarget::service()))
    , userContentManager_(GObjectRef<WebKitUserContentManager>::adopt(webkit_user_content_manager_new()))
{
    GObject* view = nullptr;
    if (settings) {
        view = G_OBJECT(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", userContentManager_.get(),
                                     "settings", settings, "related-view", relatedView, nullptr));
    } else {
        view = G_OBJECT(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", userContentManager_.get(),
                                     "related-view", relatedView, nullptr));
    }
    view_ = GObjectRef<WebKitWebView>::sink(WEBKIT_WEB_VIEW(view));
    webkit_settings_set_javascript_can_access_clipboard(this->settings(), FALSE);

    // From here on the page's service messages reach the router; when the view goes, whatever
    // its page left unanswered fails.
    serviceChannel_->setWebView(view_.get());
    serviceManager_->registerService(ColorSampler::service(), serviceChannel_, RKColorSampler::shared());
    contextMenuPresenter_ = std::make_shared<WebBridgeContextMenuPresenter>(widget());
    serviceManager_->registerService(ContextMenuPresenter::service(), serviceChannel_, contextMenuPresenter_);
    beeper_ = std::make_shared<Beeper>();
    serviceManager_->registerService(Beep::service(), serviceChannel_, beeper_);

    // The responder of the view's widget: menu and edit actions find it through the focus.
    attachToWidget(widget());
    addAction(selector, [this](Sender sender) { performWebAction(sender); });
    for (const auto& entry : roleToHybridActionMap()) {
        const HybridAction action = entry.second; // clang cannot capture a structured binding
        addAction(action.nativeSelector, [this, action](Sender sender) { performHybridAction(action, sender); });
    }
}

WebView::~WebView()
{
    attachToWidget(nullptr);
    // Takes the view out of whatever window holds it; the page and its handlers go with it.
    gtk_widget_destroy(widget());
}

} // namespace kx::WebBridge
