// A menu of our own: an ordered list of NativeMenuItems with a title, a delegate and automatic
// enabling. The application's main menu is one such model; every window realises it as its own
// GtkMenuBar (WindowMenuBar), and pop-up menus are realised while they are shown (MenuPopup).
// Realisations observe the model and follow its changes. Main thread only.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Platform/UI/NativeMenuDelegate.h"
#include "Platform/UI/NativeMenuItem.h"

namespace kx {

class NativeMenu : public std::enable_shared_from_this<NativeMenu> {
public:
    using Items = std::vector<std::shared_ptr<NativeMenuItem>>;
    // Called with the item whose properties changed, or nullptr when items were added or removed.
    using Observer = std::function<void(NativeMenuItem* changedItem)>;

    static std::shared_ptr<NativeMenu> make(std::string title = {});
    ~NativeMenu();
    NativeMenu(const NativeMenu&) = delete;
    NativeMenu& operator=(const NativeMenu&) = delete;

    // The application's main menu, nullptr until one is set.
    static std::shared_ptr<NativeMenu> mainMenu();
    static void setMainMenu(std::shared_ptr<NativeMenu> menu);

    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }

    const Items& items() const { return items_; }
    int numberOfItems() const { return int(items_.size()); }
    // nullptr outside the list.
    std::shared_ptr<NativeMenuItem> itemAtIndex(int index) const;
    // -1 when not found.
    int indexOfItem(const NativeMenuItem* item) const;
    int indexOfItemWithTitle(const std::string& title) const;
    std::shared_ptr<NativeMenuItem> itemWithTitle(const std::string& title) const;

    void addItem(std::shared_ptr<NativeMenuItem> item);
    // `index` is clamped to the list. An item held by another menu leaves that menu first.
    void insertItem(std::shared_ptr<NativeMenuItem> item, int index);
    void removeItem(const NativeMenuItem* item);
    void removeItemAtIndex(int index);
    void removeAllItems();

    // The item whose submenu this is, nullptr for a top menu.
    NativeMenuItem* supermenuItem() const { return supermenuItem_; }

    std::shared_ptr<NativeMenuDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<NativeMenuDelegate> delegate) { delegate_ = std::move(delegate); }

    // On (the default): opening the menu or matching a key equivalent enables each item by
    // asking the responder chain. Off: items keep the enabled flag they were given.
    bool autoenablesItems() const { return autoenablesItems_; }
    void setAutoenablesItems(bool autoenables) { autoenablesItems_ = autoenables; }

    // The menu is about to show: the delegate hears of it first, then the items are validated.
    void menuWillOpen();
    void menuDidClose();
    // Validates every item (when auto-enabling).
    void update();
    // Validates one item, as before its key equivalent fires; true when it may fire.
    bool validateItem(NativeMenuItem& item);
    // Sends the item's action to its target or along the responder chain; false when nothing
    // took it.
    bool performActionForItem(NativeMenuItem& item);

    int addObserver(Observer observer);
    void removeObserver(int token);

private:
    friend class NativeMenuItem;
    explicit NativeMenu(std::string title);
    void notify(NativeMenuItem* item);
    void detach(NativeMenuItem& item);

    std::string title_;
    Items items_;
    NativeMenuItem* supermenuItem_ = nullptr;
    std::weak_ptr<NativeMenuDelegate> delegate_;
    bool autoenablesItems_ = true;
    std::map<int, Observer> observers_;
    int nextToken_ = 1;
};

} // namespace kx
