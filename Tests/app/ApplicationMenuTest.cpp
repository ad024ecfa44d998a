// The application's menu where no window shows a menu bar: the login and start windows carry
// it in a button, validated and with its keys as in a document window; and the project
// document's commands of the File menu. All by real input.
#include <gtest/gtest.h>

#include <glib.h>
#include <signal.h>

#include <algorithm>
#include <sstream>

#include <nlohmann/json.hpp>

#include "ApplicationProcess.h"
#include "ApplicationTests.h"
#include "Platform/Foundation/FileSystem.h"
#include "support/ProjectServerSetup.h"
#include "support/Spin.h"

using kxtest::ApplicationHome;
using kxtest::ApplicationProcess;
using kxtest::Clickable;
using kxtest::loginTitle;
using kxtest::startTitle;
using kxtest::windowTimeout;
namespace Display = kxtest::Display;

namespace kxtest {

std::vector<std::string> popupItems(ApplicationProcess& app)
{
    std::vector<std::string> names;
    for (const auto& item : app.clickables()) {
        if (item.kind == "menuitem" && item.window == "(popup)")
            names.push_back(item.name);
    }
    return names;
}

} // namespace kxtest

namespace {

using kxtest::popupItems;

// Whether the settings say night (the key is absent until the first switch).
bool isNight(const ApplicationHome& home)
{
    const auto text = kx::FileSystem::readFile(home.config() / "com.korvel.x" / "defaults.json").value_or("");
    const auto defaults = nlohmann::json::parse(text, nullptr, false);
    return defaults.is_object() && defaults.value("HasDarkAppearance", false);
}


// What the application handed to the desktop to open, in order.
std::vector<std::string> openedAddresses(const std::filesystem::path& file)
{
    std::vector<std::string> lines;
    std::istringstream text(kx::FileSystem::readFile(file).value_or(""));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

std::filesystem::path pathOf(const std::string& address)
{
    gchar* path = g_filename_from_uri(address.c_str(), nullptr, nullptr);
    std::filesystem::path result = path ? path : "";
    g_free(path);
    return result;
}

bool contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Opens the window's menu from its button and points at `submenu`; false when either is not
// there.
bool openSubmenu(ApplicationProcess& app, const std::string& window, const std::string& submenu)
{
    const auto button = app.waitForClickable("button", window, "Main Menu", windowTimeout);
    if (!button)
        return false;
    Display::click(*button);
    const auto item = app.waitForClickable("menuitem", "(popup)", submenu, windowTimeout);
    if (!item)
        return false;
    Display::click(*item);
    return true;
}

void closeMenus(ApplicationProcess& app)
{
    for (int i = 0; i < 3 && !popupItems(app).empty(); ++i) {
        Display::pressKey("Escape");
        (void)kxtest::spinUntil([&] { return popupItems(app).empty(); }, std::chrono::seconds(2));
    }
}

} // namespace

TEST(ApplicationMenu, WindowsWithoutAMenuBarCarryTheApplicationMenuInAButton)
{
    ApplicationHome home;
    ApplicationProcess app(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(app.launch());
    ASSERT_TRUE(app.waitForStep("showLoginWindow"));
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(loginTitle); }, windowTimeout));

    // Nobody signed in: the account's commands wait, as in the menu bar; About does not.
    ASSERT_TRUE(openSubmenu(app, loginTitle, "Korvel X"));
    ASSERT_TRUE(app.waitForClickable("menuitem", "(popup)", "About Korvel X"));
    auto items = popupItems(app);
    EXPECT_TRUE(contains(items, "Quit Korvel X"));
    for (const char* waiting : {"Check for Updates…", "Account Dashboard…", "Sign Out…"})
        EXPECT_FALSE(contains(items, waiting)) << waiting;
    closeMenus(app);

    kxtest::signInThroughSecondProcess(home, app);
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));

    // Signed in, the start window's menu has them all; About opens its window.
    ASSERT_TRUE(Display::focusWindow(startTitle));
    ASSERT_TRUE(openSubmenu(app, startTitle, "Korvel X"));
    ASSERT_TRUE(app.waitForClickable("menuitem", "(popup)", "Sign Out…"));
    items = popupItems(app);
    for (const char* command : {"Check for Updates…", "Account Dashboard…", "Quit Korvel X"})
        EXPECT_TRUE(contains(items, command)) << command;
    const auto about = app.waitForClickable("menuitem", "(popup)", "About Korvel X");
    ASSERT_TRUE(about);
    Display::click(*about);
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("About Korvel X"); }, windowTimeout));
    ASSERT_TRUE(Display::closeWindow("About Korvel X"));
    ASSERT_TRUE(kxtest::spinUntil([] { return !Display::hasVisibleWindow("About Korvel X"); }));

    // Night Mode from the menu, then back by its keys, Ctrl+Alt+N.
    ASSERT_TRUE(Display::focusWindow(startTitle));
    ASSERT_TRUE(openSubmenu(app, startTitle, "View"));
    const auto nightMode = app.waitForClickable("menuitem", "(popup)", "Night Mode");
    ASSERT_TRUE(nightMode);
    Display::click(*nightMode);
    ASSERT_TRUE(kxtest::spinUntil([&] { return isNight(home); }));
    ASSERT_TRUE(openSubmenu(app, startTitle, "View"));
    EXPECT_TRUE(app.waitForClickable("menuitem", "(popup)", "Day Mode"));
    closeMenus(app);
    ASSERT_TRUE(Display::focusWindow(startTitle));
    Display::pressKey("n", true, false, true);
    EXPECT_TRUE(kxtest::spinUntil([&] { return !isNight(home); }));

    // The Help commands are there too; Ctrl+Q quits from the start window.
    ASSERT_TRUE(openSubmenu(app, startTitle, "Help"));
    EXPECT_TRUE(app.waitForClickable("menuitem", "(popup)", "Korvel X Help"));
    closeMenus(app);
    ASSERT_TRUE(Display::focusWindow(startTitle));
    Display::pressControl('q');
    ASSERT_TRUE(app.waitForExit(windowTimeout));
    EXPECT_EQ(app.status(), 0);
}

TEST(ApplicationMenu, TheFileMenuShowsTheProjectAndItsLogInFiles)
{
    KX_REQUIRE_PROJECT_SERVER();
    ApplicationHome home;
    const auto opened = home.folder / "opened";
    // Backups soon: the project log has its first line (a new project's has none, and the
    // command only says so then).
    ApplicationProcess app(home, kxtest::applicationBackend().url(), {}, {},
                           {{"KX_TEST_OPENED", opened.string()}, {"KX_TEST_BACKUP_MS", "700"}});
    ASSERT_TRUE(app.launch());
    ASSERT_TRUE(app.waitForStep("showLoginWindow"));
    kxtest::signInThroughSecondProcess(home, app);
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));

    // Without a document nothing answers them: they wait, New does not.
    ASSERT_TRUE(Display::focusWindow(startTitle));
    ASSERT_TRUE(openSubmenu(app, startTitle, "File"));
    ASSERT_TRUE(app.waitForClickable("menuitem", "(popup)", "New"));
    auto items = popupItems(app);
    EXPECT_FALSE(contains(items, "Show Project in Files"));
    EXPECT_FALSE(contains(items, "Show Project Log"));
    closeMenus(app);

    ASSERT_TRUE(Display::focusWindow(startTitle));
    Display::pressControl('n');
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Untitled"); }, windowTimeout));
    ASSERT_TRUE(Display::focusWindow("Untitled"));
    // The document's working folder, its README selected where the file manager can.
    auto file = app.waitForClickable("menuitem", "Untitled", "File", windowTimeout);
    ASSERT_TRUE(file);
    Display::click(*file);
    auto command = app.waitForClickable("menuitem", "(popup)", "Show Project in Files");
    ASSERT_TRUE(command);
    Display::click(*command);
    ASSERT_TRUE(kxtest::spinUntil([&] { return openedAddresses(opened).size() == 1; }, windowTimeout));
    const std::filesystem::path folder = pathOf(openedAddresses(opened)[0]);
    EXPECT_TRUE(std::filesystem::is_regular_file(folder / "README.md")) << openedAddresses(opened)[0];
    EXPECT_EQ(folder.string().rfind(home.cache().string(), 0), 0u) << folder;

    // Its project log, opened as a file.
    ASSERT_TRUE(kxtest::spinUntil([&] { return std::filesystem::exists(folder / ".project.log"); }, windowTimeout));
    ASSERT_TRUE(Display::focusWindow("Untitled"));
    file = app.waitForClickable("menuitem", "Untitled", "File", windowTimeout);
    ASSERT_TRUE(file);
    Display::click(*file);
    command = app.waitForClickable("menuitem", "(popup)", "Show Project Log");
    ASSERT_TRUE(command);
    Display::click(*command);
    ASSERT_TRUE(kxtest::spinUntil([&] { return openedAddresses(opened).size() == 2; }, windowTimeout));
    EXPECT_EQ(pathOf(openedAddresses(opened)[1]), folder / ".project.log");

    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForExit(windowTimeout));
    EXPECT_EQ(app.status(), 0);
}
