#include "Platform/UI/ResponderChain.h"

#include <algorithm>

#include "Platform/UI/NativeMenuItem.h"

namespace kx {

ResponderChain& ResponderChain::shared()
{
    static ResponderChain chain;
    return chain;
}

GtkWindow* ResponderChain::keyWindow() const
{
    GtkWindow* active = nullptr;
    if (gdk_display_get_default()) {
        GList* windows = gtk_window_list_toplevels();
        for (GList* node = windows; node; node = node->next) {
            auto* window = GTK_WINDOW(node->data);
            if (gtk_window_is_active(window) && gtk_window_get_window_type(window) == GTK_WINDOW_TOPLEVEL) {
                active = window;
                break;
            }
        }
        g_list_free(windows);
    }
    return active ? active : lastKeyWindow_;
}

void ResponderChain::trackWindow(GtkWindow* window)
{
    g_signal_connect(window, "notify::is-active", G_CALLBACK(&ResponderChain::windowActivityChanged), this);
    if (gtk_window_is_active(window))
        windowActivityChanged(window, nullptr, this);
}

void ResponderChain::windowActivityChanged(GtkWindow* window, GParamSpec*, gpointer data)
{
    auto* self = static_cast<ResponderChain*>(data);
    if (!gtk_window_is_active(window) || self->lastKeyWindow_ == window)
        return;
    if (self->lastKeyWindow_)
        g_object_remove_weak_pointer(G_OBJECT(self->lastKeyWindow_), reinterpret_cast<gpointer*>(&self->lastKeyWindow_));
    self->lastKeyWindow_ = window;
    g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&self->lastKeyWindow_));
}

void ResponderChain::setApplicationResponder(Responder* responder)
{
    application_ = responder ? responder->weakRef() : Responder::WeakRef();
}

std::vector<Responder*> ResponderChain::respondersFrom(GtkWidget* widget) const
{
    std::vector<Responder*> chain;
    auto add = [&chain](Responder* responder) {
        // Each responder with the links that follow it; a responder reached twice counts once.
        for (; responder; responder = responder->nextResponder()) {
            if (std::find(chain.begin(), chain.end(), responder) != chain.end())
                break;
            chain.push_back(responder);
        }
    };
    for (; widget; widget = gtk_widget_get_parent(widget))
        add(Responder::forWidget(widget));
    add(application_.get());
    return chain;
}

std::vector<Responder*> ResponderChain::responders() const
{
    GtkWidget* start = nullptr;
    if (GtkWindow* window = keyWindow()) {
        start = gtk_window_get_focus(window);
        if (!start)
            start = GTK_WIDGET(window);
    }
    return respondersFrom(start);
}

Responder* ResponderChain::targetForAction(const std::string& action) const
{
    if (action.empty())
        return nullptr;
    for (Responder* responder : responders()) {
        if (responder->respondsToAction(action))
            return responder;
    }
    return nullptr;
}

bool ResponderChain::sendAction(const std::string& action, Responder* target, Responder::Sender sender)
{
    if (!target)
        target = targetForAction(action);
    return target && target->tryToPerform(action, sender);
}

bool ResponderChain::validate(ValidatedUserInterfaceItem& item)
{
    if (item.action().empty())
        return false;
    Responder* target = nullptr;
    if (NativeMenuItem* menuItem = item.asMenuItem(); menuItem && menuItem->target()) {
        target = menuItem->target();
        if (!target->respondsToAction(item.action()))
            return false;
    } else {
        target = targetForAction(item.action());
    }
    return target && target->validateUserInterfaceItem(item);
}

bool ResponderChain::performKeyEquivalent(GtkWidget* widget, const KeyEvent& event)
{
    // Responders may go away while one of them handles the key: hold weak references.
    std::vector<Responder::WeakRef> chain;
    for (Responder* responder : respondersFrom(widget))
        chain.push_back(responder->weakRef());
    for (auto& ref : chain) {
        if (Responder* responder = ref.get(); responder && responder->performKeyEquivalent(event))
            return true;
    }
    return false;
}

} // namespace kx
