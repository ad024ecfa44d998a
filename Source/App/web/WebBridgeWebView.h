// The web view in which every hosted page runs. It owns its WebKitWebView and the view's own
// user content manager, so that script-message handlers and user scripts of one page never
// reach another, and it carries the page's service connection: a channel on the
// "swiftWindowParent" handler, a manager with one router on it, the page's MenuActionTarget,
// and the native services it serves to the page (ColorSampler, ContextMenuPresenter, Beep).
// Owners register further services on the same manager and channel.
//
// It is also the responder of its widget for menu and edit actions: each is validated and
// performed by asking the page's MenuActionTarget, or by WebKit's own editing where the page
// defers, does not answer in time or offers no such service. An edit action that arrives
// while another waits for the page (a key repeat, a double press) cannot wait itself: it is
// never handed to WebKit for that, but performed in order once the wait is over. Main thread
// only.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "App/web/WebBridgeActionState.h"
#include "App/web/WebBridgeHybridAction.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/UI/NativeMenu.h"
#include "Platform/UI/Responder.h"
#include "Services/generated/MenuActionTarget.h"
#include "Services/runtime/ServiceManager.h"
#include "Services/runtime/channels/PostMessageChannel.h"

namespace kx {
class Beeper;
class WebBridgeContextMenuPresenter;
}

namespace kx::WebBridge {

class WebView : public Responder {
public:
    // `settings` nullptr means WebKit's defaults. Scripts never get the clipboard.
    // `relatedView`: a view whose web process this one shares instead of starting its own.
    explicit WebView(WebKitSettings* settings = nullptr, WebKitWebView* relatedView = nullptr);
    ~WebView() override;
    WebView(const WebView&) = delete;
    WebView& operator=(const WebView&) = delete;

    WebKitWebView* wkWebView() const { return view_.get(); }
    GtkWidget* widget() const { return GTK_WIDGET(view_.get()); }
    WebKitUserContentManager* userContentManager() const { return userContentManager_.get(); }
    WebKitSettings* settings() const { return webkit_web_view_get_settings(view_.get()); }

    const std::shared_ptr<PostMessageChannel>& serviceChannel() const { return serviceChannel_; }
    ServiceManager& serviceManager() const { return *serviceManager_; }
    // Fails at once with serviceNotFound until the page has announced its services.
    const std::shared_ptr<MenuActionTarget::Interface>& menuActionTarget() const { return menuActionTarget_; }

    // Menu and edit actions. An item asking about a hybrid action ("copy:") or a web action
    // ("performWebAction:" with the action's name as represented object) gets the page's
    // state: on (title and check mark as the page says), off, hidden, or native handling.
    bool validateUserInterfaceItem(ValidatedUserInterfaceItem& item) override;
    void performWebAction(Sender sender);
    void performHybridAction(const HybridAction& action, Sender sender);
    // What follows when the page could not perform an action it was asked to (it answered
    // false, or failed): a beep, unless the owner says more (why a paste brought nothing).
    void setActionFailureHandler(std::function<void(const std::string& action)> handler)
    {
        actionFailureHandler_ = std::move(handler);
    }

    // A menu that belongs to this web view opens: the first one asks the page for every state
    // at once, which validations read while any of its menus is open. The menu delegate
    // counts the closings; the answer goes with the last one.
    void menuWillOpen(NativeMenu& menu);
    void menuDidClose();

    // States the page gave while a menu of this view is open; absent otherwise.
    const std::optional<std::map<std::string, ActionState>>& validatedActionCache() const { return validatedActionCache_; }
    bool isPreparingValidatedActionCache() const { return isPreparingValidatedActionCache_; }
    int menuCount() const { return menuCount_; }

private:
    using ActionStates = std::map<std::string, ActionState>;
    static std::optional<std::string> webAction(Sender sender);
    void validateWebAction(const std::string& action, std::function<void(std::optional<ActionStates>)> completion);
    void dispatchWebAction(const std::string& action, std::function<void(Result<bool, ServiceError>)> completion);
    // The page's state for the action; none when it did not answer in time, or could not be
    // waited for because another wait spins.
    std::optional<ActionState> webActionState(const std::string& action);
    // An edit action, or the name of a web action.
    using DeferredAction = std::variant<HybridAction, std::string>;
    void deferAction(DeferredAction action);
    void performDeferredActions();
    void performHybridActionNow(const HybridAction& action);
    void dispatchWebActionNow(const std::string& action);
    bool validateNatively(const std::string& selector);
    void performNatively(const HybridAction& action);

    const std::shared_ptr<PostMessageChannel> serviceChannel_;
    const std::unique_ptr<ServiceManager> serviceManager_;
    const std::shared_ptr<MenuActionTarget::Interface> menuActionTarget_;
    const GObjectRef<WebKitUserContentManager> userContentManager_;
    GObjectRef<WebKitWebView> view_;
    std::shared_ptr<Beeper> beeper_;
    std::function<void(const std::string& action)> actionFailureHandler_;
    std::shared_ptr<WebBridgeContextMenuPresenter> contextMenuPresenter_;
    std::optional<ActionStates> validatedActionCache_;
    bool isPreparingValidatedActionCache_ = false;
    int menuCount_ = 0;
    // Actions that arrived inside a wait, in order.
    std::deque<DeferredAction> deferredActions_;
    bool deferredActionsScheduled_ = false;
};

} // namespace kx::WebBridge
