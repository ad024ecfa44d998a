// Following a document's file wherever it goes: renamed, moved to another folder (which inotify
// reports without the destination), moved to the Trash, deleted, or replaced by a save.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "Platform/Documents/DocumentFileWatcher.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Watched {
    explicit Watched(const fs::path& path)
        : watcher(path, [this](const fs::path& to) { movedTo = to; }, [this](const kx::DocumentFileWatcher::Departure& gone) {
              removed = gone.trashed();
              trashedTo = gone.trashedTo;
          })
    {
    }
    kx::DocumentFileWatcher watcher;
    std::optional<fs::path> movedTo;
    std::optional<bool> removed; // true: to the Trash
    std::optional<fs::path> trashedTo;
};

class DocumentFileWatcherTest : public ::testing::Test {
protected:
    fs::path file(const std::string& name)
    {
        kxtest::writeFile(folder / name, "a project");
        return folder / name;
    }
    kxtest::TemporaryDirectory folder;
};

TEST_F(DocumentFileWatcherTest, AMoveToAnotherFolderIsFollowedEvenWithoutItsDestination)
{
    const fs::path path = file("Project.korvelx");
    Watched watched(path);
    fs::create_directories(folder / "elsewhere");
    fs::rename(path, folder / "elsewhere/Project.korvelx");
    // Known at once to a writer who asks, before the monitor reports it.
    EXPECT_EQ(watched.watcher.takeDepartureNow().value_or(kx::DocumentFileWatcher::Departure{}).movedTo, folder / "elsewhere/Project.korvelx");
    ASSERT_TRUE(kxtest::spinUntil([&] { return watched.movedTo.has_value(); }));
    EXPECT_EQ(*watched.movedTo, folder / "elsewhere/Project.korvelx");
    EXPECT_FALSE(watched.removed);
}

TEST_F(DocumentFileWatcherTest, TheTrashAndADeletionAreNoMoves)
{
    const fs::path trashed = file("Trashed.korvelx");
    Watched toTrash(trashed);
    fs::create_directories(folder / ".local/share/Trash/files");
    fs::rename(trashed, folder / ".local/share/Trash/files/Trashed.korvelx");
    EXPECT_TRUE(toTrash.watcher.takeDepartureNow().value_or(kx::DocumentFileWatcher::Departure{}).trashed());
    ASSERT_TRUE(kxtest::spinUntil([&] { return toTrash.removed.has_value(); }));
    EXPECT_TRUE(*toTrash.removed);
    EXPECT_FALSE(toTrash.movedTo);
    // Where it lies in the Trash: what is still needed of it is read from there.
    EXPECT_EQ(toTrash.trashedTo, folder / ".local/share/Trash/files/Trashed.korvelx");

    const fs::path deleted = file("Deleted.korvelx");
    Watched gone(deleted);
    fs::remove(deleted);
    ASSERT_TRUE(kxtest::spinUntil([&] { return gone.removed.has_value(); }));
    EXPECT_FALSE(*gone.removed);
    EXPECT_FALSE(gone.trashedTo);
}

TEST_F(DocumentFileWatcherTest, AFileSavedOverThePathStaysTheDocumentsAndIsFollowedLater)
{
    const fs::path path = file("Saved.korvelx");
    Watched watched(path);
    // A save: a new file renamed over the old one.
    kxtest::writeFile(folder / ".Saved.korvelx.new", "saved again");
    fs::rename(folder / ".Saved.korvelx.new", path);
    kxtest::spinFor(300ms);
    EXPECT_FALSE(watched.movedTo);
    EXPECT_FALSE(watched.removed);
    // The saved file is the one followed from then on.
    fs::create_directories(folder / "moved");
    fs::rename(path, folder / "moved/Saved.korvelx");
    ASSERT_TRUE(kxtest::spinUntil([&] { return watched.movedTo.has_value() || watched.removed.has_value(); }));
    ASSERT_TRUE(watched.movedTo);
    EXPECT_EQ(*watched.movedTo, folder / "moved/Saved.korvelx");
}

TEST_F(DocumentFileWatcherTest, AnItemIsKnownByItselfNotByWhatTakesItsPlace)
{
    // Renamed, and a new folder made at the old name in the same turn: a move, as the two
    // steps seen apart would be, and the new folder is not the document's.
    fs::create_directories(folder / "Before");
    Watched renamed(folder / "Before");
    fs::rename(folder / "Before", folder / "After");
    fs::create_directories(folder / "Before");
    EXPECT_EQ(renamed.watcher.takeDepartureNow().value_or(kx::DocumentFileWatcher::Departure{}).movedTo, folder / "After");
    ASSERT_TRUE(kxtest::spinUntil([&] { return renamed.movedTo.has_value() || renamed.removed.has_value(); }));
    EXPECT_EQ(renamed.movedTo, folder / "After");

    // Deleted, and a folder made in its place: gone, also once that folder is there.
    fs::create_directories(folder / "Deleted");
    Watched deleted(folder / "Deleted");
    fs::remove_all(folder / "Deleted");
    fs::create_directories(folder / "Deleted");
    const auto gone = deleted.watcher.takeDepartureNow();
    ASSERT_TRUE(gone);
    EXPECT_FALSE(gone->movedTo || gone->trashed());
    ASSERT_TRUE(kxtest::spinUntil([&] { return deleted.removed.has_value(); }));
    EXPECT_FALSE(*deleted.removed);
    EXPECT_FALSE(deleted.movedTo);
}

TEST_F(DocumentFileWatcherTest, AnItemTakenOutOfTheTrashIsReportedWhereItIsNow)
{
    const fs::path trash = folder / ".local/share/Trash/files";
    fs::create_directories(trash);
    for (const fs::path& restoredTo : {folder / "Undone", folder / "elsewhere/Undone"}) {
        fs::create_directories(folder / "Undone/design");
        Watched watched(folder / "Undone");
        fs::rename(folder / "Undone", trash / "Undone");
        ASSERT_TRUE(kxtest::spinUntil([&] { return watched.removed.has_value(); }));
        // A folder made at the old path meanwhile is something else; the item is still away.
        fs::create_directories(folder / "Undone");
        kxtest::spinFor(200ms);
        EXPECT_FALSE(watched.movedTo);
        EXPECT_TRUE(watched.watcher.takeDepartureNow().value_or(kx::DocumentFileWatcher::Departure{}).trashed());
        fs::remove(folder / "Undone");

        // Put back, where it was or anywhere else: the same folder, reported where it is.
        fs::create_directories(restoredTo.parent_path());
        fs::rename(trash / "Undone", restoredTo);
        ASSERT_TRUE(kxtest::spinUntil([&] { return watched.movedTo.has_value(); })) << restoredTo;
        EXPECT_EQ(*watched.movedTo, restoredTo);
        EXPECT_EQ(watched.watcher.takeDepartureNow().value_or(kx::DocumentFileWatcher::Departure{}).movedTo, restoredTo);
        fs::remove_all(restoredTo);
    }
}

TEST(DocumentFileWatcher, EverythingUnderATrashRootIsTheTrash)
{
    // "expunged" is where the desktop's trash service moves an item to delete it.
    for (const char* path : {"/home/ada/.local/share/Trash/files/P.korvelx", "/home/ada/.local/share/Trash/expunged/4242",
                             "/media/usb/.Trash-1000/expunged/12", "/media/usb/.Trash/1000/files/P"})
        EXPECT_TRUE(kx::DocumentFileWatcher::isInTrash(path)) << path;
    EXPECT_TRUE(kx::DocumentFileWatcher::isInTrash(fs::path(g_get_user_data_dir()) / "Trash/anything/P"));
    for (const char* path : {"/home/ada/Projects/Trash/P.korvelx", "/home/ada/files/P.korvelx", "/home/ada/.local/share/Trash",
                             "/media/usb/.Trash-ada/files/P", "/media/usb/.Trash/1000", "/media/usb/.Trash/files/P",
                             "/home/ada/Archive/Trash/info/P", "/elsewhere/data/Trash/expunged/7/design"})
        EXPECT_FALSE(kx::DocumentFileWatcher::isInTrash(path)) << path;
}

} // namespace
