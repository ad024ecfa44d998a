#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "App/shell/AppAppearance.h"
#include "Platform/UI/NativeMenu.h"
#include "Platform/Foundation/MainQueue.h"
#include "support/ScopedSetting.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

using kx::AppAppearance;

namespace {

class AppAppearanceTest : public ::testing::Test {
protected:
    std::shared_ptr<AppAppearance> make()
    {
        auto appearance = AppAppearance::make(defaults);
        appearance->observeHandlers.push_back([this] { calls.push_back({1, kx::MainQueue::isMainThread()}); });
        appearance->observeHandlers.push_back([this] { calls.push_back({2, kx::MainQueue::isMainThread()}); });
        return appearance;
    }
    // Lets every scheduled update run: they run in order on the main queue, before this.
    void settle()
    {
        bool reached = false;
        kx::MainQueue::async([&] { reached = true; });
        ASSERT_TRUE(kxtest::spinUntil([&] { return reached; }));
    }

    kxtest::TemporaryDirectory dir;
    std::shared_ptr<kx::UserDefaults> defaults = std::make_shared<kx::UserDefaults>(dir / "defaults.json");
    std::vector<std::pair<int, bool>> calls; // handler number, ran on the main thread
};

} // namespace

TEST_F(AppAppearanceTest, AChangeRunsEveryHandlerInOrderOnTheMainThread)
{
    auto appearance = make();
    EXPECT_FALSE(appearance->isDark()); // day when the default is absent
    defaults->setBool(kx::UserDefaultsHasDarkAppearanceKey, true);
    EXPECT_FALSE(appearance->isDark()); // switched on the main queue, not inside the write
    ASSERT_TRUE(kxtest::spinUntil([&] { return appearance->isDark(); }));
    EXPECT_EQ(calls, (std::vector<std::pair<int, bool>>{{1, true}, {2, true}}));

    // Writing the same value again changes nothing and runs no handler.
    defaults->setBool(kx::UserDefaultsHasDarkAppearanceKey, true);
    settle();
    EXPECT_EQ(calls.size(), 2u);

    // A change made on another thread is applied on the main thread.
    std::thread([&] { defaults->setBool(kx::UserDefaultsHasDarkAppearanceKey, false); }).join();
    ASSERT_TRUE(kxtest::spinUntil([&] { return !appearance->isDark(); }));
    EXPECT_EQ(calls, (std::vector<std::pair<int, bool>>{{1, true}, {2, true}, {1, true}, {2, true}}));
}

TEST_F(AppAppearanceTest, ToggleWritesTheOppositeAndQuickTogglesSettleOnTheStoredMode)
{
    auto appearance = make();
    appearance->toggleDarkAppearance();
    EXPECT_TRUE(defaults->boolForKey(kx::UserDefaultsHasDarkAppearanceKey));
    ASSERT_TRUE(kxtest::spinUntil([&] { return appearance->isDark(); }));
    EXPECT_EQ(calls.size(), 2u);

    // Two toggles before the main loop turns: both updates find the mode unchanged.
    appearance->toggleDarkAppearance();
    appearance->toggleDarkAppearance();
    settle();
    EXPECT_TRUE(appearance->isDark());
    EXPECT_EQ(calls.size(), 2u);
}

TEST_F(AppAppearanceTest, HandlersAddedDuringAChangeWaitForTheNextOne)
{
    auto appearance = make();
    int late = 0;
    appearance->observeHandlers.push_back([&] {
        for (int i = 0; i < 100; ++i) // enough to move the list while this handler runs
            appearance->observeHandlers.push_back([&] { ++late; });
    });
    appearance->toggleDarkAppearance();
    ASSERT_TRUE(kxtest::spinUntil([&] { return appearance->isDark(); }));
    EXPECT_EQ(late, 0);
    appearance->toggleDarkAppearance();
    ASSERT_TRUE(kxtest::spinUntil([&] { return !appearance->isDark(); }));
    EXPECT_EQ(late, 100);
}

TEST_F(AppAppearanceTest, AnUpdateScheduledBeforeTheOwnerLetGoStillRuns)
{
    auto appearance = make();
    std::weak_ptr<AppAppearance> weak = appearance;
    defaults->setBool(kx::UserDefaultsHasDarkAppearanceKey, true);
    appearance.reset();
    EXPECT_FALSE(weak.expired());
    ASSERT_TRUE(kxtest::spinUntil([&] { return weak.expired(); }));
    EXPECT_EQ(calls.size(), 2u);
}

TEST_F(AppAppearanceTest, TheMenuCommandNamesTheModeItSwitchesTo)
{
    auto appearance = make();
    auto toggle = kx::NativeMenuItem::make("", "toggleDarkAppearance:");
    auto other = kx::NativeMenuItem::make("Other", "performClose:");
    auto none = kx::NativeMenuItem::make("None");
    EXPECT_TRUE(appearance->validateUserInterfaceItem(*toggle));
    EXPECT_EQ(toggle->title(), "Night Mode");
    EXPECT_FALSE(appearance->validateUserInterfaceItem(*other));
    EXPECT_FALSE(appearance->validateUserInterfaceItem(*none));

    // Chosen through the responder chain, the command writes the default.
    ASSERT_TRUE(appearance->tryToPerform("toggleDarkAppearance:", toggle.get()));
    ASSERT_TRUE(kxtest::spinUntil([&] { return appearance->isDark(); }));
    EXPECT_TRUE(appearance->validateUserInterfaceItem(*toggle));
    EXPECT_EQ(toggle->title(), "Day Mode");
}

TEST_F(AppAppearanceTest, TheMainMenuItemGetsItsShortcutOneLevelDownOnly)
{
    auto mainMenu = kx::NativeMenu::make();
    auto view = kx::NativeMenuItem::make("View");
    view->setSubmenu(kx::NativeMenu::make("View"));
    auto toggle = kx::NativeMenuItem::make("Night Mode", "toggleDarkAppearance:");
    view->submenu()->addItem(toggle);
    auto deeper = kx::NativeMenuItem::make("More");
    deeper->setSubmenu(kx::NativeMenu::make("More"));
    auto nested = kx::NativeMenuItem::make("Night Mode", "toggleDarkAppearance:");
    deeper->submenu()->addItem(nested);
    view->submenu()->addItem(deeper);
    mainMenu->addItem(view);
    mainMenu->addItem(kx::NativeMenuItem::make("Help")); // no submenu

    AppAppearance::setUpMainMenuItem(); // no main menu yet: nothing happens
    {
        kxtest::ScopedSetting menu(kx::NativeMenu::setMainMenu, mainMenu);
        AppAppearance::setUpMainMenuItem();
        AppAppearance::setUpMainMenuItem();
    }

    EXPECT_EQ(toggle->keyEquivalent(), "n");
    EXPECT_EQ(toggle->keyEquivalentModifierMask(), kx::ModifierFlags::command | kx::ModifierFlags::control);
    EXPECT_EQ(toggle->target(), &AppAppearance::shared());
    EXPECT_EQ(nested->keyEquivalent(), "");
    EXPECT_EQ(nested->target(), nullptr);
}
