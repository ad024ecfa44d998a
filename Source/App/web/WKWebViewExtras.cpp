#include "App/web/WKWebViewExtras.h"

#include <string>

#include <webkit2/webkit2.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/WeakObject.h"

namespace kx {

namespace {

constexpr auto attachDeadline = std::chrono::milliseconds(100);
constexpr auto attachPollInterval = std::chrono::milliseconds(10);

// Rubber-banding of one view: its two switches and the style sheet that holds the page's
// root in place while they are off.
struct RubberBanding {
    bool horizontal = true;
    bool vertical = true;
    GObjectRef<WebKitUserContentManager> manager;
    WebKitUserStyleSheet* sheet = nullptr;

    ~RubberBanding() { removeSheet(); }

    void removeSheet()
    {
        if (sheet) {
            webkit_user_content_manager_remove_style_sheet(manager.get(), sheet);
            webkit_user_style_sheet_unref(sheet);
            sheet = nullptr;
        }
        manager.reset();
    }

    void apply(WebKitWebView* view)
    {
        removeSheet();
        if (horizontal && vertical)
            return;
        std::string css = ":root {";
        if (!horizontal)
            css += " overscroll-behavior-x: none !important;";
        if (!vertical)
            css += " overscroll-behavior-y: none !important;";
        css += " }";
        manager = GObjectRef<WebKitUserContentManager>::retain(webkit_web_view_get_user_content_manager(view));
        sheet = webkit_user_style_sheet_new(css.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                            WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr);
        webkit_user_content_manager_add_style_sheet(manager.get(), sheet);
    }
};

constexpr const char* rubberBandingKey = "kx-rubber-banding";

RubberBanding& rubberBanding(WebKitWebView* view)
{
    auto* state = static_cast<RubberBanding*>(g_object_get_data(G_OBJECT(view), rubberBandingKey));
    if (!state) {
        state = new RubberBanding();
        g_object_set_data_full(G_OBJECT(view), rubberBandingKey, state,
                               [](gpointer data) { delete static_cast<RubberBanding*>(data); });
    }
    return *state;
}

GtkWindow* windowOf(WebKitWebView* view)
{
    GtkWidget* toplevel = gtk_widget_get_toplevel(GTK_WIDGET(view));
    return GTK_IS_WINDOW(toplevel) && gtk_widget_is_toplevel(toplevel) ? GTK_WINDOW(toplevel) : nullptr;
}

void bringWindowToFront(WebKitWebView* view)
{
    if (GtkWindow* window = windowOf(view))
        gtk_window_present(window);
}

} // namespace

WKWebViewExtras::ScrollElasticity WKWebViewExtras::scrollElasticity(WebKitWebView* view)
{
    if (!view)
        return ScrollElasticity::none;
    const RubberBanding& state = rubberBanding(view);
    return state.horizontal || state.vertical ? ScrollElasticity::allowed : ScrollElasticity::none;
}

void WKWebViewExtras::setScrollElasticity(WebKitWebView* view, ScrollElasticity elasticity)
{
    if (!view)
        return;
    RubberBanding& state = rubberBanding(view);
    const bool enabled = elasticity != ScrollElasticity::none;
    state.vertical = enabled;
    state.horizontal = enabled;
    state.apply(view);
}

WebKitWebInspector* WKWebViewExtras::wkInspector(WebKitWebView* view)
{
    return view ? webkit_web_view_get_inspector(view) : nullptr;
}

bool WKWebViewExtras::isInspectorShown(WebKitWebView* view)
{
    WebKitWebInspector* inspector = wkInspector(view);
    // The inspector's own page exists only while it is open.
    return inspector && webkit_web_inspector_get_web_view(inspector);
}

bool WKWebViewExtras::isInspectorAttached(WebKitWebView* view)
{
    return isInspectorShown(view) && webkit_web_inspector_is_attached(wkInspector(view));
}

void WKWebViewExtras::showInspectorAttached(WebKitWebView* view, bool attach, std::function<void()> completionHandler)
{
    WebKitWebInspector* inspector = wkInspector(view);
    if (!inspector) {
        if (completionHandler)
            completionHandler();
        return;
    }
    if (attach && canAttachInspector(view)) {
        waitWhileInspectorAttaches(view, std::chrono::steady_clock::now() + attachDeadline, std::move(completionHandler));
        return;
    }
    bringWindowToFront(view);
    webkit_web_inspector_detach(inspector);
    webkit_web_inspector_show(inspector);
    if (completionHandler)
        completionHandler();
}

void WKWebViewExtras::waitWhileInspectorAttaches(WebKitWebView* view, Deadline before,
                                                 std::function<void()> completionHandler)
{
    WebKitWebInspector* inspector = wkInspector(view);
    if (!inspector) {
        if (completionHandler)
            completionHandler();
        return;
    }
    if (!webkit_web_inspector_is_attached(inspector) && std::chrono::steady_clock::now() <= before) {
        webkit_web_inspector_attach(inspector);
        // The view may be gone by the next try; the completion is still called, once.
        MainQueue::after(attachPollInterval, [weak = WeakObject<WebKitWebView>(view), before,
                                              completionHandler = std::move(completionHandler)]() mutable {
            auto strong = weak.lock();
            if (!strong) {
                if (completionHandler)
                    completionHandler();
                return;
            }
            waitWhileInspectorAttaches(strong.get(), before, std::move(completionHandler));
        });
        return;
    }
    webkit_web_inspector_show(inspector);
    GtkWindow* window = windowOf(view);
    if (window && !gtk_widget_get_visible(GTK_WIDGET(window)))
        gtk_window_present(window);
    if (completionHandler)
        completionHandler();
}

void WKWebViewExtras::closeInspector(WebKitWebView* view)
{
    if (WebKitWebInspector* inspector = wkInspector(view))
        webkit_web_inspector_close(inspector);
}

bool WKWebViewExtras::canAttachInspector(WebKitWebView* view)
{
    WebKitWebInspector* inspector = wkInspector(view);
    if (!inspector)
        return false;
    if (webkit_web_inspector_is_attached(inspector))
        return true;
    return canAttachInspector(Size{static_cast<double>(gtk_widget_get_allocated_width(GTK_WIDGET(view))),
                                   static_cast<double>(gtk_widget_get_allocated_height(GTK_WIDGET(view)))});
}

bool WKWebViewExtras::canAttachInspector(Size frame)
{
    // The product is compared in single precision, as the limit was always computed.
    return frame.width >= minimumSizeToAttachInspector().width && static_cast<float>(frame.height * 0.75) >= 250.0f;
}

} // namespace kx
