// The start window's controller as the application object and the document controller use
// it: loading without showing, showing with a fresh list, closing with its notification.
#include "gui/App/shell/welcome/WelcomeFixture.h"

#include "App/shell/welcome/WelcomeWindowController.h"
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
