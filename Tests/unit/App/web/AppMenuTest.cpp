#include <gtest/gtest.h>

#include <any>
#include <string>
#include <vector>

#include "App/web/AppMenu.h"
#include "App/web/WebBridgeMenuDelegate.h"
#include "Services/runtime/JSONDecoder.h"

using kx::AppMenu;
using kx::NativeMenu;
using kx::NativeMenuItem;
using Options = kx::KorvelServices::MenuItemOptions;

namespace {

std::vector<Options> description(const char* json)
{
    return kx::JSONDecoder().decode<std::vector<Options>>(json);
}

std::vector<std::string> titles(const NativeMenu& menu)
{
    std::vector<std::string> result;
    for (auto& item : menu.items())
        result.push_back(item->isSeparatorItem() ? "---" : item->title());
    return result;
}

std::shared_ptr<NativeMenuItem> menuWith(const char* title, std::vector<std::shared_ptr<NativeMenuItem>> items)
{
    auto item = NativeMenuItem::make(title);
    item->setSubmenu(NativeMenu::make(title));
    for (auto& entry : items)
        item->submenu()->addItem(entry);
    return item;
}

std::string represented(const NativeMenuItem& item)
{
    auto* text = std::any_cast<std::string>(&item.representedObject());
    return text ? *text : "<none>";
}

// The main menu of the application's resource: App, Edit (with a placeholder), View, Window.
std::shared_ptr<NativeMenu> resourceMenu()
{
    auto menu = NativeMenu::make();
    menu->addItem(menuWith("Korvel X", {NativeMenuItem::make("About")}));
    menu->addItem(menuWith("Edit", {NativeMenuItem::make("Undo", "undo:"), NativeMenuItem::make("Redo", "redo:"),
                                    NativeMenuItem::make(AppMenu::placeholderTitle),
                                    NativeMenuItem::make("Start Dictation", AppMenu::startDictationAction),
                                    NativeMenuItem::make("Emoji"), NativeMenuItem::make(AppMenu::placeholderTitle)}));
    menu->addItem(menuWith("View", {NativeMenuItem::make("Zoom")}));
    menu->addItem(menuWith("Window", {NativeMenuItem::make("Minimize")}));
    return menu;
}

} // namespace

TEST(AppMenu, ThePageMenusGoBeforeWindowAndFillTheResourceMenusWithAPlaceholder)
{
    auto menu = resourceMenu();
    auto view = menu->itemAtIndex(2);
    AppMenu::initializeMainMenu(*menu, description(R"([
        {"label": "File", "submenu": [{"label": "Save", "role": "save"}]},
        {"label": "Edit", "submenu": [{"label": "Cut", "role": "cut"}, {"type": "separator"}]},
        {"type": "separator"},
        {"label": "View", "submenu": [{"label": "Rulers", "role": "toggleRulers"}]},
        {"label": "Arrange", "submenu": []}
    ])"));
    EXPECT_EQ(titles(*menu), (std::vector<std::string>{"Korvel X", "Edit", "View", "File", "---", "View", "Arrange", "Window"}));
    // Edit stays where the resource had it, around the page's items.
    EXPECT_EQ(titles(*menu->itemAtIndex(1)->submenu()),
              (std::vector<std::string>{"Undo", "Redo", "Cut", "---", "Emoji", AppMenu::placeholderTitle}));
    // A resource menu without placeholder is left alone beside the page's.
    EXPECT_EQ(menu->itemAtIndex(2), view);
    EXPECT_EQ(titles(*view->submenu()), std::vector<std::string>{"Zoom"});
    // The page's menus are validated by the page when they open.
    EXPECT_EQ(menu->itemAtIndex(3)->submenu()->delegate(), kx::WebBridge::menuDelegate());
    EXPECT_TRUE(menu->itemAtIndex(3)->submenu()->autoenablesItems());
}

TEST(AppMenu, WithoutAWindowMenuThePageMenusComeFirstAndAPageMenuWithoutSubmenuDropsTheResourceItems)
{
    auto menu = NativeMenu::make();
    menu->addItem(menuWith("Edit", {NativeMenuItem::make("Undo"), NativeMenuItem::make(AppMenu::placeholderTitle)}));
    menu->addItem(NativeMenuItem::make("Help"));
    AppMenu::initializeMainMenu(*menu, description(R"([{"label": "File"}, {"label": "Edit"}])"));
    EXPECT_EQ(titles(*menu), (std::vector<std::string>{"File", "Edit", "Help"}));
    EXPECT_EQ(menu->itemAtIndex(1)->submenu(), nullptr);
}

TEST(AppMenu, ItemsTakeTheirActionFromTheRoleAndTheHybridShortcutWins)
{
    auto copy = AppMenu::menuItem(description(R"([{"label": "Copy", "role": "copy", "accelerator": "Command+Shift+K"}])")[0]);
    EXPECT_EQ(copy->action(), "copy:");
    EXPECT_EQ(represented(*copy), "copy");
    EXPECT_EQ(copy->keyEquivalent(), "c");
    EXPECT_EQ(copy->keyEquivalentModifierMask(), kx::ModifierFlags::command);
    EXPECT_EQ(copy->target(), nullptr);

    auto remove = AppMenu::menuItem(description(R"([{"role": "delete"}])")[0]);
    EXPECT_EQ(remove->action(), "delete:");
    EXPECT_EQ(remove->keyEquivalent(), "\b");
    EXPECT_EQ(remove->keyEquivalentModifierMask(), kx::ModifierFlags::none);

    auto zoom = AppMenu::menuItem(description(R"([{"label": "Zoom In", "role": "zoomIn", "accelerator": "CmdOrCtrl+Plus"}])")[0]);
    EXPECT_EQ(zoom->action(), "performWebAction:");
    EXPECT_EQ(represented(*zoom), "zoomIn");
    EXPECT_EQ(zoom->keyEquivalent(), "+");

    auto empty = AppMenu::menuItem(description(R"([{"role": ""}])")[0]);
    EXPECT_EQ(empty->action(), "performWebAction:");
    EXPECT_EQ(represented(*empty), "");

    auto plain = AppMenu::menuItem(description(R"([{"label": "About", "accelerator": "F1"}])")[0]);
    EXPECT_EQ(plain->action(), "");
    EXPECT_EQ(represented(*plain), "<none>");
}

TEST(AppMenu, ItemsTakeStateEnablingAndVisibilityFromTheEntry)
{
    const auto entries = description(R"([
        {"checked": true, "mixed": true}, {"checked": false, "mixed": true}, {}, {"enabled": false, "visible": false},
        {"label": "More", "accelerator": "Command+M", "checked": true, "enabled": false, "role": "copy",
         "submenu": [{"label": "Inner"}]}
    ])");
    std::vector<std::shared_ptr<NativeMenuItem>> items;
    for (auto& entry : entries)
        items.push_back(AppMenu::menuItem(entry));
    EXPECT_EQ(items[0]->state(), NativeMenuItem::State::on);
    EXPECT_EQ(items[1]->state(), NativeMenuItem::State::mixed);
    EXPECT_EQ(items[2]->state(), NativeMenuItem::State::off);
    EXPECT_TRUE(items[2]->isEnabled() && !items[2]->isHidden());
    EXPECT_TRUE(!items[3]->isEnabled() && items[3]->isHidden());
    // A submenu entry only opens its submenu.
    EXPECT_EQ(items[4]->keyEquivalent(), "");
    EXPECT_EQ(items[4]->action(), "");
    EXPECT_TRUE(items[4]->isEnabled());
    EXPECT_EQ(titles(*items[4]->submenu()), std::vector<std::string>{"Inner"});
}

TEST(AppMenu, ContextMenuEntriesReportTheirIndexPathCountingSeparatorsAndHiddenEntries)
{
    std::vector<std::vector<std::int64_t>> reported;
    auto menu = AppMenu::contextMenu(description(R"([
        {"label": "A", "enabled": false},
        {"type": "separator"},
        {"label": "Hidden", "visible": false},
        {"label": "B", "index": 99},
        {"label": "Sub", "role": "copy", "submenu": [
            {"label": "X"},
            {"label": "Deeper", "submenu": [{"type": "separator"}, {"label": "Z"}]},
            {"label": "Copy", "role": "copy"}
        ]}
    ])"),
                                     [&](auto result) { reported.push_back(result.get().indexPath); });
    EXPECT_FALSE(menu->autoenablesItems());
    EXPECT_FALSE(menu->itemAtIndex(0)->isEnabled()); // stays as the entry says
    auto choose = [&](const std::shared_ptr<NativeMenuItem>& item) { EXPECT_TRUE(menu->performActionForItem(*item)); };
    choose(menu->itemAtIndex(3));
    choose(menu->itemAtIndex(2));
    auto sub = menu->itemAtIndex(4)->submenu();
    EXPECT_FALSE(sub->autoenablesItems());
    EXPECT_EQ(sub->delegate(), nullptr);
    choose(sub->itemAtIndex(0));
    choose(sub->itemAtIndex(1)->submenu()->itemAtIndex(1));
    EXPECT_EQ(reported, (std::vector<std::vector<std::int64_t>>{{3}, {2}, {4, 0}, {4, 1, 1}}));

    // An entry with a role performs its action and has no target of its own.
    auto copy = sub->itemAtIndex(2);
    EXPECT_EQ(copy->action(), "copy:");
    EXPECT_EQ(copy->target(), nullptr);
    EXPECT_EQ(represented(*copy), "copy");
}
