#include "Platform/UI/Responder.h"

namespace kx {

namespace {
constexpr const char* responderKey = "kx-responder";
}

Responder* Responder::WeakRef::get() const
{
    auto self = ref_.lock();
    return self ? *self : nullptr;
}

Responder::Responder()
    : self_(std::make_shared<Responder*>(this))
{
}

Responder::~Responder()
{
    attachToWidget(nullptr);
}

Responder::WeakRef Responder::weakRef() const
{
    WeakRef ref;
    ref.ref_ = self_;
    return ref;
}

bool Responder::respondsToAction(const std::string& action) const
{
    return actions_.contains(action);
}

bool Responder::tryToPerform(const std::string& action, Sender sender)
{
    auto found = actions_.find(action);
    if (found == actions_.end())
        return false;
    // A copy: the action may replace the handlers of this responder.
    auto handler = found->second;
    handler(sender);
    return true;
}

bool Responder::validateUserInterfaceItem(ValidatedUserInterfaceItem&)
{
    return true;
}

bool Responder::performKeyEquivalent(const KeyEvent&)
{
    return false;
}

void Responder::setNextResponder(Responder* responder)
{
    next_ = responder ? responder->weakRef() : WeakRef();
}

void Responder::addAction(std::string action, ActionHandler handler)
{
    actions_[std::move(action)] = std::move(handler);
}

void Responder::attachToWidget(GtkWidget* widget)
{
    if (widget_ == widget)
        return;
    if (widget_) {
        g_object_weak_unref(G_OBJECT(widget_), &Responder::widgetFinalized, this);
        if (g_object_get_data(G_OBJECT(widget_), responderKey) == this)
            g_object_set_data(G_OBJECT(widget_), responderKey, nullptr);
    }
    widget_ = widget;
    if (widget_) {
        g_object_set_data(G_OBJECT(widget_), responderKey, this);
        g_object_weak_ref(G_OBJECT(widget_), &Responder::widgetFinalized, this);
    }
}

void Responder::widgetFinalized(gpointer data, GObject*)
{
    static_cast<Responder*>(data)->widget_ = nullptr;
}

Responder* Responder::forWidget(GtkWidget* widget)
{
    return widget ? static_cast<Responder*>(g_object_get_data(G_OBJECT(widget), responderKey)) : nullptr;
}

} // namespace kx
