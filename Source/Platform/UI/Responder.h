// An object in the responder chain: it answers actions by selector ("copy:",
// "performWebAction:"), validates the items that send them and may take key equivalents
// before the menus see them. A responder is found through the widget it is attached to (the
// focused widget and its ancestors), through another responder's `nextResponder`, or as the
// application's responder (see ResponderChain). Main thread only.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include <gtk/gtk.h>

#include "Platform/UI/KeyEvent.h"
#include "Platform/UI/ValidatedUserInterfaceItem.h"

namespace kx {

class Responder {
public:
    // The sender of an action: the menu item chosen, or nullptr.
    using Sender = ValidatedUserInterfaceItem*;
    using ActionHandler = std::function<void(Sender)>;

    // A reference that does not keep the responder alive and reads nullptr once it is gone.
    class WeakRef {
    public:
        WeakRef() = default;
        Responder* get() const;
        explicit operator bool() const { return get() != nullptr; }

    private:
        friend class Responder;
        std::weak_ptr<Responder*> ref_;
    };

    Responder();
    virtual ~Responder();
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    WeakRef weakRef() const;

    // True when this responder performs `action`. By default: an action added with `addAction`.
    virtual bool respondsToAction(const std::string& action) const;
    // Performs `action` when this responder answers it; false otherwise.
    virtual bool tryToPerform(const std::string& action, Sender sender);
    // Whether the item's action is available now. The default enables everything it answers.
    virtual bool validateUserInterfaceItem(ValidatedUserInterfaceItem& item);
    // A key press before the menus' accelerators; true when taken.
    virtual bool performKeyEquivalent(const KeyEvent& event);

    // Asked after this responder, before the responder of the next widget up.
    Responder* nextResponder() const { return next_.get(); }
    void setNextResponder(Responder* responder);

    // Makes this the responder of `widget` until either goes; nullptr detaches.
    void attachToWidget(GtkWidget* widget);
    GtkWidget* attachedWidget() const { return widget_; }
    static Responder* forWidget(GtkWidget* widget);

protected:
    void addAction(std::string action, ActionHandler handler);

private:
    static void widgetFinalized(gpointer data, GObject* widget);

    std::shared_ptr<Responder*> self_;
    std::map<std::string, ActionHandler> actions_;
    WeakRef next_;
    GtkWidget* widget_ = nullptr;
};

} // namespace kx
