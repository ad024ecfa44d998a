// The recent-documents list as the start window shows it: which items of the desktop's store
// are ours and in what order, our own list's file, the ones whose files are gone, and the row
// texts; with the window's other pure parts (placement, page placeholders, the start-up
// setting).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "App/welcome/RecentDocuments.h"
#include "App/welcome/WelcomeWindow.h"
#include "App/welcome/WelcomeWindowController.h"
#include "App/welcome/WelcomeWindowRecentsRowView.h"
#include "Platform/Foundation/UserDefaults.h"
#include "support/TestPaths.h"

using kx::RecentDocuments;
using kx::WelcomeWindow;
using kx::WelcomeWindowRecentsRowView;
using Paths = std::vector<std::filesystem::path>;

TEST(WelcomeRecents, OurProjectsNewestFirstWithEqualTimesInStoreOrder)
{
    const std::vector<RecentDocuments::Item> store{
        {"file:///p/old.korvelx", 100, {"Korvel X"}},
        {"file:///p/new.korvelx", 300, {"Files", "Korvel X"}},
        {"file:///p/tie-first.korvelx", 200, {"Korvel X"}},
        {"file:///p/tie-second.korvelx", 200, {"Korvel X"}},
        {"file:///p/folder%20project.korvelx/", 250, {"Korvel X"}}, // a folder, as the desktop writes it
        {"file:///p/legacy.korvel", 150, {"Korvel X"}},
        {"file:///p/other.korvelx", 400, {"Some Editor"}},       // registered by someone else
        {"file:///p/notes.txt", 500, {"Korvel X"}},              // ours, but no project
        {"file:///p/tutorial.korveltutorial", 500, {"Korvel X"}}, // tutorials start new documents
        {"file:///p/UPPER.KORVELX", 500, {"Korvel X"}},
        {"https://example.com/x.korvelx", 500, {"Korvel X"}}, // not a local file
        {"not a uri", 500, {"Korvel X"}},
        {"file:///p/nobody.korvelx", 500, {}},
    };
    EXPECT_EQ(RecentDocuments::select(store, "Korvel X"),
              (Paths{"/p/new.korvelx", "/p/folder project.korvelx", "/p/tie-first.korvelx", "/p/tie-second.korvelx",
                     "/p/legacy.korvel", "/p/old.korvelx"}));
    EXPECT_TRUE(RecentDocuments::select(store, "Korvel").empty());
    EXPECT_TRUE(RecentDocuments::select({}, "Korvel X").empty());
}

TEST(WelcomeRecents, AStoreFullOfOurItemsGivesTheNewestHundred)
{
    std::vector<RecentDocuments::Item> store;
    for (int index = 0; index < 5000; ++index)
        store.push_back({"file:///p/" + std::to_string(index) + ".korvelx", index, {"Korvel X"}});
    const auto listed = RecentDocuments::select(store, "Korvel X");
    ASSERT_EQ(listed.size(), RecentDocuments::maximumRecentDocumentCount);
    EXPECT_EQ(listed.front(), "/p/4999.korvelx");
    EXPECT_EQ(listed.back(), "/p/4900.korvelx");
}

TEST(WelcomeRecents, OurListKeepsAnyNameOnItsLineAndReadsHostileTextAsFarAsItGoes)
{
    // Names with blanks, a line break, bytes that are no UTF-8, and a folder without extension.
    const Paths paths{"/p/Landing Page.korvelx", "/p/two\nlines.korvelx", "/p/caf\xe9.korvelx", "/p/Folder Project"};
    const std::string text = RecentDocuments::encodeList(paths);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
    auto decoded = RecentDocuments::decodeList(text);
    EXPECT_EQ(decoded.paths, paths);
    EXPECT_EQ(decoded.leftOut, 0u);

    // Repeats go, a trailing slash or a "localhost" names the same file, a last line without
    // its line break counts; what names no absolute local path is left out and counted.
    decoded = RecentDocuments::decodeList("file:///p/a.korvelx\r\n\n"
                                          "file:///p/a.korvelx/\n"
                                          "file://localhost/p/b.korvelx\n"
                                          "file://elsewhere/p/c.korvelx\n"
                                          "https://example.com/d.korvelx\n"
                                          "/p/not-a-uri.korvelx\n"
                                          "file:///p/%00nul.korvelx\n"
                                          + std::string("file:///p/e.korvelx\0file:///p/f.korvelx\n", 40)
                                          + "\xff\xfe garbage\n"
                                            "file:///p/z.korvelx");
    EXPECT_EQ(decoded.paths, (Paths{"/p/a.korvelx", "/p/b.korvelx", "/p/z.korvelx"}));
    EXPECT_EQ(decoded.leftOut, 6u);

    // A hundred at most: the rest are left out.
    std::string many;
    for (int index = 0; index < 130; ++index)
        many += "file:///p/" + std::to_string(index) + ".korvelx\n";
    decoded = RecentDocuments::decodeList(many);
    ASSERT_EQ(decoded.paths.size(), RecentDocuments::maximumRecentDocumentCount);
    EXPECT_EQ(decoded.paths.back(), "/p/99.korvelx");
    EXPECT_EQ(decoded.leftOut, 30u);
    EXPECT_TRUE(RecentDocuments::decodeList("").paths.empty());
}

TEST(WelcomeRecents, DocumentsWhoseFilesAreGoneAreLeftOut)
{
    kxtest::TemporaryDirectory folder;
    std::ofstream(folder / "b.korvelx") << "PK";
    std::filesystem::create_directories(folder / "c.korvelx");
    std::filesystem::create_symlink(folder / "gone.korvelx", folder / "dangling.korvelx");
    EXPECT_EQ(WelcomeWindow::existingDocuments({folder / "a.korvelx", folder / "b.korvelx", folder / "dangling.korvelx",
                                                folder / "c.korvelx", folder / "b.korvelx"}),
              (Paths{folder / "b.korvelx", folder / "c.korvelx", folder / "b.korvelx"}));
    EXPECT_TRUE(WelcomeWindow::existingDocuments({}).empty());
}

TEST(WelcomeRecents, RowTitlesDropTheExtension)
{
    EXPECT_EQ(WelcomeWindowRecentsRowView::titleText("/p/Landing Page.korvelx"), "Landing Page");
    EXPECT_EQ(WelcomeWindowRecentsRowView::titleText("/p/x.korvelx copy.korvelx"), "x copy");
    // A colon is an ordinary character of a Linux file name.
    EXPECT_EQ(WelcomeWindowRecentsRowView::titleText("/p/a:b.korvelx"), "a:b");
    EXPECT_EQ(WelcomeWindowRecentsRowView::titleText("/p/legacy.korvel"), "legacy.korvel");
    // A name that is no UTF-8 still gives text the row can draw.
    const std::string title = WelcomeWindowRecentsRowView::titleText("/p/caf\xe9.korvelx");
    EXPECT_EQ(title, "caf\xef\xbf\xbd");
    EXPECT_EQ(WelcomeWindowRecentsRowView::pathText("/home/bob/d\xff/a.korvelx", "/home/bob"), "~/d\xef\xbf\xbd");
}

TEST(WelcomeRecents, RowPathsShortenOnlyALeadingHomeFolder)
{
    const std::filesystem::path home = "/home/bob";
    EXPECT_EQ(WelcomeWindowRecentsRowView::pathText("/home/bob/Projects/a.korvelx", home), "~/Projects");
    EXPECT_EQ(WelcomeWindowRecentsRowView::pathText("/home/bob/a.korvelx", home), "~");
    EXPECT_EQ(WelcomeWindowRecentsRowView::pathText("/home/bob/a.korvelx", "/home/bob/"), "~");
    // Another user's folder that begins with the same letters, and a path that holds the home
    // folder further in, stay as they are.
    EXPECT_EQ(WelcomeWindowRecentsRowView::pathText("/home/bobby/p/a.korvelx", home), "/home/bobby/p");
    EXPECT_EQ(WelcomeWindowRecentsRowView::pathText("/mnt/home/bob/p/a.korvelx", home), "/mnt/home/bob/p");
    EXPECT_EQ(WelcomeWindowRecentsRowView::pathText("/srv/p/a.korvelx", home), "/srv/p");
    EXPECT_EQ(WelcomeWindowRecentsRowView::pathText("/a.korvelx", home), "/");
    // A home folder of "/" shortens nothing.
    EXPECT_EQ(WelcomeWindowRecentsRowView::pathText("/srv/p/a.korvelx", "/"), "/srv/p");
}

TEST(WelcomeWindowPlacement, AWindowOutsideTheVisibleSizeIsCentred)
{
    const kx::Size visible{1600, 970};
    const kx::Size window{840, 540};
    EXPECT_FALSE(WelcomeWindow::needsCentring({{100, 100}, window}, visible));
    EXPECT_FALSE(WelcomeWindow::needsCentring({{760, 430}, window}, visible)); // touching the far edges
    EXPECT_TRUE(WelcomeWindow::needsCentring({{-1, 100}, window}, visible));
    EXPECT_TRUE(WelcomeWindow::needsCentring({{761, 100}, window}, visible));
    EXPECT_TRUE(WelcomeWindow::needsCentring({{100, -1}, window}, visible));
    EXPECT_TRUE(WelcomeWindow::needsCentring({{100, 431}, window}, visible));
    // GTK's top-left frame, seen from the bottom left of a 1000-point screen.
    EXPECT_EQ(WelcomeWindow::flippedFrame({{100, 20}, window}, 1000), (kx::Rect{{100, 440}, window}));
    // A window whose bottom reaches into a panel of 30 points at the bottom of the screen.
    EXPECT_TRUE(WelcomeWindow::needsCentring(WelcomeWindow::flippedFrame({{100, 450}, window}, 1000), visible) == false);
    EXPECT_TRUE(WelcomeWindow::needsCentring(WelcomeWindow::flippedFrame({{100, 470}, window}, 1000), visible));
}

TEST(WelcomeWindowPage, BuildNameAndVersionFillThePage)
{
    const std::string page = "<p>{{ buildName }} {{ buildVersion }}</p><i>{{ buildVersion }}</i>";
    EXPECT_EQ(WelcomeWindow::fillPlaceholders(page, "Dev", "v2.1-dev"), "<p>Dev v2.1-dev</p><i>v2.1-dev</i>");
    EXPECT_EQ(WelcomeWindow::fillPlaceholders(page, "Nightly", "3.0"), "<p>Nightly 3.0</p><i>3.0</i>");
    EXPECT_EQ(WelcomeWindow::fillPlaceholders(page, "", "v2.1 dev"), "<p> 2.1 de</p><i>2.1 de</i>");
    EXPECT_EQ(WelcomeWindow::fillPlaceholders(page, "Beta", "beta/1.2"),
              "<p>Beta {{ buildVersion }}</p><i>{{ buildVersion }}</i>");
    EXPECT_EQ(WelcomeWindow::fillPlaceholders("{{ buildName }}", "<b>&", "1"), "&lt;b&gt;&amp;");
}

TEST(WelcomeWindowController, ShowOnStartupIsTrueUnlessANumberSaysOtherwise)
{
    kxtest::TemporaryDirectory folder;
    kx::UserDefaults defaults(folder / "defaults.json");
    const std::string key = "WelcomeWindowShowOnStartup";
    EXPECT_TRUE(kx::WelcomeWindowController::shouldShowOnStartup(defaults));
    EXPECT_EQ(defaults.objectForKey(key), true);
    EXPECT_TRUE(std::filesystem::exists(defaults.file())); // written at once

    defaults.setBool(key, false);
    EXPECT_FALSE(kx::WelcomeWindowController::shouldShowOnStartup(defaults));
    defaults.setInteger(key, 0);
    EXPECT_FALSE(kx::WelcomeWindowController::shouldShowOnStartup(defaults));
    defaults.setInteger(key, 2);
    EXPECT_TRUE(kx::WelcomeWindowController::shouldShowOnStartup(defaults));
    defaults.setString(key, "no");
    EXPECT_TRUE(kx::WelcomeWindowController::shouldShowOnStartup(defaults));
    EXPECT_EQ(defaults.objectForKey(key), true);
}
