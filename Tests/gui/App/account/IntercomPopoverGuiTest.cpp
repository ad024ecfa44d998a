// The support chat against the stand-in: loading, the unread count, showing from buttons, and
// going away when a sheet comes over the document window that showed it.
#include <gtest/gtest.h>

#include "AccountTestEnvironment.h"
#include "App/account/IntercomPopover.h"
#include "App/account/RKSystemIdleTime.h"
#include "App/documents/PDDocumentWindow.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "gui/App/documents/DocumentTestEnvironment.h"
#include "gui/App/shell/widgets/WidgetTestWindow.h"
#include "support/LogCapture.h"
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

namespace {

// The chat over a document window when a sheet comes: an alert or the save panel on the window
// whose button showed the chat hides it; a sheet on another document's window does not. After
// the test above: the chat loads once in a process.
using namespace kxtest;

class DocumentSheetGui : public DocumentGuiTest {
protected:
    void SetUp() override
    {
        DocumentGuiTest::SetUp();
        if (IsSkipped())
            return;
        AccountTestEnvironment::reset();
        AccountTestEnvironment::signInFreshUser("Sheet User");
    }
    void TearDown() override
    {
        kx::IntercomPopover::shared().hide();
        DocumentGuiTest::TearDown();
        AccountTestEnvironment::reset();
    }
    // Shows the chat from the messenger button of `document`'s window, clicked.
    void showChat(kx::KVDocument& document)
    {
        auto& chat = kx::IntercomPopover::shared();
        chat.hide();
        ASSERT_TRUE(spinUntil([&] { return !chat.isShown() && kx::Alert::shownAlerts().empty(); }));
        GtkWindow* window = document.windowForSheet();
        gtk_window_present(window);
        ASSERT_TRUE(spinUntil([&] { return gtk_window_is_active(window); }));
        GtkWidget* button = document.documentWindow()->intercomButton()->widget();
        ASSERT_TRUE(spinUntil([&] { return gtk_widget_is_sensitive(button) && gtk_widget_get_mapped(button); }));
        moveTo(centreOf(button));
        clickButton();
        ASSERT_TRUE(spinUntil([&] { return chat.isShown(); }));
        EXPECT_EQ(chat.currentButton(), button);
    }
};

TEST_F(DocumentSheetGui, ASheetOnTheWindowHidesTheChatShownFromItsButton)
{
    auto& chat = kx::IntercomPopover::shared();
    chat.load();
    ASSERT_TRUE(spinUntil([&] { return chat.isLoaded.get(); }, accountPageTimeout));
    auto document = newDocument();
    auto other = newDocument();
    ASSERT_TRUE(document && other && waitForEditor(*document));

    // An alert on the document's window. Shown, the chat has been read: the button's image
    // changes, the button stays the chat's.
    showChat(*document);
    ASSERT_TRUE(spinUntil([&] { return chat.unreadCount() == 0; }, accountPageTimeout));
    settle();
    EXPECT_EQ(chat.currentButton(), document->documentWindow()->intercomButton()->widget());
    controller->presentError(kx::Error("Test", 1, "Something went wrong."), document->windowForSheet());
    EXPECT_TRUE(spinUntil([&] { return !chat.isShown(); }));
    ASSERT_TRUE(answer("OK"));

    // One on another document's window leaves it.
    showChat(*document);
    controller->presentError(kx::Error("Test", 1, "Something else went wrong."), other->windowForSheet());
    ASSERT_TRUE(waitForAlert());
    spinFor(300ms);
    EXPECT_TRUE(chat.isShown());
    ASSERT_TRUE(answer("OK"));

    // The save panel on the document's window.
    showChat(*document);
    controller->setPanelRunnerForTesting(nullptr);
    std::optional<bool> shownWithPanel;
    kx::MainQueue::async([&] {
        GtkWidget* panel = nullptr;
        EXPECT_TRUE(spinUntil([&] {
            GList* windows = gtk_window_list_toplevels();
            for (GList* item = windows; item; item = item->next)
                if (GTK_IS_FILE_CHOOSER_DIALOG(item->data) && gtk_widget_get_mapped(GTK_WIDGET(item->data)))
                    panel = GTK_WIDGET(item->data);
            g_list_free(windows);
            return panel != nullptr;
        }));
        shownWithPanel = chat.isShown();
        if (panel)
            gtk_dialog_response(GTK_DIALOG(panel), GTK_RESPONSE_CANCEL);
    });
    bool ended = false;
    document->saveDocumentAs([&](std::optional<kx::Error>) { ended = true; });
    ASSERT_TRUE(spinUntil([&] { return ended; }));
    EXPECT_EQ(shownWithPanel, false);
}

} // namespace

TEST(RKSystemIdleTimeGui, CountsFromTheLastInputOnTheXServer)
{
    kx::RKSystemIdleTime::startTracking();
    kx::RKSystemIdleTime::startTracking(); // once is enough; again changes nothing
    // Input through the X server starts the count again.
    kxtest::warpPointer(10, 10);
    kxtest::warpPointer(20, 20);
    EXPECT_TRUE(spinUntil([] { return kx::RKSystemIdleTime::secondsIdle() < 2; }));
}
