#include "Platform/UI/NativeMenuItem.h"

#include "Platform/UI/NativeMenu.h"

namespace kx {

std::shared_ptr<NativeMenuItem> NativeMenuItem::make(std::string title, std::string action, std::string keyEquivalent)
{
    std::shared_ptr<NativeMenuItem> item(new NativeMenuItem());
    item->title_ = std::move(title);
    item->action_ = std::move(action);
    item->keyEquivalent_ = std::move(keyEquivalent);
    return item;
}

std::shared_ptr<NativeMenuItem> NativeMenuItem::separatorItem()
{
    std::shared_ptr<NativeMenuItem> item(new NativeMenuItem());
    item->isSeparator_ = true;
    item->enabled_ = false;
    return item;
}

void NativeMenuItem::changed()
{
    if (menu_)
        menu_->notify(this);
}

void NativeMenuItem::setTitle(std::string title)
{
    if (title == title_)
        return;
    title_ = std::move(title);
    changed();
}

void NativeMenuItem::setAction(std::string action)
{
    action_ = std::move(action);
}

void NativeMenuItem::setTarget(Responder* target)
{
    target_ = target ? target->weakRef() : Responder::WeakRef();
}

void NativeMenuItem::setRepresentedObject(std::any object)
{
    representedObject_ = std::move(object);
}

void NativeMenuItem::setKeyEquivalent(std::string keyEquivalent)
{
    if (keyEquivalent == keyEquivalent_)
        return;
    keyEquivalent_ = std::move(keyEquivalent);
    changed();
}

void NativeMenuItem::setKeyEquivalentModifierMask(ModifierFlags mask)
{
    if (mask == modifierMask_)
        return;
    modifierMask_ = mask;
    changed();
}

void NativeMenuItem::setState(State state)
{
    if (state == state_)
        return;
    state_ = state;
    changed();
}

void NativeMenuItem::setEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    changed();
}

void NativeMenuItem::setHidden(bool hidden)
{
    if (hidden == hidden_)
        return;
    hidden_ = hidden;
    changed();
}

void NativeMenuItem::setSubmenu(std::shared_ptr<NativeMenu> submenu)
{
    if (submenu == submenu_)
        return;
    if (submenu && submenu->supermenuItem_)
        submenu->supermenuItem_->setSubmenu(nullptr);
    if (submenu_)
        submenu_->supermenuItem_ = nullptr;
    submenu_ = std::move(submenu);
    if (submenu_)
        submenu_->supermenuItem_ = this;
    changed();
}

} // namespace kx
