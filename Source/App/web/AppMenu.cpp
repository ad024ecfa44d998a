#include "App/web/AppMenu.h"

#include "App/shell/AppInfo.h"
#include "App/web/WebBridgeHybridAction.h"
#include "App/web/WebBridgeMenuDelegate.h"
#include "Platform/UI/MenuPopup.h"

namespace kx {

namespace {
constexpr const char* contextMenuAction = "performAction:";

// Calls the completion at most once, whoever asks first.
AppMenu::ContextMenuCompletion once(AppMenu::ContextMenuCompletion completion)
{
    auto slot = std::make_shared<AppMenu::ContextMenuCompletion>(std::move(completion));
    return [slot](Result<KorvelServices::ContextMenuResult, ServiceError> result) {
        if (auto completion = std::exchange(*slot, nullptr))
            completion(std::move(result));
    };
}
} // namespace

AppMenu::ContextMenuTarget::ContextMenuTarget(std::vector<std::int64_t> indexPath, ContextMenuCompletion completionHandler)
    : indexPath_(std::move(indexPath))
    , completionHandler_(std::move(completionHandler))
{
    addAction(contextMenuAction, [this](Sender sender) { performAction(sender); });
}

void AppMenu::ContextMenuTarget::performAction(Sender)
{
    if (completionHandler_)
        completionHandler_(Result<KorvelServices::ContextMenuResult, ServiceError>::success({indexPath_}));
}

std::shared_ptr<NativeMenuItem> AppMenu::menuItem(const MenuItemOptions& options, const std::optional<MenuContext>& context)
{
    if (options.type == "separator")
        return NativeMenuItem::separatorItem();
    auto item = NativeMenuItem::make(options.label.value_or(""));
    if (options.submenu) {
        // An entry with a submenu only opens it: nothing else of it applies.
        auto submenu = NativeMenu::make(item->title());
        fillSubmenu(*submenu, context, *options.submenu);
        item->setSubmenu(std::move(submenu));
        return item;
    }
    std::string accelerator = options.accelerator.value_or("");
    if (options.role) {
        // No target: the action travels the responder chain to the focused web view.
        if (auto hybrid = WebBridge::hybridAction(*options.role)) {
            item->setAction(hybrid->nativeSelector);
            item->setRepresentedObject(hybrid->action);
            accelerator = hybrid->accelerator;
        } else {
            item->setAction(WebBridge::selector);
            item->setRepresentedObject(*options.role);
        }
    } else if (context) {
        std::vector<std::int64_t> indexPath = context->path;
        indexPath.push_back(context->index);
        auto target = std::make_shared<ContextMenuTarget>(std::move(indexPath), context->completionHandler);
        // The item keeps its target alive; the target reference itself does not.
        item->setTarget(target.get());
        item->setAction(contextMenuAction);
        item->setRepresentedObject(std::move(target));
    }
    if (options.checked == true)
        item->setState(NativeMenuItem::State::on);
    else if (options.mixed == true)
        item->setState(NativeMenuItem::State::mixed);
    if (options.enabled)
        item->setEnabled(*options.enabled);
    if (options.visible)
        item->setHidden(!*options.visible);
    const KeyEquivalent key = keyEquivalentAndModifierMask(accelerator);
    item->setKeyEquivalent(key.keyEquivalent);
    item->setKeyEquivalentModifierMask(key.modifierMask);
    return item;
}

void AppMenu::fillSubmenu(NativeMenu& menu, const std::optional<MenuContext>& context,
                          const std::vector<MenuItemOptions>& entries)
{
    if (!context) {
        // The page validates the items of its menus when one opens.
        menu.setDelegate(WebBridge::menuDelegate());
        for (const auto& entry : entries)
            menu.addItem(menuItem(entry));
        return;
    }
    std::vector<std::int64_t> path = context->path;
    path.push_back(context->index);
    for (std::size_t q = 0; q < entries.size(); ++q)
        menu.addItem(menuItem(entries[q], MenuContext{std::int64_t(q), path, context->completionHandler}));
    menu.setAutoenablesItems(false);
}

void AppMenu::initializeMainMenu()
{
    auto mainMenu = NativeMenu::mainMenu();
    if (!mainMenu)
        return;
    const auto& globals = AppInfo::current()->nimbetGlobals();
    if (!globals)
        return;
    initializeMainMenu(*mainMenu, globals->appMenu);
}

void AppMenu::initializeMainMenu(NativeMenu& mainMenu, const std::vector<MenuItemOptions>& appMenu)
{
    const int windowIndex = mainMenu.indexOfItemWithTitle(windowMenuTitle);
    const int insertionIndex = windowIndex < 0 ? 0 : windowIndex;
    // Every entry goes to the same index, last first, so the page's menus keep their order.
    for (auto entry = appMenu.rbegin(); entry != appMenu.rend(); ++entry) {
        auto newItem = menuItem(*entry);
        const int found = mainMenu.indexOfItemWithTitle(entry->label.value_or(""));
        auto existing = mainMenu.itemAtIndex(found);
        if (existing && existing->submenu() && existing->submenu()->indexOfItemWithTitle(placeholderTitle) >= 0) {
            rebuild(mainMenu, found, *newItem);
            mainMenu.insertItem(newItem, found);
        } else {
            mainMenu.insertItem(newItem, insertionIndex);
        }
    }
}

void AppMenu::rebuild(NativeMenu& mainMenu, int resourceIndex, NativeMenuItem& newItem)
{
    auto resourceItem = mainMenu.itemAtIndex(resourceIndex);
    auto resourceMenu = resourceItem->submenu();
    const NativeMenu::Items items = resourceMenu->items();
    const int placeholder = resourceMenu->indexOfItemWithTitle(placeholderTitle);
    resourceMenu->removeAllItems();
    mainMenu.removeItemAtIndex(resourceIndex);
    const auto& pageMenu = newItem.submenu();
    if (!pageMenu)
        return;
    int top = 0;
    for (int i = 0; i < int(items.size()); ++i) {
        const auto& item = items[std::size_t(i)];
        if (i == placeholder || item->action() == startDictationAction)
            continue;
        if (i < placeholder)
            pageMenu->insertItem(item, top++);
        else
            pageMenu->addItem(item);
    }
}

std::shared_ptr<NativeMenu> AppMenu::contextMenu(const std::vector<MenuItemOptions>& entries,
                                                 ContextMenuCompletion completionHandler)
{
    auto menu = NativeMenu::make();
    // Each item's enabled flag is the entry's: no validation applies to context menus.
    menu->setAutoenablesItems(false);
    for (std::size_t p = 0; p < entries.size(); ++p)
        menu->addItem(menuItem(entries[p], MenuContext{std::int64_t(p), {}, completionHandler}));
    return menu;
}

void AppMenu::showContextMenu(const std::vector<MenuItemOptions>& entries, GtkWidget* view,
                              std::optional<Point> location, ContextMenuCompletion completionHandler)
{
    auto complete = once(std::move(completionHandler));
    auto menu = contextMenu(entries, complete);
    std::optional<Rect> rect;
    if (location)
        rect = Rect{*location, {1, 1}};
    // An entry without role has reported its path by now, and the empty path goes nowhere.
    // Nothing chosen, or an entry with a role (whose action has run), reports the empty path,
    // so the page's request always gets its answer.
    MenuPopup::popUp(menu, view, rect, [complete, menu](std::shared_ptr<NativeMenuItem>) {
        complete(Result<KorvelServices::ContextMenuResult, ServiceError>::success({}));
    });
}

} // namespace kx
