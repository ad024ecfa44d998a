// The web view of every hosted page: a mouse-down in the page never drags the window, it
// takes no keyboard focus while it or a container above it is hidden, Tab enters and leaves
// the page as any other control of the window (PageFocusTraversal), and touchpad pinches
// become magnification events for the page, with the movement of the fingers' centre.
#pragma once

#include <memory>
#include <vector>

#include "App/web/MagnificationTracker.h"
#include "App/web/WebBridgeWebView.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Services/generated/GestureEventTarget.h"

namespace kx {

class PageFocusTraversal;

class MovableWKWebView : public WebBridge::WebView {
public:
    explicit MovableWKWebView(WebKitSettings* settings = nullptr, WebKitWebView* relatedView = nullptr);
    ~MovableWKWebView() override;

    bool mouseDownCanMoveWindow() const { return realMouseDownCanMoveWindow_; }
    // Takes the keyboard focus; false while the view is hidden or inside a hidden container.
    bool becomeFirstResponder();
    bool isHiddenOrHasHiddenAncestor() const;
    // Takes the keyboard focus and gives it to the page's first control (once it has one),
    // unless the page has focused one of its own.
    void focusFirstControl();

    // The page's gesture service, on this view's router; made on first use.
    GestureEventTarget::Interface& gestureEventTarget();

private:
    void magnificationGesture(MagnificationTracker::Phase phase, double scale);
    KorvelServices::Point lastCentreMovement() const;

    const bool realMouseDownCanMoveWindow_ = false;
    GObjectRef<GtkGesture> magnificationRecognizer_;
    MagnificationTracker magnification_;
    std::unique_ptr<PageFocusTraversal> focusTraversal_;
    std::shared_ptr<GestureEventTarget::Interface> gestureEventTarget_;
    std::vector<SignalConnection> connections_; // first to go
};

} // namespace kx
