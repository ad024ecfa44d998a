// The container's own file writes: whole contents, the mode any new file of the user gets, and
// a name already taken left alone.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "App/documents/container/KVContainerFiles.h"
#include "Platform/Foundation/FileSystem.h"
#include "support/TestPaths.h"

namespace {

mode_t modeOf(const std::filesystem::path& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

} // namespace

TEST(KVContainerFiles, NewFilesHoldTheirBytesWithTheUsersModeAndNeverReplaceOne)
{
    kxtest::TemporaryDirectory dir;
    const std::string bytes(300000, 'k'); // more than one write may take
    const mode_t before = ::umask(027);
    const auto written = kx::KVContainerFiles::writeNewFile(dir / "a.json", bytes, false);
    const auto replaced = kx::KVContainerFiles::replaceFile(dir / "b.json", "b", false);
    ::umask(before);
    ASSERT_FALSE(written) << written->localizedDescription;
    ASSERT_FALSE(replaced) << replaced->localizedDescription;
    EXPECT_EQ(kx::FileSystem::readFile(dir / "a.json"), bytes);
    EXPECT_EQ(modeOf(dir / "a.json"), 0640u);
    EXPECT_EQ(modeOf(dir / "b.json"), 0640u);

    const auto again = kx::KVContainerFiles::writeNewFile(dir / "a.json", "other", false);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->code, EEXIST);
    EXPECT_EQ(kx::FileSystem::readFile(dir / "a.json"), bytes);
}
