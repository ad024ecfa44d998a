// The support chat against the stand-in: loading, the unread count, showing from buttons.
#include <gtest/gtest.h>

#include "AccountTestEnvironment.h"
#include "App/account/IntercomPopover.h"
#include "App/account/RKSystemIdleTime.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "support/Spin.h"
#include "support/SyntheticInput.h"

using kx::IntercomPopover;
using kxtest::AccountTestEnvironment;
using kxtest::spinUntil;

namespace {

struct ButtonWindow {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* button = gtk_button_new_with_label("Support");
    ButtonWindow()
    {
        gtk_window_set_default_size(GTK_WINDOW(window), 500, 700);
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
        gtk_container_add(GTK_CONTAINER(window), box);
        gtk_widget_show_all(window);
    }
    ~ButtonWindow()
    {
        if (window)
            gtk_widget_destroy(window);
    }
};

} // namespace

TEST(IntercomPopoverGui, LoadsShowsFromItsButtonAndReportsTheUnreadCount)
{
    AccountTestEnvironment::reset();
    AccountTestEnvironment::signInFreshUser("Chat User");
    std::vector<int> counts;
    auto observation = kx::NotificationCenter::defaultCenter().addObserver(
        kx::IntercomUnreadCountDidChangeNotification, nullptr,
        [&](const kx::Notification& notification) { counts.push_back(notification.userInfo["count"].get<int>()); });
    auto& popover = IntercomPopover::shared();
    std::vector<bool> loadedChanges;
    auto loadedObservation = popover.isLoaded.observe([&](auto phase, bool, bool loaded) {
        if (phase == kx::Observable<bool>::Phase::didChange)
            loadedChanges.push_back(loaded);
    });

    popover.load();
    ASSERT_TRUE(spinUntil([&] { return popover.isLoaded.get(); }, kxtest::accountPageTimeout));
    EXPECT_EQ(loadedChanges, std::vector<bool>{true});
    // A new conversation starts with one unread greeting.
    ASSERT_TRUE(spinUntil([&] { return popover.unreadCount() == 1; }, kxtest::accountPageTimeout));

    ButtonWindow first;
    popover.toggle(first.button);
    ASSERT_TRUE(spinUntil([&] { return popover.isShown(); }));
    EXPECT_EQ(popover.currentButton(), first.button);
    ASSERT_TRUE(spinUntil([&] { return popover.unreadCount() == 0; }, kxtest::accountPageTimeout)); // shown: read
    EXPECT_EQ(counts, (std::vector<int>{1, 0}));
    popover.toggle(first.button);
    ASSERT_TRUE(spinUntil([&] { return !popover.isShown(); }));
    EXPECT_EQ(popover.currentButton(), first.button);

    // The button's window goes while the chat is open: the page survives for the next button.
    ButtonWindow second;
    popover.toggle(second.button);
    ASSERT_TRUE(spinUntil([&] { return popover.isShown(); }));
    gtk_widget_destroy(second.window);
    second.window = nullptr;
    EXPECT_EQ(popover.currentButton(), nullptr);
    EXPECT_FALSE(popover.isShown());
    popover.toggle(first.button);
    ASSERT_TRUE(spinUntil([&] { return popover.isShown(); }));
    popover.hide();
    ASSERT_TRUE(spinUntil([&] { return !popover.isShown(); }));

    // Counts that are not whole numbers are not believed.
    kxtest::LogCapture log;
    popover.webViewController()->evaluateJavaScript(
        "for (const count of ['7', 1.5, null, -3, 5]) window.webkit.messageHandlers._webkit.postMessage("
        "JSON.stringify({method: 'unreadCount', arguments: {count: count}}))");
    ASSERT_TRUE(spinUntil([&] { return counts.size() == 3; }, kxtest::accountPageTimeout));
    // '7', 1.5 and null are refused with a line each; -3 reads as 0, no change; 5 is told.
    EXPECT_EQ(counts, (std::vector<int>{1, 0, 5}));
    EXPECT_EQ(log.lines().size(), 3u);
}

TEST(RKSystemIdleTimeGui, CountsFromTheLastInputOnTheXServer)
{
    kx::RKSystemIdleTime::startTracking();
    kx::RKSystemIdleTime::startTracking(); // once is enough; again changes nothing
    // Input through the X server starts the count again.
    kxtest::warpPointer(10, 10);
    kxtest::warpPointer(20, 20);
    EXPECT_TRUE(spinUntil([] { return kx::RKSystemIdleTime::secondsIdle() < 2; }));
}
