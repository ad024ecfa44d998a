// The application as a native Wayland client (GDK_BACKEND=wayland, no X display to fall back
// to), under a private headless weston (the wayland.journey entry): the login window, a sign-in
// that brings the start window, and a document window, each on screen with its page. What the
// test sees comes from the application's own list of its windows: a Wayland client cannot look
// at another's.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <string>

#include "ApplicationProcess.h"
#include "ApplicationTests.h"
#include "support/Spin.h"

using kxtest::ApplicationHome;
using kxtest::ApplicationProcess;
using kxtest::loginTitle;
using kxtest::startTitle;
using kxtest::windowTimeout;

namespace {

// Whether the application shows a window of this title with something in it.
bool showsWindow(ApplicationProcess& app, const std::string& title)
{
    for (const auto& item : app.clickables())
        if (item.window == title && item.width > 0 && item.height > 0)
            return true;
    return false;
}

// Whether a window of this title shows a web page.
bool showsPage(ApplicationProcess& app, const std::string& title)
{
    for (const auto& item : app.clickables())
        if (item.kind == "web" && item.window == title && !item.name.empty() && item.width > 0)
            return true;
    return false;
}

} // namespace

TEST(ApplicationWayland, TheLoginTheStartWindowAndADocumentOpenAsANativeClient)
{
    const char* backend = std::getenv("GDK_BACKEND");
    if (!std::getenv("WAYLAND_DISPLAY") || !backend || std::string(backend) != "wayland")
        GTEST_SKIP() << "needs a Wayland compositor: the wayland.journey entry runs it under a headless weston";
    ASSERT_EQ(std::getenv("DISPLAY"), nullptr) << "an X display would let GTK fall back to X11";
    kxtest::applicationBackend().clearRecorded();
    ApplicationHome home;
    ApplicationProcess app(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(app.launch());
    ASSERT_TRUE(app.waitForStep("showLoginWindow"));
    EXPECT_TRUE(kxtest::spinUntil([&] { return showsPage(app, loginTitle); }, windowTimeout));

    kxtest::signInThroughSecondProcess(home, app);
    ASSERT_TRUE(app.waitForStep("showWelcomeWindow"));
    EXPECT_TRUE(kxtest::spinUntil([&] { return showsWindow(app, startTitle); }, windowTimeout));
    EXPECT_TRUE(kxtest::spinUntil([&] { return !showsWindow(app, loginTitle); }));

    // A store link makes a document for itself in place of the start window.
    ApplicationProcess store(home, kxtest::applicationBackend().url(), {"korvel-x://store/package/some-package"});
    ASSERT_TRUE(store.launch());
    ASSERT_TRUE(store.waitForExit());
    EXPECT_TRUE(app.waitForStep("handleURLEvent store"));
    EXPECT_TRUE(kxtest::spinUntil([&] { return showsPage(app, "Untitled"); }, windowTimeout));
    EXPECT_TRUE(kxtest::spinUntil([&] { return !showsWindow(app, startTitle); }));

    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForExit());
    EXPECT_EQ(app.reason(), kx::Process::TerminationReason::exit);
    EXPECT_EQ(app.status(), 0);
}
