// The application by keyboard alone, as a person who uses no mouse does, and as a screen reader
// announces it: the start window of a first launch (an empty recent list) and with recent
// projects (the list, "Open…", "New", an example), a document
// window's menus and toolbar, the preview's toolbar and its settings menu, the live-sharing
// popover and an alert are each reached with Tab and the arrow keys and pressed with Space or
// Return; the focus is followed over AT-SPI, Tab takes the same stops round after round, and
// every window on the way is walked there for a control that a screen reader could not
// announce or press, also while panels and menus close, and nothing logs a critical.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "ApplicationProcess.h"
#include "ApplicationTests.h"
#include "ScreenReader.h"
#include "support/ProjectServerSetup.h"
#include "support/Spin.h"

namespace fs = std::filesystem;
using kxtest::ApplicationHome;
using kxtest::ApplicationProcess;
using kxtest::ScreenReader;
using kxtest::startTitle;
using kxtest::windowTimeout;
using kxtest::popupItems;
using kxtest::previewPage;
using kxtest::previewWindow;
namespace Display = kxtest::Display;
using namespace std::chrono_literals;

namespace {

// Presses `key` and waits until the focus has moved and come to rest (a page's own focus
// answers from its process); whether it moved.
bool pressAndFollow(ScreenReader& reader, const std::string& key)
{
    const int before = reader.focusChanges();
    Display::pressKey(key);
    if (!kxtest::spinUntil([&] { return reader.focusChanges() != before; }, 3s))
        return false;
    const auto rest = [&] { return kxtest::spinUntil([&] { return std::chrono::steady_clock::now() - reader.lastFocusChange() > 250ms; }); };
    if (!rest())
        return false;
    // A page's view is announced before the page gives its control the focus, which a slow
    // page does later than the rest above: a stop that stays without a name is still one.
    const int atView = reader.focusChanges();
    if (reader.focus().name.empty() && kxtest::spinUntil([&] { return reader.focusChanges() != atView; }, 3s))
        return rest();
    return true;
}

// Presses `key` until the screen reader announces `name` (as `role`, when given); whether it
// did, and where the focus went when it did not.
::testing::AssertionResult pressTo(ScreenReader& reader, const std::string& key, int presses, const std::string& name,
                                   const std::string& role = {})
{
    const auto there = [&] { return reader.focus().name == name && (role.empty() || reader.focus().role == role); };
    std::string stops;
    for (int press = 0; press < presses && !there(); ++press) {
        // Where nothing else takes the focus, the next press goes on.
        stops += pressAndFollow(reader, key) ? "[" + reader.focus().name + " (" + reader.focus().role + ")]" : "[no move]";
    }
    if (there())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << key << " never reached " << name << "; it went " << stops;
}

::testing::AssertionResult tabTo(ScreenReader& reader, const std::string& name, const std::string& role = {})
{
    return pressTo(reader, "Tab", 40, name, role);
}

::testing::AssertionResult arrowTo(ScreenReader& reader, const std::string& key, const std::string& name)
{
    return pressTo(reader, key, 20, name);
}

// What Tab reaches from the focus, each control as announced ("name (role)"), until the focus
// has come round to where it started.
std::vector<std::string> tabRound(ScreenReader& reader)
{
    const auto announced = [&] { return reader.focus().name + " (" + reader.focus().role + ")"; };
    const std::string start = announced();
    std::vector<std::string> round;
    for (int press = 0; press < 40 && (round.empty() || round.back() != start); ++press)
        round.push_back(pressAndFollow(reader, "Tab") ? announced() : "(no focus)");
    return round;
}

// Two rounds of Tab from the focus take the same stops, each one a control with a name, and
// reach the controls `expected` in their order.
void expectSteadyTabOrder(ScreenReader& reader, const std::vector<std::string>& expected,
                          kxtest::SourceLocation where = kxtest::SourceLocation::current())
{
    SCOPED_TRACE(::testing::Message() << "Tab order checked at line " << where.line());
    const std::vector<std::string> first = tabRound(reader);
    std::string stops;
    std::size_t reached = 0;
    for (const auto& stop : first) {
        stops += "[" + stop + "]";
        EXPECT_FALSE(stop.starts_with(" (") || stop == "(no focus)") << "an empty stop";
        if (reached < expected.size() && stop.starts_with(expected[reached] + " ("))
            ++reached;
    }
    EXPECT_EQ(reached, expected.size()) << stops;
    EXPECT_EQ(tabRound(reader), first) << "the first round: " << stops;
}

// No window of `app` on screen holds a control that a screen reader cannot announce, and the
// control `name` is among them (in `window`, when given: a window's title, or its role in
// brackets for one without, as "(dialog)"), announced as `name`.
void expectAnnounced(ScreenReader& reader, ApplicationProcess& app, const std::string& name, const std::string& window = {},
                     kxtest::SourceLocation where = kxtest::SourceLocation::current())
{
    SCOPED_TRACE(::testing::Message() << "windows checked at line " << where.line());
    // The tree over the bus follows a window just shown a moment later (a busy machine's, later).
    bool seen = false;
    std::string windows, faults;
    (void)kxtest::spinUntil([&] {
        windows.clear();
        faults.clear();
        for (const auto& control : reader.controls(app.pid())) {
            seen = seen || (control.name == name && (window.empty() || control.window == window));
            windows += "[" + control.window + ": " + control.name + "]";
            if (!control.fault.empty())
                faults += control.window + ": " + control.role + " '" + control.name + "': " + control.fault + "\n";
        }
        return seen;
    }, windowTimeout);
    EXPECT_EQ(faults, "");
    EXPECT_TRUE(seen) << "no control " << name << " in " << (window.empty() ? "any window" : window) << " over AT-SPI, in " << windows;
}

// Reads the windows of `app` over and over, as a screen reader follows windows that close,
// until `done`; whether it came.
bool readUntil(ScreenReader& reader, ApplicationProcess& app, const std::function<bool()>& done)
{
    return kxtest::spinUntil([&] {
        reader.controls(app.pid());
        return done();
    }, windowTimeout);
}

void writeFolderProject(const fs::path& project, const std::string& frame)
{
    fs::create_directories(project / "design");
    std::ofstream(project / "design" / "document.json")
        << R"({"version":1,"frames":[{"id":"a","name":")" << frame << R"(","text":""}]})";
}

} // namespace

TEST(ApplicationKeyboard, TheWholeJourneyByKeysAloneAndEveryWindowAnnouncedToAScreenReader)
{
    KX_REQUIRE_PROJECT_SERVER();
    ScreenReader reader;
    ASSERT_TRUE(reader.isConnected()) << "no accessibility bus in this D-Bus session (at-spi2-core)";

    // A first launch: no recent project yet.
    ApplicationHome home;
    writeFolderProject(home.folder / "Alpha", "Home");
    writeFolderProject(home.folder / "Beta", "Home");

    // Read as it is, no window, panel or menu may log a critical.
    ApplicationProcess app(home, kxtest::applicationBackend().url(), {}, {}, {{"G_DEBUG", "fatal-criticals"}});
    ASSERT_TRUE(app.launch());
    ASSERT_TRUE(app.waitForStep("showLoginWindow"));
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(kxtest::loginTitle); }, windowTimeout));
    expectAnnounced(reader, app, "Main Menu", kxtest::loginTitle);
    // The login window takes the keys in its first field; its Tab order holds round after round.
    ASSERT_TRUE(Display::focusWindow(kxtest::loginTitle));
    // On a busy machine the field may take the focus before the reader hears the application:
    // Tab away and back, and it says where the keys are again.
    if (!kxtest::spinUntil([&] { return reader.focus().name == "Your name"; }, 10s)) {
        Display::pressKey("Tab");
        Display::pressKey("Tab", false, true);
    }
    ASSERT_TRUE(kxtest::spinUntil([&] { return reader.focus().name == "Your name"; }, windowTimeout));
    EXPECT_EQ(reader.focus().role, "entry");
    expectSteadyTabOrder(reader, {"Email", "Sign In", "Main Menu", "Your name"});
    signInThroughSecondProcess(home, app);
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));
    ASSERT_TRUE(Display::focusWindow(startTitle));
    // With the list empty, the keys start at "New", and no stop of Tab is empty.
    EXPECT_TRUE(kxtest::spinUntil([&] { return reader.focus().name == "New"; }, windowTimeout))
        << reader.focus().name << " (" << reader.focus().role << ")";
    expectAnnounced(reader, app, "Open\u2026", startTitle);
    // Once its page is on screen (until then, Tab passes it by).
    ASSERT_TRUE(kxtest::spinUntil([&] {
        const auto shown = app.clickables();
        return std::any_of(shown.begin(), shown.end(), [](const auto& item) { return item.kind == "web" && item.window == startTitle; });
    }, windowTimeout));
    expectSteadyTabOrder(reader, {"Close", "Main Menu", "Start the Tutorial", "Contact Support", "Open\u2026", "New"});

    // Two projects in the recent list, the newer first. "Open…" shows the open panel; Escape
    // there brings the start window back, its list read anew. A screen reader reads the
    // windows while the panel closes.
    fs::create_directories(home.data() / "com.korvel.x");
    std::ofstream(home.data() / "com.korvel.x" / "RecentDocuments.txt")
        << "file://" << (home.folder / "Beta").string() << "\nfile://" << (home.folder / "Alpha").string() << "\n";
    ASSERT_TRUE(tabTo(reader, "Open\u2026", "push button"));
    Display::pressKey("Return");
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Open"); }, windowTimeout));
    ASSERT_TRUE(Display::focusWindow("Open"));
    Display::pressKey("Escape");
    ASSERT_TRUE(readUntil(reader, app, [] { return !Display::hasVisibleWindow("Open") && Display::hasVisibleWindow(startTitle); }));
    ASSERT_TRUE(Display::focusWindow(startTitle));
    EXPECT_TRUE(kxtest::spinUntil([&] { return reader.focus().name == "Beta"; }, windowTimeout)) << reader.focus().name;

    // Round after round, Tab takes the same stops: every control of the window and of its page.
    ASSERT_TRUE(tabTo(reader, "Close", "push button"));
    expectSteadyTabOrder(reader, {"Main Menu", "Beta", "Start the Tutorial", "Contact Support", "Open\u2026", "New", "Close"});

    // The recent list: one stop of Tab, the rows by the arrow keys, each read as its project.
    ASSERT_TRUE(tabTo(reader, "Beta", "list item"));
    EXPECT_EQ(reader.focus().application, "Korvel X");
    ASSERT_TRUE(pressAndFollow(reader, "Down"));
    EXPECT_EQ(reader.focus().name, "Alpha");
    ASSERT_TRUE(pressAndFollow(reader, "Up"));
    EXPECT_EQ(reader.focus().name, "Beta");
    // Shift+F10 and the Menu key open a row's menu, as a right click does.
    for (const bool menuKey : {false, true}) {
        Display::pressKey(menuKey ? "Menu" : "F10", false, !menuKey);
        EXPECT_TRUE(kxtest::spinUntil([&] { return popupItems(app) == std::vector<std::string>{"Show in Files"}; }));
        Display::pressKey("Escape");
        ASSERT_TRUE(readUntil(reader, app, [&] { return popupItems(app).empty(); }));
    }
    ASSERT_TRUE(pressAndFollow(reader, "Tab"));
    EXPECT_NE(reader.focus().role, "list item") << "Tab leaves the list at once";

    // "New" makes a document, whose page takes the keys at its first control as the window
    // opens; closing it unedited brings the start window back.
    ASSERT_TRUE(tabTo(reader, "New", "push button"));
    Display::pressKey("space");
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Untitled"); }, windowTimeout));
    ASSERT_TRUE(Display::focusWindow("Untitled"));
    EXPECT_TRUE(kxtest::spinUntil([&] { return reader.focus().name == "Add Frame"; }, windowTimeout))
        << reader.focus().name << " (" << reader.focus().role << ")";
    ASSERT_TRUE(tabTo(reader, "Show Preview", "push button"));
    expectSteadyTabOrder(reader, {"Live Sharing", "Add Frame", "Frame text", "Show Preview"});
    Display::pressControl('w');
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));
    // Back, the keys are in the list again, and that is what a screen reader hears, not the
    // "New" that closed the window.
    EXPECT_TRUE(kxtest::spinUntil([&] { return reader.focus().name == "Beta"; }, windowTimeout)) << reader.focus().name;
    EXPECT_TRUE(kxtest::spinUntil([&] { return std::chrono::steady_clock::now() - reader.lastFocusChange() > 500ms; }));
    EXPECT_EQ(reader.focus().name + " (" + reader.focus().role + ")", "Beta (list item)");

    // The About window, from the main menu's button: Down to the application's submenu, Right
    // into it, Down to About.
    ASSERT_TRUE(Display::focusWindow(startTitle));
    ASSERT_TRUE(tabTo(reader, "Main Menu"));
    Display::pressKey("Return");
    ASSERT_TRUE(arrowTo(reader, "Down", "Korvel X"));
    expectAnnounced(reader, app, "Korvel X");
    ASSERT_TRUE(pressAndFollow(reader, "Right"));
    ASSERT_TRUE(arrowTo(reader, "Down", "About Korvel X"));
    Display::pressKey("Return");
    ASSERT_TRUE(readUntil(reader, app, [] { return Display::hasVisibleWindow("About Korvel X"); }));
    expectAnnounced(reader, app, "Close", "About Korvel X");
    ASSERT_TRUE(Display::focusWindow("About Korvel X"));
    Display::pressControl('w');
    ASSERT_TRUE(readUntil(reader, app, [] { return !Display::hasVisibleWindow("About Korvel X"); }));

    // An example of the start page: its card, reached with Tab through the page, announced by
    // the page's own process.
    ASSERT_TRUE(Display::focusWindow(startTitle));
    ASSERT_TRUE(tabTo(reader, "Landing Page"));
    Display::pressKey("Return");
    const std::string example = "Landing example";
    ASSERT_TRUE(kxtest::spinUntil([&] { return Display::hasVisibleWindow(example); }, windowTimeout));
    ASSERT_TRUE(Display::focusWindow(example));
    expectAnnounced(reader, app, "Show Preview", example);

    // The document window's menus and its title bar: F10 goes to the title bar's buttons first
    // (GTK's way in a window with a title bar of its own), F10 again opens the menu bar's first
    // menu, and the arrows move along.
    ASSERT_TRUE(pressAndFollow(reader, "F10"));
    EXPECT_EQ(reader.focus().name, "Show Preview");
    Display::pressKey("F10");
    ASSERT_TRUE(kxtest::spinUntil([&] { return reader.focus().role == "menu" || reader.focus().role == "menu item"; }));
    ASSERT_TRUE(arrowTo(reader, "Right", "File"));
    ASSERT_TRUE(arrowTo(reader, "Down", "Save As\u2026"));
    expectAnnounced(reader, app, "Save As\u2026");
    // Return shows the save panel; Escape closes it while a screen reader reads the windows.
    Display::pressKey("Return");
    ASSERT_TRUE(readUntil(reader, app, [] { return Display::hasVisibleWindow("Save"); }));
    ASSERT_TRUE(Display::focusWindow("Save"));
    Display::pressKey("Escape");
    ASSERT_TRUE(readUntil(reader, app, [] { return !Display::hasVisibleWindow("Save"); }));

    // Its toolbar: the preview.
    ASSERT_TRUE(Display::focusWindow(example));
    ASSERT_TRUE(tabTo(reader, "Show Preview", "push button"));
    Display::pressKey("Return");
    std::optional<kxtest::Clickable> page;
    ASSERT_TRUE(kxtest::spinUntil([&] { return (page = previewPage(app, example)).has_value(); }, windowTimeout));
    ASSERT_TRUE(Display::focusWindowOf(*page));
    expectAnnounced(reader, app, "Preview Settings", previewWindow(example));

    // The preview's settings menu, and its live-sharing popover started and stopped.
    ASSERT_TRUE(tabTo(reader, "Preview Settings"));
    Display::pressKey("Return");
    ASSERT_TRUE(app.waitForClickable("menuitem", "(popup)", "Device"));
    // A menu popped up from a button hangs from no window in the tree: its items are read as
    // the arrows reach them.
    ASSERT_TRUE(arrowTo(reader, "Down", "Device"));
    EXPECT_EQ(reader.focus().role, "menu");
    Display::pressKey("Escape");
    ASSERT_TRUE(readUntil(reader, app, [&] { return popupItems(app).empty(); }));
    ASSERT_TRUE(tabTo(reader, "Live Preview"));
    Display::pressKey("Return");
    ASSERT_TRUE(app.waitForClickable("button", previewWindow(example), "Start"));
    expectAnnounced(reader, app, "Start", previewWindow(example));
    ASSERT_TRUE(tabTo(reader, "Start", "push button"));
    Display::pressKey("space");
    ASSERT_TRUE(app.waitForClickable("button", previewWindow(example), "Stop"));
    ASSERT_TRUE(tabTo(reader, "Stop", "push button"));
    Display::pressKey("Return");
    EXPECT_TRUE(kxtest::spinUntil([&] { return !app.waitForClickable("button", previewWindow(example), "Stop", 1s); }, windowTimeout));

    // An alert: the edited example closed asks whether to keep it; Tab to "Delete", Space.
    ASSERT_TRUE(Display::focusWindow(example));
    ASSERT_TRUE(tabTo(reader, "Frame text"));
    Display::typeText("Keys");
    ASSERT_TRUE(kxtest::spinUntil([&] { return Display::hasVisibleWindow(example + " \u2014 Edited"); }, windowTimeout));
    ASSERT_TRUE(Display::focusWindow(example + " \u2014 Edited"));
    Display::pressControl('w');
    const auto remove = app.waitForClickable("button", "(untitled)", "Delete");
    ASSERT_TRUE(remove);
    ASSERT_TRUE(Display::focusWindowOf(*remove));
    expectAnnounced(reader, app, "Delete", "(dialog)");
    ASSERT_TRUE(tabTo(reader, "Delete", "push button"));
    Display::pressKey("space");
    ASSERT_TRUE(kxtest::spinUntil([&] { return !Display::hasVisibleWindow(example + " \u2014 Edited"); }, windowTimeout));
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));

    // Return on a row of the recent list opens its project.
    ASSERT_TRUE(Display::focusWindow(startTitle));
    ASSERT_TRUE(tabTo(reader, "Beta", "list item"));
    ASSERT_TRUE(arrowTo(reader, "Down", "Alpha"));
    Display::pressKey("Return");
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Alpha"); }, windowTimeout));

    ASSERT_TRUE(Display::focusWindow("Alpha"));
    Display::pressControl('q');
    ASSERT_TRUE(app.waitForExit(windowTimeout));
    EXPECT_EQ(app.status(), 0);
}
