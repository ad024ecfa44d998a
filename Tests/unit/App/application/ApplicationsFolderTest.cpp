// What counts as our folder, as an application folder, and as a disk image.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "App/application/ApplicationsFolder.h"
#include "Platform/Foundation/FileSystem.h"
#include "support/TestPaths.h"

namespace fs = std::filesystem;
using kx::ApplicationsFolder;

namespace {

void bundleAt(const fs::path& folder, const std::string& identifier)
{
    kx::FileSystem::atomicWrite(folder / "Resources" / "Info.json", nlohmann::json{{"CFBundleIdentifier", identifier}}.dump());
}

} // namespace

TEST(ApplicationsFolder, PathsBeginWithAFolderByWholeComponents)
{
    EXPECT_TRUE(ApplicationsFolder::beginsWithPath("/opt/korvel-x", "/opt"));
    EXPECT_TRUE(ApplicationsFolder::beginsWithPath("/opt/korvel-x", "/opt/"));
    EXPECT_TRUE(ApplicationsFolder::beginsWithPath("/opt", "/opt"));
    EXPECT_FALSE(ApplicationsFolder::beginsWithPath("/optx/korvel-x", "/opt"));
    EXPECT_FALSE(ApplicationsFolder::beginsWithPath("/op", "/opt"));
    EXPECT_FALSE(ApplicationsFolder::beginsWithPath("/usr/local/korvel-x", "/usr/local/bin"));
    EXPECT_FALSE(ApplicationsFolder::beginsWithPath("/anything", ""));
}

TEST(ApplicationsFolder, ApplicationFoldersAndFoldersNamedApplications)
{
    const std::vector<fs::path> folders = {"/home/ada/Applications", "/opt", "/usr", "/usr/local", "/app", "/snap"};
    EXPECT_TRUE(ApplicationsFolder::isInApplicationsFolder("/opt/korvel-x", folders));
    EXPECT_TRUE(ApplicationsFolder::isInApplicationsFolder("/snap/korvel-x/12/korvel-x", folders));
    EXPECT_TRUE(ApplicationsFolder::isInApplicationsFolder("/media/disk/Applications/korvel-x", folders));
    EXPECT_FALSE(ApplicationsFolder::isInApplicationsFolder("/optx/korvel-x", folders));
    EXPECT_FALSE(ApplicationsFolder::isInApplicationsFolder("/home/ada/MyApplications/korvel-x", folders));
    EXPECT_FALSE(ApplicationsFolder::isInApplicationsFolder("/home/ada/Downloads/korvel-x", folders));
}

TEST(ApplicationsFolder, OurFolderHasOurNameAndOurIdentifier)
{
    kxtest::TemporaryDirectory root;
    bundleAt(root / "korvel-x-1.0", "com.korvel.x");
    bundleAt(root / "Korvel-X", "com.korvel.x");
    bundleAt(root / "other", "com.korvel.x");
    bundleAt(root / "korvel-x-other", "org.example.other");
    fs::create_directories(root / "korvel-x-loose");
    EXPECT_TRUE(ApplicationsFolder::isOurBundle(root / "korvel-x-1.0", "com.korvel.x"));
    EXPECT_TRUE(ApplicationsFolder::isOurBundle(root / "Korvel-X", "com.korvel.x"));
    EXPECT_FALSE(ApplicationsFolder::isOurBundle(root / "other", "com.korvel.x"));
    EXPECT_FALSE(ApplicationsFolder::isOurBundle(root / "korvel-x-other", "com.korvel.x"));
    EXPECT_FALSE(ApplicationsFolder::isOurBundle(root / "korvel-x-loose", "com.korvel.x"));
    kx::FileSystem::atomicWrite(root / "korvel-x-bad" / "Resources" / "Info.json", "{not json");
    EXPECT_FALSE(ApplicationsFolder::isOurBundle(root / "korvel-x-bad", "com.korvel.x"));
    // Inside another application's folder.
    bundleAt(root / "Suite", "org.example.suite");
    bundleAt(root / "Suite" / "Tools" / "korvel-x", "com.korvel.x");
    EXPECT_TRUE(ApplicationsFolder::isNested(root / "Suite" / "Tools" / "korvel-x"));
    EXPECT_FALSE(ApplicationsFolder::isNested(root / "korvel-x-1.0"));
}

TEST(ApplicationsFolder, ADiskImageIsALoopDeviceWithAnImageBehindIt)
{
    kxtest::TemporaryDirectory root;
    const std::string mountInfo =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "80 22 7:3 / /media/ada/Korvel\\040X rw,nosuid shared:40 - iso9660 /dev/loop3 ro\n"
        "81 22 7:4 / /media/ada/parts rw shared:41 - ext4 /dev/loop4p1 rw\n"
        "82 22 0:50 / /tmp/.mount_korvel rw shared:42 - fuse.korvel-x.AppImage korvel-x.AppImage ro\n"
        "83 22 0:51 / /mnt/share rw shared:43 - nfs4 server:/export rw\n"
        "garbage line\n";
    kx::FileSystem::atomicWrite(root / "mountinfo", mountInfo);
    kx::FileSystem::atomicWrite(root / "block" / "loop3" / "loop" / "backing_file", "/home/ada/Downloads/korvel-x.iso\n");
    kx::FileSystem::atomicWrite(root / "block" / "loop4" / "loop" / "backing_file", "/home/ada/parts.img\n");
    const auto mounts = ApplicationsFolder::parseMountInfo(mountInfo);
    ASSERT_EQ(mounts.size(), 5u);
    EXPECT_EQ(mounts[1].mountPoint, "/media/ada/Korvel X");

    auto image = [&](const fs::path& path) { return ApplicationsFolder::diskImageHolding(path, root / "mountinfo", root / "block"); };
    EXPECT_EQ(image("/media/ada/Korvel X/korvel-x"),
              (ApplicationsFolder::DiskImage{"/dev/loop3", "/home/ada/Downloads/korvel-x.iso"}));
    EXPECT_EQ(image("/media/ada/parts/korvel-x"), (ApplicationsFolder::DiskImage{"/dev/loop4", "/home/ada/parts.img"}));
    EXPECT_FALSE(image("/media/ada/Korvel"));
    EXPECT_FALSE(image("/home/ada/Downloads/korvel-x"));
    EXPECT_FALSE(image("/tmp/.mount_korvel/usr"));
    EXPECT_FALSE(image("/mnt/share/korvel-x"));
    EXPECT_FALSE(ApplicationsFolder::diskImageHolding("/x", root / "missing", root / "block"));
}
