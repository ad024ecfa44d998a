// Projects as a user makes them in the running application, by keyboard: a new document from
// the start window, typing in the editor, Save As a zip project, closing, reopening it from the
// start window's recent list; and an edited untitled document kept across quitting.
#include <gtest/gtest.h>

#include <glib.h>
#include <signal.h>

#include <cstdio>

#include "ApplicationProcess.h"
#include "ApplicationTests.h"
#include "Platform/Foundation/FileSystem.h"
#include "support/Spin.h"

namespace fs = std::filesystem;
using kxtest::ApplicationHome;
using kxtest::ApplicationProcess;
using kxtest::startTitle;
using kxtest::windowTimeout;
namespace Display = kxtest::Display;
using kxtest::nodeIsInstalled;
using kxtest::storedDocument;
using kxtest::typeIntoEditor;
using namespace std::chrono_literals;

namespace kxtest {

// The design's document of a zip project, as stored.
std::string storedDocument(const fs::path& package)
{
    std::string command = "unzip -p '" + package.string() + "' design/document.json 2>/dev/null";
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            text.append(buffer, n);
        ::pclose(pipe);
    }
    return text;
}

// Types `text` (one word: a space would press a button) into the editor of the window
// `title` as a user would: Tab from field to field until one takes the text (the first is the
// "Add Frame" button, then the first frame's name). The editor page may still be loading.
bool typeIntoEditor(const std::string& title, const std::string& text)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (!Display::focusWindow(title))
            return false;
        Display::pressKey("Tab");
        Display::typeText(text);
        // Edited, and for good: a new document's title may say so for a moment while it loads.
        const std::string edited = title + " \u2014 Edited";
        if (kxtest::spinUntil([&] { return Display::hasVisibleWindow(edited); }, 2s)
            && !kxtest::spinUntil([&] { return !Display::hasVisibleWindow(edited); }, 1s))
            return true;
    }
    return false;
}

bool nodeIsInstalled()
{
    gchar* node = g_find_program_in_path("node");
    g_free(node);
    return node != nullptr;
}

} // namespace kxtest

namespace {


std::vector<fs::path> drafts(const ApplicationHome& home)
{
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(home.data() / "com.korvel.x" / "Drafts", ec))
        found.push_back(item.path());
    return found;
}

} // namespace

TEST(ApplicationDocuments, ANewProjectIsSavedClosedAndReopenedFromTheStartWindow)
{
    if (!nodeIsInstalled())
        GTEST_SKIP() << "node is not installed: the project server cannot run (scripts/setup installs it)";
    ApplicationHome home;
    const fs::path projects = home.folder / "projects";
    fs::create_directories(projects);
    const fs::path project = projects / "landing.korvelx";

    ApplicationProcess app(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(app.launch());
    ASSERT_TRUE(app.waitForStep("showLoginWindow"));
    signInThroughSecondProcess(home, app);
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));

    // New, from the start window: the document's window takes its place.
    ASSERT_TRUE(Display::focusWindow(startTitle));
    Display::pressControl('n');
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Untitled"); }, windowTimeout));
    EXPECT_TRUE(kxtest::spinUntil([] { return !Display::hasVisibleWindow(startTitle); }));
    ASSERT_TRUE(typeIntoEditor("Untitled", "Aboard"));

    // Save As, a zip project, by typing its path into the save panel.
    Display::pressKey("s", true, true);
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Save"); }, windowTimeout));
    ASSERT_TRUE(Display::focusWindow("Save"));
    Display::pressKey("a", true);
    Display::typeText(project.string());
    Display::pressKey("Return");
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("landing"); }, windowTimeout));
    EXPECT_NE(storedDocument(project).find("Aboard"), std::string::npos) << storedDocument(project);

    // Closing it brings the start window back, with the project first in its list.
    ASSERT_TRUE(Display::focusWindow("landing"));
    Display::pressControl('w');
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));
    EXPECT_FALSE(Display::hasVisibleWindow("landing"));
    EXPECT_FALSE(app.exited());

    // Return opens the selected recent document.
    ASSERT_TRUE(Display::focusWindow(startTitle));
    Display::pressKey("Return");
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("landing"); }, windowTimeout));
    EXPECT_TRUE(kxtest::spinUntil([] { return !Display::hasVisibleWindow(startTitle); }));

    // Quitting with it open leaves the file as saved.
    ASSERT_TRUE(Display::focusWindow("landing"));
    Display::pressControl('q');
    ASSERT_TRUE(app.waitForExit(windowTimeout));
    EXPECT_EQ(app.status(), 0);
    EXPECT_NE(storedDocument(project).find("Aboard"), std::string::npos);
}

TEST(ApplicationDocuments, AnEditedUntitledDocumentSurvivesQuittingAndComesBackAtTheNextLaunch)
{
    if (!nodeIsInstalled())
        GTEST_SKIP() << "node is not installed: the project server cannot run (scripts/setup installs it)";
    ApplicationHome home;
    const std::string typed = R"("name":"Z")";
    {
        ApplicationProcess app(home, kxtest::applicationBackend().url());
        ASSERT_TRUE(app.launch());
        ASSERT_TRUE(app.waitForStep("showLoginWindow"));
        signInThroughSecondProcess(home, app);
        ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));
        ASSERT_TRUE(Display::focusWindow(startTitle));
        Display::pressControl('n');
        ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Untitled"); }, windowTimeout));
        // One letter, so that the window's edited title says the page has taken all of it (the
        // keys of a burst reach the page one by one, and a quit could come between them).
        ASSERT_TRUE(typeIntoEditor("Untitled", "Z"));

        // Quit at once, long before the minute of an autosave: quitting writes the draft.
        Display::pressControl('q');
        ASSERT_TRUE(app.waitForExit(windowTimeout));
        EXPECT_EQ(app.status(), 0);
    }
    auto kept = drafts(home);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(storedDocument(kept.front()).find(typed), std::string::npos) << storedDocument(kept.front());

    // The next launch shows the document again, unsaved still, in place of the start window.
    ApplicationProcess again(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(again.launch());
    ASSERT_TRUE(again.waitForStep("restoreDocuments"));
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Untitled \u2014 Edited"); }, windowTimeout));
    EXPECT_FALSE(again.hasStep("applicationShouldOpenUntitledFile"));
    EXPECT_FALSE(Display::hasVisibleWindow(startTitle));

    // Ended by a signal this time: the draft is still there, whole.
    again.signal(SIGTERM);
    ASSERT_TRUE(again.waitForExit(windowTimeout));
    kept = drafts(home);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(storedDocument(kept.front()).find(typed), std::string::npos);
}

TEST(ApplicationDocuments, ASignalWhileASavePanelIsOpenClosesItKeepsTheWorkAndEnds)
{
    if (!nodeIsInstalled())
        GTEST_SKIP() << "node is not installed: the project server cannot run (scripts/setup installs it)";
    ApplicationHome home;
    ApplicationProcess app(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(app.launch());
    ASSERT_TRUE(app.waitForStep("showLoginWindow"));
    signInThroughSecondProcess(home, app);
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));
    ASSERT_TRUE(Display::focusWindow(startTitle));
    Display::pressControl('n');
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Untitled"); }, windowTimeout));
    ASSERT_TRUE(typeIntoEditor("Untitled", "Q"));

    // The save panel waits for the user in a loop of its own: a signal must not wait with it.
    Display::pressKey("s", true, true);
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Save"); }, windowTimeout));
    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForExit(windowTimeout)) << "the application waited for the panel";
    EXPECT_EQ(app.status(), 0);
    // Saved without asking, as a draft; nothing was saved where the panel pointed.
    auto kept = drafts(home);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(storedDocument(kept.front()).find(R"("name":"Q")"), std::string::npos) << storedDocument(kept.front());
}
