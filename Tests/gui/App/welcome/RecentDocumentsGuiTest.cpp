// The recent projects in our own list and in a desktop recent-files store of the test's own
// (GtkRecentManager over a file): what the document controller notes there, as the file
// manager and the start window read it back, in the order of use, beyond the store's month,
// and from a list file that anyone could have spoilt.
#include "gui/App/welcome/WelcomeFixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <set>

#include "Platform/Foundation/FileSystem.h"
#include "support/LogCapture.h"

namespace {

namespace fs = std::filesystem;

// What the store file says of `path`: its MIME type and whether we registered it.
struct StoredItem {
    std::string mime;
    bool ours = false;
};

std::optional<StoredItem> stored(const fs::path& file, const fs::path& path)
{
    GBookmarkFile* store = g_bookmark_file_new();
    std::optional<StoredItem> item;
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    if (g_bookmark_file_load_from_file(store, file.c_str(), nullptr) && g_bookmark_file_has_item(store, uri)) {
        gchar* mime = g_bookmark_file_get_mime_type(store, uri, nullptr);
        item = StoredItem{mime ? mime : "", bool(g_bookmark_file_has_application(store, uri, "Korvel X", nullptr))};
        g_free(mime);
    }
    g_free(uri);
    g_bookmark_file_free(store);
    return item;
}

std::string listText(const kx::RecentDocuments& recents)
{
    return kx::FileSystem::readFile(recents.listFile()).value_or("");
}

} // namespace

TEST(RecentDocumentsGui, ProjectsAreNotedUnderOurNameWhereTheDesktopReadsThem)
{
    kxtest::TemporaryDirectory folder;
    const fs::path file = folder / "recently-used.xbel";
    const fs::path zip = folder / "Zip Project.korvelx";
    const fs::path older = folder / "Older Folder.korvelx";
    const fs::path fresh = folder / "Fresh Folder.korvelx";
    std::ofstream(zip) << "PK\x03\x04";
    fs::create_directories(older / "design");
    fs::create_directories(fresh / "design");
    kxtest::writeStore(file, {{zip, "Korvel X", kxtest::secondsAgo(3000)},
                              {older, "Korvel X", kxtest::secondsAgo(2000)},
                              {folder / "Theirs.korvelx", "Other Editor", kxtest::secondsAgo(1000)}});
    auto recents = kxtest::recentDocumentsAt(file);
    EXPECT_EQ(recents->recentDocumentURLs(), (std::vector<fs::path>{older, zip}));

    // Before our list exists, it is what the store holds of ours; a noted project becomes the
    // most recent, and the list is ours from then on.
    EXPECT_FALSE(fs::exists(recents->listFile()));
    recents->noteNewRecentDocumentURL(zip);
    EXPECT_EQ(recents->recentDocumentURLs(), (std::vector<fs::path>{zip, older}));
    EXPECT_EQ(listText(*recents), kx::RecentDocuments::encodeList({zip, older}));
    // A folder noted with a trailing slash is the same project.
    recents->noteNewRecentDocumentURL(fs::path(fresh.string() + "/"));
    EXPECT_EQ(recents->recentDocumentURLs(), (std::vector<fs::path>{fresh, zip, older}));

    // The store file holds them for the desktop: under our name, a folder as a folder.
    ASSERT_TRUE(kxtest::spinUntil([&] { return stored(file, fresh).has_value(); }));
    EXPECT_EQ(stored(file, fresh)->mime, "inode/directory");
    EXPECT_TRUE(stored(file, fresh)->ours);
    EXPECT_TRUE(stored(file, zip)->ours);
    EXPECT_FALSE(stored(file, folder / "Theirs.korvelx")->ours);

    // Another reader sees the same list.
    EXPECT_EQ(kxtest::recentDocumentsAt(file)->recentDocumentURLs(), (std::vector<fs::path>{fresh, zip, older}));
}

TEST(RecentDocumentsGui, TheListKeepsTheOrderOfUseWithinOneSecondAndTheLastHundred)
{
    kxtest::TemporaryDirectory folder;
    const fs::path file = folder / "recently-used.xbel";
    auto recents = kxtest::recentDocumentsAt(file);
    std::vector<fs::path> noted;
    // Far more than a hundred, most of them within one second of the store's clock.
    for (int index = 0; index < 130; ++index) {
        noted.push_back(folder / ("Project " + std::to_string(index) + ".korvelx"));
        recents->noteNewRecentDocumentURL(noted.back());
    }
    std::vector<fs::path> expected(noted.rbegin(), noted.rbegin() + 100);
    EXPECT_EQ(recents->recentDocumentURLs(), expected);

    // One used again comes first, also one the list had dropped.
    recents->noteNewRecentDocumentURL(noted[120]);
    recents->noteNewRecentDocumentURL(noted[3]);
    std::erase(expected, noted[120]);
    expected.insert(expected.begin(), {noted[3], noted[120]});
    expected.resize(100);
    EXPECT_EQ(recents->recentDocumentURLs(), expected);
    const std::string text = listText(*recents);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 100);
    EXPECT_EQ(kxtest::recentDocumentsAt(file)->recentDocumentURLs(), expected);
    // Each is in the store for the desktop too.
    ASSERT_TRUE(kxtest::spinUntil([&] { return stored(file, noted[3]).has_value(); }));
    EXPECT_TRUE(stored(file, noted[3])->ours);
}

TEST(RecentDocumentsGui, ASpoiltListGivesWhatCanBeReadAndAnUnreadableOneIsMovedAsideNeverWrittenOver)
{
    kxtest::TemporaryDirectory folder;
    const fs::path file = folder / "recently-used.xbel";
    const fs::path first = folder / "First.korvelx";
    const fs::path second = folder / "Second.korvelx";
    const fs::path third = folder / "Third.korvelx";
    auto recents = kxtest::recentDocumentsAt(file);
    const fs::path list = recents->listFile();

    {
        // Junk between good lines: the good ones, in their order.
        kxtest::LogCapture log;
        std::ofstream(list, std::ios::binary) << kx::RecentDocuments::encodeList({first}) << "\x89PNG\r\n\x1a\n\x00\x01junk\n"
                                              << kx::RecentDocuments::encodeList({second});
        EXPECT_EQ(recents->recentDocumentURLs(), (std::vector<fs::path>{first, second}));
        EXPECT_TRUE(log.contains("were left out")) << ::testing::PrintToString(log.lines());
        // Noting writes the list again without the junk.
        recents->noteNewRecentDocumentURL(third);
        EXPECT_EQ(listText(*recents), kx::RecentDocuments::encodeList({third, first, second}));
    }
    // What cannot be read reads as empty, said once, and is never written over: the next
    // project noted moves it aside (a link moved, not followed) and starts the list again
    // from the store, where the third is.
    const fs::path aside = list.string() + kx::RecentDocuments::unreadableSuffix;
    const std::string text = kx::RecentDocuments::encodeList({first});
    const std::string huge = text + "file:///" + std::string(3 << 20, 'x');
    const fs::path elsewhere = folder / "elsewhere.txt";
    std::ofstream(elsewhere, std::ios::binary) << text;
    const std::vector<std::pair<std::string, std::function<void()>>> kinds{
        {"huge", [&] { std::ofstream(list, std::ios::binary) << huge; }},
        {"link", [&] { fs::create_symlink(elsewhere, list); }},
        {"fifo", [&] { ASSERT_EQ(::mkfifo(list.c_str(), 0600), 0); }},
        {"folder", [&] { fs::create_directories(list / "inside"); }},
        {"no permission", [&] { std::ofstream(list) << text; fs::permissions(list, fs::perms::none); }}};
    for (const auto& [kind, make] : kinds) {
        SCOPED_TRACE(kind);
        if (kind == "no permission" && ::geteuid() == 0)
            continue; // permissions do not bind the superuser
        fs::remove_all(list);
        fs::remove_all(aside);
        make();
        const auto type = fs::symlink_status(list).type();
        kxtest::LogCapture log;
        EXPECT_TRUE(recents->recentDocumentURLs().empty());
        EXPECT_TRUE(recents->recentDocumentURLs().empty());
        const auto lines = log.lines();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](auto& line) { return line.find("not be read:") != line.npos; }), 1);
        recents->noteNewRecentDocumentURL(second);
        EXPECT_EQ(recents->recentDocumentURLs(), (std::vector<fs::path>{second, third}));
        EXPECT_EQ(fs::symlink_status(aside).type(), type);
        EXPECT_TRUE(kind != "huge" || kx::FileSystem::readFile(aside) == huge); // (not printed: 3 MB)
    }
    EXPECT_EQ(kx::FileSystem::readFile(elsewhere), text);
    // Where the aside name is taken, the list stays as it is; the project still reaches the store.
    kxtest::LogCapture log;
    fs::remove_all(list);
    ASSERT_EQ(::mkfifo(list.c_str(), 0600), 0);
    recents->noteNewRecentDocumentURL(first);
    EXPECT_TRUE(fs::is_fifo(list));
    EXPECT_TRUE(log.contains("is kept as it is")) << ::testing::PrintToString(log.lines());
    ASSERT_TRUE(kxtest::spinUntil([&] { return stored(file, first).has_value(); }));
}

namespace {

class RecentDocumentsStartWindowGui : public kxtest::WelcomeFixture {
};

} // namespace

TEST_F(RecentDocumentsStartWindowGui, AProjectOlderThanAMonthStaysInTheListTheStartWindowShows)
{
    const auto old = project("Forty Days.korvelx");
    const auto fresh = project("Fresh.korvelx", true);
    const fs::path file = folder / "recently-used.xbel";
    // Noted forty days ago: in the store with that date, and in our list.
    kxtest::writeStore(file, {{old, "Korvel X", kxtest::secondsAgo(40 * 24 * 3600)}});
    recents = kxtest::recentDocumentsAt(file);
    ASSERT_TRUE(kx::FileSystem::atomicWrite(recents->listFile(), kx::RecentDocuments::encodeList({old})) == std::nullopt);

    recents->noteNewRecentDocumentURL(fresh);
    // The store forgets the old one as it writes the new one; our list does not.
    ASSERT_TRUE(kxtest::spinUntil([&] { return stored(file, fresh).has_value(); }));
    EXPECT_FALSE(stored(file, old).has_value());
    EXPECT_EQ(recents->recentDocumentURLs(), (std::vector<fs::path>{fresh, old}));

    showWithPage();
    ASSERT_EQ(window->recentDocuments(), (std::vector<fs::path>{fresh, old}));
    ASSERT_EQ(window->recentsTableView()->numberOfRows(), 2);
    EXPECT_EQ(window->recentsTableView()->rowView(0)->cell()->titleLabel()->text, "Fresh");
    EXPECT_EQ(window->recentsTableView()->rowView(1)->cell()->titleLabel()->text, "Forty Days");
    EXPECT_EQ(window->recentsTableView()->selectedRow(), 0);
    waitForPagePaint();
    kxtest::saveWindowScreenshot(window->widget(), "welcome-recents-day");
    kxtest::setDark(true);
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate("document.body.classList.contains('dark')") == true; }));
    waitForPagePaint();
    kxtest::saveWindowScreenshot(window->widget(), "welcome-recents-night");
}
