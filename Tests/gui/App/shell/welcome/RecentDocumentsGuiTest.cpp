// The recent projects in a desktop recent-files store of the test's own (GtkRecentManager over
// a file): what the document controller notes there, as the file manager and the start window
// read it back.
#include "gui/App/shell/welcome/WelcomeFixture.h"

#include <algorithm>
#include <set>

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

    // A noted project becomes the most recent.
    recents->noteNewRecentDocumentURL(zip);
    EXPECT_EQ(recents->recentDocumentURLs(), (std::vector<fs::path>{zip, older}));
    // A folder noted with a trailing slash is the same project.
    recents->noteNewRecentDocumentURL(fs::path(fresh.string() + "/"));
    const auto listed = recents->recentDocumentURLs();
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ((std::set<fs::path>{listed[0], listed[1]}), (std::set<fs::path>{zip, fresh}));
    EXPECT_EQ(listed[2], older);

    // The store file holds them for the desktop: under our name, a folder as a folder.
    ASSERT_TRUE(kxtest::spinUntil([&] { return stored(file, fresh).has_value(); }));
    EXPECT_EQ(stored(file, fresh)->mime, "inode/directory");
    EXPECT_TRUE(stored(file, fresh)->ours);
    EXPECT_TRUE(stored(file, zip)->ours);
    EXPECT_FALSE(stored(file, folder / "Theirs.korvelx")->ours);

    // Another reader of the store sees the same list.
    auto reader = kxtest::recentDocumentsAt(file);
    const auto read = reader->recentDocumentURLs();
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ((std::set<fs::path>{read[0], read[1]}), (std::set<fs::path>{zip, fresh}));
    EXPECT_EQ(read[2], older);
}
