// Experiments with the user's overrides, and the back-end environment chooser.
#include <gtest/gtest.h>

#include <cstdlib>

#include "AccountTestEnvironment.h"
#include "App/account/AppServices.h"
#include "App/account/Experiments.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/NativeMenu.h"
#include "Platform/UI/NativeMenuItem.h"
#include "support/Spin.h"

using kx::AppServices;
using kx::Experiments;
using kxtest::AccountTestEnvironment;
using kxtest::spinUntil;

namespace {

// Answers the next alert with the button at `index` once it is on screen, selecting the
// accessory's radio button named `radio` first when one is given.
void answerNextAlert(size_t index, std::string radio = {})
{
    kx::MainQueue::async([index, radio] {
        ASSERT_FALSE(kx::Alert::shownAlerts().empty());
        auto alert = kx::Alert::shownAlerts().back();
        ASSERT_TRUE(spinUntil([&] { return alert->window() != nullptr; }));
        if (!radio.empty()) {
            GList* children = gtk_container_get_children(GTK_CONTAINER(alert->accessoryView()));
            for (GList* child = children; child; child = child->next) {
                if (radio == gtk_widget_get_name(GTK_WIDGET(child->data)))
                    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(child->data), TRUE);
            }
            g_list_free(children);
        }
        gtk_button_clicked(GTK_BUTTON(alert->buttons()[index]->widget()));
    });
}

class AccountChoicesGui : public ::testing::Test {
protected:
    void SetUp() override
    {
        AccountTestEnvironment::reset();
        auto& defaults = kx::UserDefaults::standard();
        defaults.removeObject(Experiments::decisionsKey);
        defaults.removeObject(Experiments::overridesKey);
    }
    void TearDown() override
    {
        Experiments::setReopenDocumentsHandler(nullptr);
        AppServices::setLogoutHandler(nullptr);
        AccountTestEnvironment::reset();
    }
};

} // namespace

TEST_F(AccountChoicesGui, DecisionsAreDrawnOnceAndKept)
{
    const auto first = Experiments::selections();
    ASSERT_EQ(first.size(), Experiments::all().size());
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Experiments::selections(), first);
    auto decisions = kx::UserDefaults::standard().objectForKey(Experiments::decisionsKey);
    EXPECT_EQ(decisions["welcomeWindowSketch"], first.at("welcomeWindowSketch"));

    std::string seen;
    Experiments::withVariant("welcomeWindowSketch", [&](const std::string& variant) { seen = variant; });
    EXPECT_EQ(seen, first.at("welcomeWindowSketch"));
    bool called = false;
    Experiments::withVariant("noSuchExperiment", [&](const std::string&) { called = true; });
    EXPECT_FALSE(called);

    // A stored decision that names no variant is drawn again rather than trusted.
    kx::UserDefaults::standard().setObject(Experiments::decisionsKey, {{"welcomeWindowSketch", 7}});
    const auto redrawn = Experiments::selections().at("welcomeWindowSketch");
    EXPECT_TRUE(redrawn == "control" || redrawn == "sketch");
}

TEST_F(AccountChoicesGui, TheMenuTogglesTheOverrideAndOffersToReopenDocuments)
{
    kx::UserDefaults::standard().setObject(Experiments::decisionsKey, {{"welcomeWindowSketch", "control"}});
    auto menu = Experiments::generateMenu();
    ASSERT_EQ(menu->numberOfItems(), 1);
    auto item = menu->itemAtIndex(0);
    EXPECT_EQ(item->title(), "welcomeWindowSketch");
    EXPECT_EQ(item->state(), kx::NativeMenuItem::State::off);
    int reopened = 0;
    Experiments::setReopenDocumentsHandler([&] { ++reopened; });

    answerNextAlert(1); // Not Now
    ASSERT_TRUE(menu->performActionForItem(*item));
    EXPECT_EQ(Experiments::selections().at("welcomeWindowSketch"), "sketch");
    EXPECT_EQ(item->state(), kx::NativeMenuItem::State::on);
    EXPECT_EQ(reopened, 0);

    answerNextAlert(0); // Reopen Documents
    ASSERT_TRUE(menu->performActionForItem(*item));
    EXPECT_EQ(Experiments::selections().at("welcomeWindowSketch"), "control");
    EXPECT_EQ(item->state(), kx::NativeMenuItem::State::off);
    EXPECT_EQ(reopened, 1);
    // The decision stays; only the override moved.
    EXPECT_EQ(kx::UserDefaults::standard().objectForKey(Experiments::decisionsKey)["welcomeWindowSketch"], "control");
    EXPECT_EQ(kx::UserDefaults::standard().objectForKey(Experiments::overridesKey)["welcomeWindowSketch"], "control");
}

TEST_F(AccountChoicesGui, TheEnvironmentChooserStoresTheChoiceAndSignsOutOnAChange)
{
    unsetenv(AppServices::environmentVariable);
    EXPECT_EQ(AppServices::currentEnvironment().name, "production");
    int logouts = 0;
    AppServices::setLogoutHandler([&] { ++logouts; });

    answerNextAlert(1, "staging"); // Cancel
    AppServices::chooseEnvironment();
    EXPECT_EQ(AppServices::currentEnvironment().name, "production");
    EXPECT_EQ(logouts, 0);

    answerNextAlert(0, "staging");
    AppServices::chooseEnvironment();
    EXPECT_EQ(kx::UserDefaults::standard().stringForKey(AppServices::environmentKey), "staging");
    EXPECT_EQ(AppServices::currentEnvironment().name, "staging");
    EXPECT_EQ(AppServices::userRecordURL(), "https://api.staging.korvel.com/studio/me");
    EXPECT_EQ(logouts, 1);

    answerNextAlert(0); // the same one again
    AppServices::chooseEnvironment();
    EXPECT_EQ(logouts, 1);

    answerNextAlert(0, "local");
    AppServices::chooseEnvironment();
    EXPECT_EQ(AppServices::currentEnvironment().name, "local");
    EXPECT_EQ(AppServices::currentEndpoints().api, AccountTestEnvironment::backend().url() + "api/");
    EXPECT_EQ(logouts, 2);
}
