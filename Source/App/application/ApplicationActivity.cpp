#include "App/application/ApplicationActivity.h"

#include "Platform/Foundation/MainQueue.h"
#include "Platform/UI/Window.h"

namespace kx {

namespace {

struct State {
    bool started = false;
    bool wasActive = false;
    bool checkPending = false;
    std::function<void()> didResignActive;
    std::function<void(GtkWindow*)> windowDidBecomeActive;
};

State& state()
{
    static State state;
    return state;
}

void checkActivity()
{
    state().checkPending = false;
    const bool active = ApplicationActivity::isActive();
    const bool resigned = state().wasActive && !active;
    state().wasActive = active;
    if (resigned && state().didResignActive)
        state().didResignActive();
}

gboolean focusChanged(GSignalInvocationHint* hint, guint, const GValue* values, gpointer)
{
    GObject* instance = static_cast<GObject*>(g_value_get_object(&values[0]));
    if (!GTK_IS_WINDOW(instance) || gtk_window_get_window_type(GTK_WINDOW(instance)) != GTK_WINDOW_TOPLEVEL)
        return TRUE;
    static const guint focusIn = g_signal_lookup("focus-in-event", GTK_TYPE_WIDGET);
    if (hint->signal_id == focusIn) {
        state().wasActive = true;
        if (state().windowDidBecomeActive)
            state().windowDidBecomeActive(GTK_WINDOW(instance));
    } else if (!state().checkPending) {
        state().checkPending = true;
        MainQueue::whenIdle(checkActivity);
    }
    return TRUE; // stay installed
}

} // namespace

void ApplicationActivity::start(std::function<void()> didResignActive, std::function<void(GtkWindow*)> windowDidBecomeActive)
{
    state().didResignActive = std::move(didResignActive);
    state().windowDidBecomeActive = std::move(windowDidBecomeActive);
    if (state().started)
        return;
    state().started = true;
    state().wasActive = isActive();
    g_signal_add_emission_hook(g_signal_lookup("focus-in-event", GTK_TYPE_WIDGET), 0, focusChanged, nullptr, nullptr);
    g_signal_add_emission_hook(g_signal_lookup("focus-out-event", GTK_TYPE_WIDGET), 0, focusChanged, nullptr, nullptr);
    // A window that goes while it has the focus may never hear that it lost it.
    g_signal_add_emission_hook(g_signal_lookup("unmap", GTK_TYPE_WIDGET), 0, focusChanged, nullptr, nullptr);
}

bool ApplicationActivity::isActive()
{
    return Window::isAnyWindowActive();
}

} // namespace kx
