#include "ScreenReader.h"

#include <atspi/atspi.h>

#include <functional>
#include <set>

namespace kxtest {

namespace {

std::string text(gchar* owned)
{
    std::string value = owned ? owned : "";
    g_free(owned);
    return value;
}

// Roles of what a person operates: each needs a name to be announced. (A menu is also the
// role of the list that a menu item pops up: a control only where it can be selected.)
bool isControl(AtspiRole role)
{
    static const std::set<AtspiRole> controls{
        ATSPI_ROLE_PUSH_BUTTON,    ATSPI_ROLE_TOGGLE_BUTTON, ATSPI_ROLE_PUSH_BUTTON_MENU, ATSPI_ROLE_CHECK_BOX,
        ATSPI_ROLE_RADIO_BUTTON,   ATSPI_ROLE_MENU_ITEM,     ATSPI_ROLE_CHECK_MENU_ITEM,  ATSPI_ROLE_RADIO_MENU_ITEM,
        ATSPI_ROLE_LIST_ITEM,     ATSPI_ROLE_LINK,             ATSPI_ROLE_COMBO_BOX,
        ATSPI_ROLE_SLIDER,         ATSPI_ROLE_SPIN_BUTTON,   ATSPI_ROLE_PAGE_TAB,         ATSPI_ROLE_TOGGLE_BUTTON,
    };
    return controls.contains(role);
}

bool isButton(AtspiRole role)
{
    return role == ATSPI_ROLE_PUSH_BUTTON || role == ATSPI_ROLE_TOGGLE_BUTTON || role == ATSPI_ROLE_PUSH_BUTTON_MENU;
}

// Whether a screen reader can press `node`: it offers an action.
bool pressable(AtspiAccessible* node)
{
    AtspiAction* action = atspi_accessible_get_action_iface(node);
    const bool offers = action && atspi_action_get_n_actions(action, nullptr) > 0;
    if (action)
        g_object_unref(action);
    return offers;
}

// Roles that say nothing of what an object does: a focusable one is a control without a role.
bool saysNothing(AtspiRole role)
{
    return role == ATSPI_ROLE_INVALID || role == ATSPI_ROLE_UNKNOWN || role == ATSPI_ROLE_DRAWING_AREA
           || role == ATSPI_ROLE_FILLER || role == ATSPI_ROLE_PANEL || role == ATSPI_ROLE_CANVAS;
}

// The application object of process `pid` on the desktop, with a reference, or nullptr.
AtspiAccessible* applicationOf(pid_t pid)
{
    AtspiAccessible* desktop = atspi_get_desktop(0);
    AtspiAccessible* found = nullptr;
    const int count = atspi_accessible_get_child_count(desktop, nullptr);
    for (int i = 0; i < count && !found; ++i) {
        AtspiAccessible* application = atspi_accessible_get_child_at_index(desktop, i, nullptr);
        if (!application)
            continue;
        if (pid_t(atspi_accessible_get_process_id(application, nullptr)) == pid)
            found = application;
        else
            g_object_unref(application);
    }
    g_object_unref(desktop);
    return found;
}

bool isShowing(AtspiAccessible* node)
{
    AtspiStateSet* states = atspi_accessible_get_state_set(node);
    const bool showing = states && atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
    if (states)
        g_object_unref(states);
    return showing;
}

// Calls `visit` with each top-level window of `pid` that is on screen.
void forEachWindow(pid_t pid, const std::function<void(AtspiAccessible*)>& visit)
{
    AtspiAccessible* application = applicationOf(pid);
    if (!application)
        return;
    const int count = atspi_accessible_get_child_count(application, nullptr);
    for (int i = 0; i < count; ++i) {
        AtspiAccessible* window = atspi_accessible_get_child_at_index(application, i, nullptr);
        if (!window)
            continue;
        if (isShowing(window))
            visit(window);
        g_object_unref(window);
    }
    g_object_unref(application);
}

} // namespace

ScreenReader::ScreenReader()
{
    // 0: initialised now; 1: already (by an earlier reader of this process).
    const int initialised = atspi_init();
    connected_ = initialised == 0 || initialised == 1;
    if (!connected_)
        return;
    auto* listener = atspi_event_listener_new(
        [](AtspiEvent* event, void* data) {
            auto* self = static_cast<ScreenReader*>(data);
            if (event->detail1 == 1 && event->source) {
                // Each question below turns the main loop while it waits, where the next event
                // may be heard to its end first (a page's control, announced by its own process
                // right after its view): the later event is the focus.
                const int heard = ++self->focusChanges_;
                Focus focus{text(atspi_accessible_get_name(event->source, nullptr)),
                            text(atspi_accessible_get_role_name(event->source, nullptr)), ""};
                AtspiAccessible* application = atspi_accessible_get_application(event->source, nullptr);
                focus.application = application ? text(atspi_accessible_get_name(application, nullptr)) : "";
                if (application)
                    g_object_unref(application);
                const auto now = std::chrono::steady_clock::now();
                if (heard > self->focusApplied_) {
                    if (self->previousSource_)
                        g_object_unref(self->previousSource_);
                    self->previousSource_ = self->source_;
                    self->previous_ = std::move(self->focus_);
                    self->previousApplied_ = self->focusApplied_;
                    self->focusApplied_ = heard;
                    self->source_ = g_object_ref(event->source);
                    self->focus_ = std::move(focus);
                } else if (heard > self->previousApplied_) {
                    // Heard before the focus but answered after it: what held the focus before.
                    if (self->previousSource_)
                        g_object_unref(self->previousSource_);
                    self->previousSource_ = g_object_ref(event->source);
                    self->previous_ = std::move(focus);
                    self->previousApplied_ = heard;
                }
                self->previousHeard_ = self->lastFocusChange_;
                self->lastFocusChange_ = now;
            }
            g_boxed_free(ATSPI_TYPE_EVENT, event);
        },
        this, nullptr);
    GError* error = nullptr;
    connected_ = atspi_event_listener_register(listener, "object:state-changed:focused", &error);
    if (error)
        g_error_free(error);
    listener_ = listener;
}

ScreenReader::~ScreenReader()
{
    for (void* source : {source_, previousSource_}) {
        if (source)
            g_object_unref(source);
    }
    if (auto* listener = static_cast<AtspiEventListener*>(listener_)) {
        atspi_event_listener_deregister(listener, "object:state-changed:focused", nullptr);
        g_object_unref(listener);
    }
}

const ScreenReader::Focus& ScreenReader::focus() const
{
    if (!focus_.name.empty() || previous_.name.empty() || !previousSource_ || previousApplied_ + 1 != focusApplied_
        || lastFocusChange_ - previousHeard_ > std::chrono::seconds(1))
        return focus_;
    AtspiStateSet* states = atspi_accessible_get_state_set(static_cast<AtspiAccessible*>(previousSource_));
    const bool held = states && atspi_state_set_contains(states, ATSPI_STATE_FOCUSED);
    if (states)
        g_object_unref(states);
    return held ? previous_ : focus_;
}

std::vector<std::string> ScreenReader::windows(pid_t pid) const
{
    std::vector<std::string> titles;
    forEachWindow(pid, [&](AtspiAccessible* window) { titles.push_back(text(atspi_accessible_get_name(window, nullptr))); });
    return titles;
}

std::vector<ScreenReader::Control> ScreenReader::controls(pid_t pid) const
{
    std::vector<Control> found;
    forEachWindow(pid, [&](AtspiAccessible* window) {
        std::string title = text(atspi_accessible_get_name(window, nullptr));
        if (title.empty())
            title = "(" + text(atspi_accessible_get_role_name(window, nullptr)) + ")";
        int visited = 0;
        std::function<void(AtspiAccessible*, int)> walk = [&](AtspiAccessible* node, int depth) {
            if (depth > 80 || ++visited > 5000 || !isShowing(node))
                return;
            // A page in a web view is the web process's tree, another program.
            if (pid_t(atspi_accessible_get_process_id(node, nullptr)) != pid)
                return;
            const AtspiRole role = atspi_accessible_get_role(node, nullptr);
            AtspiStateSet* states = atspi_accessible_get_state_set(node);
            const bool focusable = states && atspi_state_set_contains(states, ATSPI_STATE_FOCUSABLE);
            const int count = atspi_accessible_get_child_count(node, nullptr);
            // The web view itself stands for its page, which its process announces.
            bool hostsPage = false;
            for (int i = 0; i < count && !hostsPage; ++i) {
                if (AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, nullptr)) {
                    hostsPage = pid_t(atspi_accessible_get_process_id(child, nullptr)) != pid;
                    g_object_unref(child);
                }
            }
            const bool selectable = states && atspi_state_set_contains(states, ATSPI_STATE_SELECTABLE);
            if (states)
                g_object_unref(states);
            const bool control = isControl(role) || (role == ATSPI_ROLE_MENU && selectable);
            if (control || (focusable && !hostsPage)) {
                Control entry{title, text(atspi_accessible_get_role_name(node, nullptr)),
                              text(atspi_accessible_get_name(node, nullptr)), {}};
                if (saysNothing(role))
                    entry.fault = "no role";
                else if (control && entry.name.empty())
                    entry.fault = "no name";
                else if (isButton(role) && !pressable(node))
                    entry.fault = "no action";
                found.push_back(std::move(entry));
            }
            for (int i = 0; i < count; ++i) {
                if (AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, nullptr)) {
                    walk(child, depth + 1);
                    g_object_unref(child);
                }
            }
        };
        walk(window, 0);
    });
    return found;
}

} // namespace kxtest
