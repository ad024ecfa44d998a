// The web view of every hosted page: a mouse-down in the page never drags the window, it
// takes no keyboard focus while it or a container above it is hidden, and touchpad pinches
// become magnification events for the page.
#pragma once

#include "App/web/MagnificationTracker.h"
#include "App/web/WebBridgeWebView.h"
#include "Services/generated/GestureEventTarget.h"

namespace kx {

class MovableWKWebView : public WebBridge::WebView {
public:
    explicit MovableWKWebView(WebKitSettings* settings = nullptr);
    ~MovableWKWebView() override;

    bool mouseDownCanMoveWindow() const { return realMouseDownCanMoveWindow_; }
    // Takes the keyboard focus; false while the view is hidden or inside a hidden container.
    bool becomeFirstResponder();
    bool isHiddenOrHasHiddenAncestor() const;

    // The page's gesture service, on this view's router; made on first use.
    GestureEventTarget::Interface& gestureEventTarget();

private:
    void magnificationGesture(MagnificationTracker::Phase phase, double scale);

    const bool realMouseDownCanMoveWindow_ = false;
    GtkGesture* magnificationRecognizer_;
    MagnificationTracker magnification_;
    std::shared_ptr<GestureEventTarget::Interface> gestureEventTarget_;
};

} // namespace kx
