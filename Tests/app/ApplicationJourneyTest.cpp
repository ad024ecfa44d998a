// A user's first session, end to end, with real clicks and keys on the running application:
// sign in, a project from an example of the start window, an edit, the preview with a device
// picked from its settings menu, live sharing whose QR code leads to the prototype's page, Save
// As, close, quit; then the next launch reopens the project from the recent list as it was.
#include <gtest/gtest.h>
#include <glib.h>

#include <algorithm>
#include <cstdlib>
#include <regex>

#include "ApplicationProcess.h"
#include "ApplicationTests.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FileSystem.h"
#include "support/ChildProcess.h"
#include "support/HttpFetch.h"
#include "support/ProjectServerSetup.h"
#include "support/Spin.h"

namespace fs = std::filesystem;
using kxtest::ApplicationHome;
using kxtest::ApplicationProcess;
using kxtest::startTitle;
using kxtest::windowTimeout;
using kxtest::Clickable;
namespace Display = kxtest::Display;
using namespace std::chrono_literals;

namespace kxtest {

std::optional<Clickable> previewPage(ApplicationProcess& app, const std::string& document)
{
    for (auto& item : app.clickables()) {
        if (item.kind == "web" && item.window == previewWindow(document) && item.name.find("/preview.html?") != std::string::npos)
            return item;
    }
    return std::nullopt;
}

} // namespace kxtest

namespace {

using kxtest::previewPage;
using kxtest::previewWindow;

bool zbarIsInstalled()
{
    gchar* zbar = g_find_program_in_path("zbarimg");
    g_free(zbar);
    return zbar != nullptr;
}

// What the QR codes in the image say, one a line.
std::string decodeQRCodes(const fs::path& image)
{
    return kxtest::runProgram({"zbarimg", "--raw", "-q", image.string()}).output;
}

// Screenshots go to $KX_TEST_SCREENSHOTS when set (to look at them), else into the home.
fs::path screenshotFolder(const ApplicationHome& home)
{
    const char* folder = std::getenv("KX_TEST_SCREENSHOTS");
    return folder && *folder ? fs::path(folder) : home.folder.path();
}

std::vector<Clickable> buttonsOf(ApplicationProcess& app, const std::string& window)
{
    std::vector<Clickable> buttons;
    for (auto& item : app.clickables()) {
        if (item.kind == "button" && item.window == window)
            buttons.push_back(std::move(item));
    }
    return buttons;
}

bool hasButton(ApplicationProcess& app, const std::string& window, const std::string& name)
{
    const auto buttons = buttonsOf(app, window);
    return std::any_of(buttons.begin(), buttons.end(), [&](const Clickable& button) { return button.name == name; });
}

int countOf(ApplicationProcess& app, const std::string& kind, const std::string& window, const std::string& name)
{
    int count = 0;
    for (const auto& item : app.clickables())
        count += item.kind == kind && item.window == window && item.name == name;
    return count;
}

} // namespace

TEST(ApplicationJourney, AProjectFromAnExampleIsEditedPreviewedOnADeviceSharedSavedAndReopenedAsItWas)
{
    KX_REQUIRE_PROJECT_SERVER();
    ASSERT_TRUE(zbarIsInstalled()) << "zbarimg is not installed: run scripts/setup (package zbar-tools)";
    ApplicationHome home;
    const fs::path project = home.folder / "projects" / "landing.korvelx";
    fs::create_directories(project.parent_path());
    const std::string exampleTitle = "Landing example";
    const std::string editedTitle = exampleTitle + " \u2014 Edited";
    {
        ApplicationProcess app(home, kxtest::applicationBackend().url());
        ASSERT_TRUE(app.launch());
        ASSERT_TRUE(app.waitForStep("showLoginWindow"));
        signInThroughSecondProcess(home, app);
        ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));

        // The example's card on the start page: its project opens in place of the start window.
        const auto example = app.waitForClickable("page", startTitle, "example-landing");
        ASSERT_TRUE(example);
        Display::click(*example);
        ASSERT_TRUE(kxtest::spinUntil([&] { return Display::hasVisibleWindow(exampleTitle); }, windowTimeout));
        EXPECT_TRUE(kxtest::spinUntil([] { return !Display::hasVisibleWindow(startTitle); }));

        // The first frame's name becomes "Aboard"; the field's focus also selects the frame,
        // which the preview's device settings apply to.
        ASSERT_TRUE(kxtest::typeIntoEditor(app, exampleTitle, "Aboard"));

        // The preview: the title bar's button opens it with the prototype's page.
        const auto showPreview = app.waitForClickable("button", editedTitle, "Show Preview");
        ASSERT_TRUE(showPreview);
        Display::click(*showPreview);
        std::optional<Clickable> page;
        ASSERT_TRUE(kxtest::spinUntil([&] { return (page = previewPage(app, exampleTitle)).has_value(); }, windowTimeout));
        EXPECT_NE(page->name.find("projectURL=http://127.0.0.1:"), std::string::npos) << page->name;

        // A device from the settings menu (the leftmost button of the preview's title bar):
        // Device, Phone, its "graphite" skin.
        EXPECT_TRUE(kxtest::spinUntil([&] { return !hasButton(app, previewWindow(exampleTitle), "Rotate"); }, windowTimeout));
        // Where the button is once the window is at rest; a click that a busy machine's newly
        // mapped window did not take yet is given again, once.
        const auto settings = app.waitForClickable("button", previewWindow(exampleTitle), "Preview Settings");
        ASSERT_TRUE(settings);
        Display::click(*settings);
        auto device = app.waitForClickable("menuitem", "(popup)", "Device", std::chrono::seconds(10));
        if (!device) {
            Display::click(app.waitForClickable("button", previewWindow(exampleTitle), "Preview Settings").value_or(*settings));
            device = app.waitForClickable("menuitem", "(popup)", "Device");
        }
        ASSERT_TRUE(device);
        Display::click(*device);
        const auto phone = app.waitForClickable("menuitem", "(popup)", "Phone");
        ASSERT_TRUE(phone);
        Display::click(*phone);
        const auto skin = app.waitForClickable("menuitem", "(popup)", "graphite");
        ASSERT_TRUE(skin);
        Display::click(*skin);
        // A phone can turn: the preview's title bar gains the rotate button that a canvas lacks.
        EXPECT_TRUE(app.waitForClickable("button", previewWindow(exampleTitle), "Rotate"));
        EXPECT_EQ(countOf(app, "menuitem", "(popup)", "Device"), 0); // the menu closed
        Display::screenshot(screenshotFolder(home) / "journey-preview.png");

        // Live sharing from the document window's title bar: Start, then the QR code.
        ASSERT_TRUE(Display::focusWindow(editedTitle));
        const auto liveSharing = app.waitForClickable("button", editedTitle, "Live Sharing");
        ASSERT_TRUE(liveSharing);
        Display::click(*liveSharing);
        const auto start = app.waitForClickable("button", editedTitle, "Start");
        ASSERT_TRUE(start);
        Display::click(*start);
        ASSERT_TRUE(app.waitForClickable("button", editedTitle, "Stop"));
        const fs::path shot = screenshotFolder(home) / "journey-live-sharing.png";
        std::string shareURL;
        const std::regex shareAddress(R"(http://[0-9.]+:[0-9]+/[0-9a-f]{24}/)");
        ASSERT_TRUE(kxtest::spinUntil(
            [&] {
                // The code is drawn a moment after the button says "Stop".
                Display::screenshot(shot);
                shareURL = decodeQRCodes(shot);
                while (!shareURL.empty() && (shareURL.back() == '\n' || shareURL.back() == '\r'))
                    shareURL.pop_back();
                return std::regex_match(shareURL, shareAddress);
            },
            windowTimeout))
            << shareURL;
        // The address serves the prototype's page, as a phone on the network would get it.
        const auto shared = kxtest::fetch(shareURL);
        EXPECT_EQ(shared.status, 200u);
        const auto previewFile = kx::Bundle::executablePath().parent_path() / "Resources" / "server" / "public" / "preview.html";
        EXPECT_EQ(shared.body, kx::FileSystem::readFile(previewFile).value_or("(missing)"));
        // Beside it the project the page shows; nothing hidden of the project leaves the machine.
        const auto sharedDocument = kxtest::fetch(shareURL + "project/design/document.json");
        EXPECT_EQ(sharedDocument.status, 200u);
        EXPECT_NE(sharedDocument.body.find("\"frames\""), std::string::npos) << sharedDocument.body;
        EXPECT_EQ(kxtest::fetch(shareURL + "project/.project.log").status, 404u);
        EXPECT_EQ(kxtest::fetch(shareURL + "project/%2e%2e/package").status, 404u);

        // Save As a zip project, by typing its path into the save panel.
        ASSERT_TRUE(Display::focusWindow(editedTitle));
        Display::pressKey("s", true, true);
        ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Save"); }, windowTimeout));
        ASSERT_TRUE(Display::focusWindow("Save"));
        Display::pressKey("a", true);
        Display::typeText(project.string());
        Display::pressKey("Return");
        // Saved: the file is there and the window is called after it, no longer "Edited".
        ASSERT_TRUE(kxtest::spinUntil([&] { return fs::exists(project) && Display::hasVisibleWindow("landing"); }, windowTimeout));
        EXPECT_FALSE(Display::hasVisibleWindow(exampleTitle));
        EXPECT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(previewWindow("landing")); }, windowTimeout));
        // Closed, the start window is back; quitting there leaves no document to restore, so
        // the next launch starts at the start window.
        ASSERT_TRUE(Display::focusWindow("landing"));
        Display::pressControl('w');
        ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));
        EXPECT_FALSE(Display::hasVisibleWindow("landing"));
        ASSERT_TRUE(Display::focusWindow(startTitle));
        Display::pressControl('q');
        ASSERT_TRUE(app.waitForExit(windowTimeout));
        EXPECT_EQ(app.status(), 0);
    }
    // The edit and the frame's device are in the saved project.
    const std::string saved = kxtest::storedDocument(project);
    EXPECT_NE(saved.find(R"("name":"Aboard")"), std::string::npos) << saved;
    EXPECT_NE(saved.find(R"("deviceType":"korvel-phone")"), std::string::npos) << saved;
    EXPECT_NE(saved.find(R"("skin":"graphite")"), std::string::npos) << saved;
    EXPECT_NE(saved.find(R"("name":"Pricing")"), std::string::npos);

    // The next launch: still signed in, the start window lists the project first; Return
    // opens it, unedited, with its four frames.
    ApplicationProcess again(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(again.launch());
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));
    EXPECT_FALSE(again.hasStep("showLoginWindow"));
    ASSERT_TRUE(Display::focusWindow(startTitle));
    Display::pressKey("Return");
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("landing"); }, windowTimeout));
    EXPECT_TRUE(kxtest::spinUntil([&] { return countOf(again, "page", "landing", "Frame name") == 4; }, windowTimeout));

    // The first frame, selected by a click on its name, shows on its phone again in the preview.
    const auto reopenedPreview = again.waitForClickable("button", "landing", "Show Preview");
    ASSERT_TRUE(reopenedPreview);
    Display::click(*reopenedPreview);
    ASSERT_TRUE(kxtest::spinUntil([&] { return previewPage(again, "landing").has_value(); }, windowTimeout));
    // Nothing selected yet: the canvas, which does not turn. (Its other buttons may still be
    // waiting for the page.)
    EXPECT_TRUE(kxtest::spinUntil([&] { return !hasButton(again, previewWindow("landing"), "Rotate"); }, windowTimeout));
    ASSERT_TRUE(Display::focusWindow("landing"));
    std::optional<Clickable> firstName;
    for (const auto& item : again.clickables()) {
        if (item.kind == "page" && item.window == "landing" && item.name == "Frame name" && (!firstName || item.y < firstName->y))
            firstName = item;
    }
    ASSERT_TRUE(firstName);
    Display::click(*firstName);
    EXPECT_TRUE(again.waitForClickable("button", previewWindow("landing"), "Rotate"));
    EXPECT_TRUE(Display::hasVisibleWindow("landing")); // the click edited nothing
    Display::screenshot(screenshotFolder(home) / "journey-reopened.png");

    ASSERT_TRUE(Display::focusWindow("landing"));
    Display::pressControl('q');
    ASSERT_TRUE(again.waitForExit(windowTimeout));
    EXPECT_EQ(again.status(), 0);
    EXPECT_EQ(kxtest::storedDocument(project), saved);
}
