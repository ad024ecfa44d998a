#include "App/web/PageFocusTraversal.h"

#include <utility>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/MainQueue.h"

namespace kx {

namespace {

bool isTab(guint keyval)
{
    return keyval == GDK_KEY_Tab || keyval == GDK_KEY_ISO_Left_Tab || keyval == GDK_KEY_KP_Tab;
}

// A world of its own: what the page changes of the DOM's prototypes does not reach the script.
constexpr const char* scriptWorld = "kx-focus-traversal";

} // namespace

PageFocusTraversal::PageFocusTraversal(WebKitWebView* view)
    : view_(view)
{
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GtkDirectionType)>(
        view, "focus", [this](GtkWidget*, GtkDirectionType direction) -> gboolean { return focus(direction); }));
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventKey*)>(
        view, "key-press-event", [this](GtkWidget*, GdkEventKey* event) -> gboolean {
            lastKeyTime_ = event->time;
            return FALSE;
        }));
    connections_.push_back(SignalConnection::connect<void(GtkWidget*, GtkWidget*)>(
        view, "hierarchy-changed", [this](GtkWidget*, GtkWidget*) { toplevelChanged(); }));
    toplevelChanged();
}

std::string PageFocusTraversal::edgeScript(bool forward, bool unlessFocused)
{
    return std::string("const forward = ") + (forward ? "true" : "false") + ", unlessFocused = "
           + (unlessFocused ? "true" : "false") + ";"
           R"(
// A control focused while the page does not know it has the focus is announced to no one
// (a window not yet active, a busy machine): it takes the focus again once the page has it.
const announced = control => {
    if (!document.hasFocus())
        window.addEventListener('focus', () => {
            if (document.activeElement === control) {
                control.blur();
                control.focus({ focusVisible: true });
            }
        }, { once: true });
    return true;
};
const focusEdge = () => {
    const active = document.activeElement;
    if (unlessFocused && active && active !== document.body && active !== document.documentElement)
        return announced(active);
    const found = [];
    for (const element of document.querySelectorAll('a[href], area[href], button, input, select, textarea, iframe, summary, [tabindex], [contenteditable]')) {
        if (element.tabIndex < 0 || element.disabled || element.type === 'hidden' || element.closest('[inert]')
            || !element.getClientRects().length || getComputedStyle(element).visibility !== 'visible')
            continue;
        found.push(element);
    }
    const ordered = found.filter(e => e.tabIndex > 0).sort((a, b) => a.tabIndex - b.tabIndex).concat(found.filter(e => e.tabIndex === 0));
    const target = forward ? ordered[0] : ordered[ordered.length - 1];
    if (!target)
        return false;
    target.focus({ focusVisible: true });
    return document.activeElement === target && announced(target);
};
// A page that is given the keys as it opens may enable its controls only once its document
// has loaded: its first control as it comes, unless something in it has taken the focus.
const focusWhenThere = () => {
    const focused = focusEdge();
    if (focused || !unlessFocused)
        return focused;
    return new Promise(resolve => {
        const observer = new MutationObserver(() => {
            if (focusEdge())
                finish(true);
        });
        const finish = focused => { observer.disconnect(); clearTimeout(timer); resolve(focused); };
        const timer = setTimeout(() => finish(false), )" + std::to_string(controlWait.count()) + R"();
        observer.observe(document, { subtree: true, childList: true, attributes: true });
    });
};
if (document.hasFocus())
    return focusWhenThere();
// Once the page knows it has the focus: a screen reader hears the page take it before the control.
return new Promise(resolve => {
    const finish = () => { clearTimeout(timer); resolve(focusWhenThere()); };
    const timer = setTimeout(finish, 1000);
    window.addEventListener('focus', () => setTimeout(finish, 0), { once: true });
});)";
}

void PageFocusTraversal::focusFirstControl()
{
    enter(Entry::first);
}

bool PageFocusTraversal::enter(Entry entry)
{
    GtkWidget* widget = GTK_WIDGET(view_);
    if (gtk_widget_is_focus(widget)) {
        focusEdge(entry);
        return true;
    }
    // The page's control takes the focus once GTK has told assistive technology that the view
    // has it (GTK does so on idle), so that what a screen reader hears last is the control.
    viewAnnounced_ = SignalConnection::connect<void(AtkObject*, gchar*, gboolean)>(
        gtk_widget_get_accessible(widget), "state-change::focused", [this, entry](AtkObject*, gchar*, gboolean focused) {
            if (focused && std::exchange(awaitingAnnouncement_, false))
                focusEdge(entry);
        });
    awaitingAnnouncement_ = true;
    gtk_widget_grab_focus(widget);
    if (!gtk_widget_is_focus(widget)) {
        awaitingAnnouncement_ = false;
        viewAnnounced_.disconnect();
        return false;
    }
    // Without an announcement (nothing of GTK's accessibility listens) the page gets it anyway.
    MainQueue::after(announcementWait, [this, alive = std::weak_ptr<int>(alive_), entry, entering = ++entries_] {
        if (!alive.expired() && entering == entries_ && std::exchange(awaitingAnnouncement_, false))
            focusEdge(entry);
    });
    return true;
}

bool PageFocusTraversal::focus(GtkDirectionType direction)
{
    if (direction != GTK_DIR_TAB_FORWARD && direction != GTK_DIR_TAB_BACKWARD)
        return false;
    GtkWidget* widget = GTK_WIDGET(view_);
    if (gtk_widget_is_focus(widget)) {
        // On its way out: the page has handed the focus back, or GTK moves it on.
        leftWithKey_ = lastKeyTime_;
        return false;
    }
    if (passingOn_ || !gtk_widget_get_can_focus(widget) || !gtk_widget_is_sensitive(widget))
        return false;
    return enter(direction == GTK_DIR_TAB_FORWARD ? Entry::tab : Entry::shiftTab);
}

void PageFocusTraversal::focusEdge(Entry entry)
{
    // On a turn of its own: the announcement that calls this goes out first.
    MainQueue::whenIdle([this, alive = std::weak_ptr<int>(alive_), entry] {
        if (alive.expired() || !gtk_widget_is_focus(GTK_WIDGET(view_)))
            return;
        viewAnnounced_.disconnect();
        struct Pending {
            PageFocusTraversal* self;
            std::weak_ptr<int> alive;
            Entry entry;
        };
        const std::string script = edgeScript(entry != Entry::shiftTab, entry == Entry::first);
        webkit_web_view_call_async_javascript_function(
            view_, script.data(), gssize(script.size()), nullptr, scriptWorld, nullptr, nullptr,
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
                GError* error = nullptr;
                const auto value = GObjectRef<JSCValue>::adopt(
                    webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error));
                g_clear_error(&error);
                const bool focused = value && jsc_value_is_boolean(value.get()) && jsc_value_to_boolean(value.get());
                if (!pending->alive.expired())
                    pending->self->entered(pending->entry, focused);
            },
            new Pending{this, alive_, entry});
    });
}

void PageFocusTraversal::entered(Entry entry, bool focused)
{
    GtkWidget* widget = GTK_WIDGET(view_);
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
    // Tab passes a page with nothing to focus (one still loading, or without controls) by.
    if (focused || entry == Entry::first || !gtk_widget_is_focus(widget) || !GTK_IS_WINDOW(toplevel))
        return;
    passingOn_ = true;
    g_signal_emit_by_name(toplevel, "move-focus", entry == Entry::tab ? GTK_DIR_TAB_FORWARD : GTK_DIR_TAB_BACKWARD);
    passingOn_ = false;
}

void PageFocusTraversal::toplevelChanged()
{
    toplevelKeys_.disconnect();
    GtkWidget* toplevel = gtk_widget_get_toplevel(GTK_WIDGET(view_));
    if (GTK_IS_WINDOW(toplevel))
        toplevelKeys_ = SignalConnection::connect<gboolean(GtkWidget*, GdkEventKey*)>(
            toplevel, "key-press-event",
            [this](GtkWidget*, GdkEventKey* event) -> gboolean { return toplevelKeyPressed(event); });
}

bool PageFocusTraversal::toplevelKeyPressed(GdkEventKey* event)
{
    if (!leftWithKey_ || *leftWithKey_ != event->time)
        return false;
    leftWithKey_.reset();
    GtkWidget* widget = GTK_WIDGET(view_);
    if (!isTab(event->keyval) || gtk_widget_is_focus(widget))
        return false;
    // WebKit's copy of the Tab that has already taken the focus out of the page: back to the
    // view, which waits for it before the page gets keys again, not on to the window.
    gtk_widget_event(widget, reinterpret_cast<GdkEvent*>(event));
    return true;
}

} // namespace kx
