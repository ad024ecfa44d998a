// What a web view needs beyond WebKit's everyday interface: rubber-band scrolling switched on
// or off, and the Web Inspector shown attached to the window or in a window of its own.
// Main thread only.
#pragma once

#include <chrono>
#include <functional>

#include "Platform/UI/Geometry.h"

typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitWebInspector WebKitWebInspector;

namespace kx {

class WKWebViewExtras {
public:
    enum class ScrollElasticity { automatic = 0, none = 1, allowed = 2 };

    // Rubber-banding is on unless switched off; off, the page's root does not overscroll.
    static ScrollElasticity scrollElasticity(WebKitWebView* view);
    // Every value but none switches rubber-banding on in both directions.
    static void setScrollElasticity(WebKitWebView* view, ScrollElasticity elasticity);

    static WebKitWebInspector* wkInspector(WebKitWebView* view);
    static bool isInspectorShown(WebKitWebView* view);
    static bool isInspectorAttached(WebKitWebView* view);

    // Shows the inspector, attached when asked and the view is large enough, else detached in
    // front of the view's window. The completion is called once, possibly after the call
    // returned (attaching is retried every 10 ms for 0.1 s).
    static void showInspectorAttached(WebKitWebView* view, bool attach, std::function<void()> completionHandler);
    using Deadline = std::chrono::steady_clock::time_point;
    static void waitWhileInspectorAttaches(WebKitWebView* view, Deadline before, std::function<void()> completionHandler);
    static void closeInspector(WebKitWebView* view);

    static bool canAttachInspector(WebKitWebView* view);
    // The attach test on a view's size: wide enough, and three quarters of its height leave
    // room for the inspector.
    static bool canAttachInspector(Size frame);
    static Size minimumSizeToAttachInspector() { return {500.0, 334.0}; }
};

} // namespace kx
