// The responder chain and the key window. The chain of the key window is, in order: the
// responders of its focused widget and of each ancestor up to the window itself (each followed
// by its own `nextResponder` links, which is how a window controller and its document follow
// the window), then the application's responder and its `nextResponder` links. Actions sent
// without a target go to the first responder in it that answers them. Main thread only.
#pragma once

#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "Platform/UI/KeyEvent.h"
#include "Platform/UI/Responder.h"
#include "Platform/UI/ValidatedUserInterfaceItem.h"

namespace kx {

class ResponderChain {
public:
    static ResponderChain& shared();

    // The window that takes key presses: the active top-level window, else the tracked window
    // that was active last (a pop-up menu may take the focus for a while), else nullptr.
    GtkWindow* keyWindow() const;
    // Remembers when the window becomes active, until it is destroyed.
    void trackWindow(GtkWindow* window);

    Responder* applicationResponder() const { return application_.get(); }
    void setApplicationResponder(Responder* responder);

    // The chain of the key window, or the application's part alone without one.
    std::vector<Responder*> responders() const;
    // The chain that starts at `widget` (the window's focus, or the window itself).
    std::vector<Responder*> respondersFrom(GtkWidget* widget) const;

    // The first responder of the key window's chain that answers `action`, nullptr when none.
    Responder* targetForAction(const std::string& action) const;
    // Sends `action` to `target`, or to `targetForAction` when `target` is nullptr; false when
    // nothing performed it.
    bool sendAction(const std::string& action, Responder* target, Responder::Sender sender);
    // Whether the item's action may be sent now: its target (given or found) validates it; an
    // item without action or without target is disabled.
    bool validate(ValidatedUserInterfaceItem& item);
    // Offers the key press to the chain that starts at `widget`; true when a responder took it.
    bool performKeyEquivalent(GtkWidget* widget, const KeyEvent& event);

private:
    ResponderChain() = default;
    static void windowActivityChanged(GtkWindow* window, GParamSpec*, gpointer self);

    Responder::WeakRef application_;
    GtkWindow* lastKeyWindow_ = nullptr; // weak pointer: cleared when the window goes
};

} // namespace kx
