// The start window's controller as the application object and the document controller use
// it: loading without showing, showing with a fresh list, closing with its notification.
#include "gui/App/welcome/WelcomeFixture.h"

#include "App/welcome/WelcomeWindowController.h"
#include "Platform/Foundation/NotificationCenter.h"

namespace {

class WelcomeWindowControllerGui : public kxtest::WelcomeFixture {
};

} // namespace

TEST_F(WelcomeWindowControllerGui, LoadsOnceShowsAFreshListAndSaysWhenItClosed)
{
    std::vector<std::filesystem::path> documents;
    int made = 0;
    kx::WelcomeWindowController controller([&] {
        ++made;
        return std::make_unique<kx::WelcomeWindow>(kx::WelcomeWindow::defaultContentSize, [&] { return documents; },
                                                   environment());
    });
    int closes = 0;
    auto observation = kx::NotificationCenter::defaultCenter().addObserver(
        kx::WelcomeWindowController::windowDidCloseNotification, &controller, [&](const kx::Notification&) {
            ++closes;
            EXPECT_FALSE(controller.isVisible()); // already off the screen
        });

    EXPECT_FALSE(controller.isWindowLoaded());
    EXPECT_FALSE(controller.isVisible());
    controller.close(); // nothing to close yet
    controller.loadWindow();
    controller.loadWindow();
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(controller.isWindowLoaded());
    EXPECT_FALSE(controller.isVisible());
    EXPECT_TRUE(controller.window().recentDocuments().empty());

    const auto document = project("Shown.korvelx");
    documents = {document};
    controller.showWindow();
    EXPECT_TRUE(controller.isVisible());
    EXPECT_EQ(controller.window().recentDocuments(), std::vector<std::filesystem::path>{document});
    EXPECT_EQ(controller.window().recentsTableView()->numberOfRows(), 1);

    controller.close();
    ASSERT_TRUE(kxtest::spinUntil([&] { return closes == 1; }));

    // Reloading refreshes the list of a hidden window without showing it.
    std::filesystem::remove(document);
    controller.reloadWindow();
    EXPECT_FALSE(controller.isVisible());
    EXPECT_TRUE(controller.window().recentDocuments().empty());
    EXPECT_EQ(controller.window().recentsTableView()->numberOfRows(), 0);
    EXPECT_NE(controller.window().noRecentDocumentsView(), nullptr);
    EXPECT_EQ(made, 1);
}

TEST_F(WelcomeWindowControllerGui, ReadsTheListOnceForAShowingAndAgainAtALaterActivation)
{
    const auto first = project("First.korvelx");
    std::vector<std::filesystem::path> documents{first};
    int reads = 0;
    kx::WelcomeWindowController controller([&] {
        return std::make_unique<kx::WelcomeWindow>(kx::WelcomeWindow::defaultContentSize, [&] {
            ++reads;
            return documents;
        }, environment());
    });
    controller.loadWindow();
    EXPECT_EQ(reads, 0); // read when shown
    controller.showWindow();
    kx::WelcomeWindow& window = controller.window();
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_window_is_active(window.gtkWindow()); }));
    kxtest::settle();
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(window.recentDocuments(), std::vector<std::filesystem::path>{first});
    EXPECT_EQ(window.recentsTableView()->numberOfRows(), 1);
    EXPECT_EQ(window.recentsTableView()->selectedRow(), 0);

    // Another window takes the focus; a project opened meanwhile is listed when the start window
    // is active again, later than the activations that come with a showing.
    kxtest::spinFor(std::chrono::duration_cast<std::chrono::milliseconds>(kx::WelcomeWindow::listSharedFor));
    const auto second = project("Second.korvelx");
    documents = {second, first};
    GtkWidget* other = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_show(other);
    gtk_window_present(GTK_WINDOW(other));
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_window_is_active(GTK_WINDOW(other)); }));
    gtk_window_present(window.gtkWindow());
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_window_is_active(window.gtkWindow()); }));
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(window.recentDocuments(), (std::vector<std::filesystem::path>{second, first}));
    EXPECT_EQ(window.recentsTableView()->numberOfRows(), 2);
    EXPECT_EQ(window.recentsTableView()->selectedRow(), 0);
    gtk_widget_destroy(other);

    // Closed and shown again: one read for the new showing.
    controller.close();
    ASSERT_TRUE(kxtest::spinUntil([&] { return !controller.isVisible(); }));
    controller.showWindow();
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_window_is_active(window.gtkWindow()); }));
    kxtest::settle();
    EXPECT_EQ(reads, 3);
}
