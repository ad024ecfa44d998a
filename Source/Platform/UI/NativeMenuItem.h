// One item of a NativeMenu: a separator, a command (title, action, target, key equivalent) or
// the holder of a submenu. Changes reach the menu's observers, which keep the GTK widgets of
// every window in step. An item belongs to at most one menu. Main thread only.
#pragma once

#include <any>
#include <memory>
#include <string>

#include "Platform/UI/ModifierFlags.h"
#include "Platform/UI/Responder.h"
#include "Platform/UI/ValidatedUserInterfaceItem.h"

namespace kx {

class NativeMenu;

class NativeMenuItem : public ValidatedUserInterfaceItem, public std::enable_shared_from_this<NativeMenuItem> {
public:
    enum class State { off = 0, on = 1, mixed = -1 };

    static std::shared_ptr<NativeMenuItem> make(std::string title = {}, std::string action = {},
                                                 std::string keyEquivalent = {});
    static std::shared_ptr<NativeMenuItem> separatorItem();

    bool isSeparatorItem() const { return isSeparator_; }

    const std::string& title() const { return title_; }
    void setTitle(std::string title);

    const std::string& action() const override { return action_; }
    void setAction(std::string action);

    // nullptr: the action goes to the first responder of the chain that answers it.
    Responder* target() const { return target_.get(); }
    void setTarget(Responder* target);

    // Whatever the owner keeps with the item (a role name, an object that must live as long as
    // the item).
    const std::any& representedObject() const { return representedObject_; }
    void setRepresentedObject(std::any object);

    const std::string& keyEquivalent() const { return keyEquivalent_; }
    void setKeyEquivalent(std::string keyEquivalent);
    // Command unless set otherwise.
    ModifierFlags keyEquivalentModifierMask() const { return modifierMask_; }
    void setKeyEquivalentModifierMask(ModifierFlags mask);

    State state() const { return state_; }
    void setState(State state);

    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden);

    const std::shared_ptr<NativeMenu>& submenu() const { return submenu_; }
    // The submenu leaves any item that held it before.
    void setSubmenu(std::shared_ptr<NativeMenu> submenu);
    bool hasSubmenu() const { return submenu_ != nullptr; }
    // An item with a submenu only opens it, unless this is set: then a click on the item
    // itself, or Return while it is selected, sends its action too (pointing at the item, or
    // the Right arrow key, still opens the submenu).
    bool sendsActionWithSubmenu() const { return sendsActionWithSubmenu_; }
    void setSendsActionWithSubmenu(bool sends) { sendsActionWithSubmenu_ = sends; }

    // The menu that holds the item, nullptr when none.
    NativeMenu* menu() const { return menu_; }

    NativeMenuItem* asMenuItem() override { return this; }

private:
    friend class NativeMenu;
    NativeMenuItem() = default;
    void changed();

    bool isSeparator_ = false;
    std::string title_;
    std::string action_;
    Responder::WeakRef target_;
    std::any representedObject_;
    std::string keyEquivalent_;
    ModifierFlags modifierMask_ = ModifierFlags::command;
    State state_ = State::off;
    bool enabled_ = true;
    bool hidden_ = false;
    bool sendsActionWithSubmenu_ = false;
    std::shared_ptr<NativeMenu> submenu_;
    NativeMenu* menu_ = nullptr;
};

} // namespace kx
