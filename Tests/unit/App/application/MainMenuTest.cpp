// The application's own main menu and what the launch adds to it once the editor's menus are
// merged in.
#include <gtest/gtest.h>

#include "App/application/MainMenu.h"
#include "App/application/PDApplication.h"
#include "App/web/AppMenu.h"

using kx::MainMenu;
using kx::NativeMenu;

namespace {

std::vector<std::string> titles(const NativeMenu& menu)
{
    std::vector<std::string> result;
    for (const auto& item : menu.items())
        result.push_back(item->title());
    return result;
}

std::shared_ptr<kx::NativeMenuItem> find(const NativeMenu& menu, const std::string& action)
{
    for (const auto& top : menu.items()) {
        for (const auto& item : top->submenu() ? top->submenu()->items() : NativeMenu::Items{}) {
            if (item->action() == action)
                return item;
        }
    }
    return nullptr;
}

// The editor's description as app-globals.json gives it: an Edit menu and one of its own.
std::vector<kx::KorvelServices::MenuItemOptions> editorMenus()
{
    kx::KorvelServices::MenuItemOptions undo;
    undo.label = "Undo";
    undo.role = "undo";
    kx::KorvelServices::MenuItemOptions edit;
    edit.label = "Edit";
    edit.submenu = std::vector<kx::KorvelServices::MenuItemOptions>{undo};
    kx::KorvelServices::MenuItemOptions frame;
    frame.label = "Frame";
    frame.submenu = std::vector<kx::KorvelServices::MenuItemOptions>{};
    return {edit, frame};
}

} // namespace

TEST(MainMenu, TheEditorsMenusGoInTheirPlacesAndTheLaunchCompletesTheRest)
{
    auto menu = MainMenu::make(true);
    kx::AppMenu::initializeMainMenu(*menu, editorMenus());
    auto library = NativeMenu::make();
    auto experiments = NativeMenu::make();
    kx::PDApplication::completeMainMenu(*menu, library, experiments);
    EXPECT_EQ(titles(*menu), (std::vector<std::string>{"Korvel X", "File", "Edit", "View", "Frame", "Window", "Experiments", "Help"}));
    // The editor's Edit menu took the placeholder's place.
    EXPECT_EQ(titles(*menu->itemWithTitle("Edit")->submenu()), std::vector<std::string>{"Undo"});
    EXPECT_EQ(find(*menu, MainMenu::updateLibraryVersionMenuAction)->submenu(), library);
    EXPECT_EQ(experiments->title(), "Experiments");
    EXPECT_TRUE(find(*menu, MainMenu::crashAction));
}

TEST(MainMenu, ReleaseBuildsHaveNeitherExperimentsNorTheCrashCommand)
{
    auto menu = MainMenu::make(false);
    kx::PDApplication::completeMainMenu(*menu, NativeMenu::make(), nullptr);
    EXPECT_EQ(menu->indexOfItemWithTitle("Experiments"), -1);
    EXPECT_FALSE(find(*menu, MainMenu::crashAction));
    // The shortcuts the windows without a menu bar share with the menu.
    EXPECT_EQ(find(*menu, MainMenu::newDocumentAction)->keyEquivalent(), "n");
    EXPECT_EQ(find(*menu, MainMenu::openDocumentAction)->keyEquivalent(), "o");
    EXPECT_EQ(find(*menu, MainMenu::performCloseAction)->keyEquivalent(), "w");
    EXPECT_EQ(find(*menu, MainMenu::terminateAction)->keyEquivalent(), "q");
}

TEST(MainMenu, AccountCommandsWaitForASignedInUser)
{
    for (const char* action : {"checkForUpdates:", "showAccountDashboard:", "logoutAction:", "showWelcomeWindow:"})
        EXPECT_TRUE(kx::PDApplication::isAccountCommand(action)) << action;
    for (const char* action : {"terminate:", "newDocument:", "showHelpKorvel:", "orderFrontStandardAboutPanel:"})
        EXPECT_FALSE(kx::PDApplication::isAccountCommand(action)) << action;
}
