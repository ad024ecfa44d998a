#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/FileSystemBeneath.h"
#include "support/ScopedSetting.h"
#include "support/TestPaths.h"

namespace fs = std::filesystem;
using namespace kx::FileSystem;

namespace {

size_t entryCount(const fs::path& dir)
{
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

} // namespace

TEST(FileSystem, AtomicWriteReplacesKeepsTheModeAndLeavesNoTemporaryFile)
{
    kxtest::TemporaryDirectory dir;
    const auto target = dir / "sub" / "file.txt";
    ASSERT_FALSE(atomicWrite(target, "first"));
    ::chmod(target.c_str(), 0640);
    ASSERT_FALSE(atomicWrite(target, "second"));
    EXPECT_EQ(readFile(target), "second");
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(entryCount(target.parent_path()), 1u);
}

TEST(FileSystem, AtomicWriteTakesNamesAsLongAsTheFolderAllows)
{
    // 84 three-byte characters: 252 bytes, a legal name whose temporary twin must be shorter.
    std::string name;
    for (int i = 0; i < 84; ++i)
        name += "\xE8\xA8\xAD";
    kxtest::TemporaryDirectory dir;
    ASSERT_FALSE(atomicWrite(dir / name, "text"));
    EXPECT_EQ(readFile(dir / name), "text");
    EXPECT_EQ(entryCount(dir.path()), 1u);
}

TEST(FileSystem, AnUncommittedFileLeavesTheTargetAlone)
{
    kxtest::TemporaryDirectory dir;
    const auto target = dir / "package.zip";
    ASSERT_FALSE(atomicWrite(target, "old contents"));
    {
        AtomicFile file(target);
        ASSERT_FALSE(file.open());
        ASSERT_FALSE(file.write("half of the new"));
        EXPECT_TRUE(fs::exists(file.temporaryPath()));
    }
    EXPECT_EQ(readFile(target), "old contents");
    EXPECT_EQ(entryCount(dir.path()), 1u);

    AtomicFile unopened(target);
    EXPECT_TRUE(unopened.write("x").has_value());
    EXPECT_TRUE(unopened.commit().has_value());
}

TEST(FileSystem, WritingIntoAMissingOrReadOnlyPlaceFailsClearly)
{
    kxtest::TemporaryDirectory dir;
    std::ofstream(dir / "plain") << "a file, not a folder";
    auto error = atomicWrite(dir / "plain" / "child.txt", "x");
    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(error->localizedDescription.empty());
}

TEST(FileSystem, IsInsideSeesThroughDotsAndLinks)
{
    kxtest::TemporaryDirectory dir;
    const auto root = dir / "root";
    fs::create_directories(root / "a");
    fs::create_directories(dir / "outside");
    fs::create_directory_symlink(dir / "outside", root / "link");

    EXPECT_TRUE(isInside(root / "a" / "new.png", root));
    EXPECT_TRUE(isInside(root, root));
    EXPECT_TRUE(isInside(root / "a" / ".." / "b", root));
    EXPECT_FALSE(isInside(root / ".." / "outside" / "x", root));
    EXPECT_FALSE(isInside(root / "link" / "x", root));
    EXPECT_FALSE(isInside(dir / "rootless", root));
}

TEST(FileSystem, RealPathAndXdgFolders)
{
    kxtest::TemporaryDirectory dir;
    fs::create_directories(dir / "x");
    EXPECT_EQ(realPath(dir / "x" / ".." / "x"), fs::canonical(dir / "x"));
    EXPECT_FALSE(realPath(dir / "missing").has_value());

    kxtest::ScopedSetting cache("XDG_CACHE_HOME", "/custom/cache");
    EXPECT_EQ(cacheHome(), fs::path("/custom/cache"));
    setenv("XDG_CACHE_HOME", "relative/is/ignored", 1);
    EXPECT_EQ(cacheHome().filename(), ".cache");
}

// Writing, reading and removing below a folder where links, files and FIFOs were planted.
TEST(FileSystem, ALinkCountsAsSomethingThereEvenWhenItLeadsNowhere)
{
    kxtest::TemporaryDirectory dir;
    EXPECT_FALSE(existsWithoutFollowing(dir / "none"));
    fs::create_symlink(dir / "none", dir / "dangling");
    EXPECT_TRUE(existsWithoutFollowing(dir / "dangling"));
    std::ofstream(dir / "file") << "x";
    EXPECT_TRUE(existsWithoutFollowing(dir / "file"));
    EXPECT_FALSE(existsWithoutFollowing(dir / "file" / "below")); // not a folder: nothing there
}

TEST(FileSystemBeneath, WritesMakeTheFoldersAndReplaceALinkAtTheTargetWithoutFollowingIt)
{
    kxtest::TemporaryDirectory dir;
    const fs::path base = dir / "base";
    ASSERT_FALSE(atomicWriteBeneath(base, "a/b/file", "first"));
    EXPECT_EQ(readFileBeneath(base, "a/b/file"), "first");
    EXPECT_EQ(std::distance(fs::directory_iterator(base / "a" / "b"), fs::directory_iterator()), 1) << "a temporary file is left";

    kxtest::writeFile(dir / "victim", "mine");
    fs::remove(base / "a" / "b" / "file");
    fs::create_symlink(dir / "victim", base / "a" / "b" / "file");
    EXPECT_FALSE(readFileBeneath(base, "a/b/file"));
    ASSERT_FALSE(atomicWriteBeneath(base, "a/b/file", "second"));
    EXPECT_EQ(readFile(dir / "victim"), "mine");
    EXPECT_FALSE(fs::is_symlink(base / "a" / "b" / "file"));
}

TEST(FileSystemBeneath, ALinkOrAFileWhereAFolderShouldBeStopsEverything)
{
    kxtest::TemporaryDirectory dir;
    const fs::path base = dir / "base";
    fs::create_directories(base);
    fs::create_directories(dir / "elsewhere");
    kxtest::writeFile(dir / "elsewhere" / "file", "theirs");
    fs::create_directory_symlink(dir / "elsewhere", base / "linked");
    kxtest::writeFile(base / "plain", "a file");

    EXPECT_TRUE(atomicWriteBeneath(base, "linked/file", "ours"));
    EXPECT_TRUE(atomicWriteBeneath(base, "linked/deeper/file", "ours"));
    EXPECT_TRUE(atomicWriteBeneath(base, "plain/file", "ours"));
    EXPECT_TRUE(atomicWriteBeneath(base, "../escape", "ours"));
    EXPECT_EQ(readFile(dir / "elsewhere" / "file"), "theirs");
    EXPECT_FALSE(fs::exists(dir / "elsewhere" / "deeper"));
    EXPECT_FALSE(fs::exists(dir / "escape"));
    EXPECT_FALSE(readFileBeneath(base, "linked/file"));
    EXPECT_FALSE(removeBeneath(base, "linked/file"));
    EXPECT_TRUE(fs::exists(dir / "elsewhere" / "file"));
}

TEST(FileSystemBeneath, AFifoOrAFolderIsNoFileToRead)
{
    kxtest::TemporaryDirectory dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directories(dir / "folder");
    kxtest::writeFile(dir / "large", std::string(2000, 'x'));
    EXPECT_FALSE(readFileBeneath(dir.path(), "fifo")); // returns at once, does not wait for a writer
    EXPECT_FALSE(readFileBeneath(dir.path(), "folder"));
    EXPECT_FALSE(readFileBeneath(dir.path(), "large", 1000));
    EXPECT_EQ(readFileBeneath(dir.path(), "large", 2000)->size(), 2000u);
    EXPECT_TRUE(removeBeneath(dir.path(), "fifo"));
    EXPECT_FALSE(removeBeneath(dir.path(), "folder"));
}
