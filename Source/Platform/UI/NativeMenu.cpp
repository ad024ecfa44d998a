#include "Platform/UI/NativeMenu.h"

#include <algorithm>

#include "Platform/UI/ResponderChain.h"

namespace kx {

namespace {
std::shared_ptr<NativeMenu>& mainMenuSlot()
{
    static std::shared_ptr<NativeMenu> menu;
    return menu;
}
} // namespace

std::shared_ptr<NativeMenu> NativeMenu::make(std::string title)
{
    return std::shared_ptr<NativeMenu>(new NativeMenu(std::move(title)));
}

NativeMenu::NativeMenu(std::string title)
    : title_(std::move(title))
{
}

NativeMenu::~NativeMenu()
{
    for (auto& item : items_)
        item->menu_ = nullptr;
}

std::shared_ptr<NativeMenu> NativeMenu::mainMenu()
{
    return mainMenuSlot();
}

void NativeMenu::setMainMenu(std::shared_ptr<NativeMenu> menu)
{
    mainMenuSlot() = std::move(menu);
}

std::shared_ptr<NativeMenuItem> NativeMenu::itemAtIndex(int index) const
{
    if (index < 0 || index >= numberOfItems())
        return nullptr;
    return items_[std::size_t(index)];
}

int NativeMenu::indexOfItem(const NativeMenuItem* item) const
{
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].get() == item)
            return int(i);
    }
    return -1;
}

int NativeMenu::indexOfItemWithTitle(const std::string& title) const
{
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (!items_[i]->isSeparatorItem() && items_[i]->title() == title)
            return int(i);
    }
    return -1;
}

std::shared_ptr<NativeMenuItem> NativeMenu::itemWithTitle(const std::string& title) const
{
    return itemAtIndex(indexOfItemWithTitle(title));
}

void NativeMenu::addItem(std::shared_ptr<NativeMenuItem> item)
{
    insertItem(std::move(item), numberOfItems());
}

void NativeMenu::insertItem(std::shared_ptr<NativeMenuItem> item, int index)
{
    if (!item)
        return;
    if (item->menu_)
        item->menu_->removeItem(item.get());
    index = std::clamp(index, 0, numberOfItems());
    item->menu_ = this;
    items_.insert(items_.begin() + index, std::move(item));
    notify(nullptr);
}

void NativeMenu::detach(NativeMenuItem& item)
{
    item.menu_ = nullptr;
}

void NativeMenu::removeItem(const NativeMenuItem* item)
{
    removeItemAtIndex(indexOfItem(item));
}

void NativeMenu::removeItemAtIndex(int index)
{
    if (index < 0 || index >= numberOfItems())
        return;
    // Kept alive until the observers have let go of its widgets.
    auto item = items_[std::size_t(index)];
    detach(*item);
    items_.erase(items_.begin() + index);
    notify(nullptr);
}

void NativeMenu::removeAllItems()
{
    if (items_.empty())
        return;
    auto items = std::move(items_);
    items_.clear();
    for (auto& item : items)
        detach(*item);
    notify(nullptr);
}

void NativeMenu::menuWillOpen()
{
    // The delegate may prepare what validation reads (a page's answer for the whole menu).
    if (auto delegate = this->delegate())
        delegate->menuWillOpen(*this);
    update();
}

void NativeMenu::menuDidClose()
{
    if (auto delegate = this->delegate())
        delegate->menuDidClose(*this);
}

void NativeMenu::update()
{
    if (!autoenablesItems_)
        return;
    // Validation may run a nested main loop in which the menu changes: walk a copy.
    auto items = items_;
    for (auto& item : items)
        validateItem(*item);
}

bool NativeMenu::validateItem(NativeMenuItem& item)
{
    auto keep = item.shared_from_this();
    if (item.isSeparatorItem())
        return false;
    if (autoenablesItems_) {
        // An item that only opens its submenu is always available.
        const bool enabled = item.action().empty() && item.hasSubmenu() ? true : ResponderChain::shared().validate(item);
        item.setEnabled(enabled);
    }
    return item.isEnabled() && !item.isHidden();
}

bool NativeMenu::performActionForItem(NativeMenuItem& item)
{
    if (item.action().empty())
        return false;
    auto keep = item.shared_from_this();
    return ResponderChain::shared().sendAction(item.action(), item.target(), &item);
}

int NativeMenu::addObserver(Observer observer)
{
    const int token = nextToken_++;
    observers_.emplace(token, std::move(observer));
    return token;
}

void NativeMenu::removeObserver(int token)
{
    observers_.erase(token);
}

void NativeMenu::notify(NativeMenuItem* item)
{
    // Observers may add or remove observers while they run.
    auto observers = observers_;
    for (auto& [token, observer] : observers) {
        if (observers_.contains(token))
            observer(item);
    }
}

} // namespace kx
