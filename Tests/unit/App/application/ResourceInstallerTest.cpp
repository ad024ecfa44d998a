// Copying the editor, the library and the plug-in into place, and their version markers.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "App/application/InstallCopy.h"
#include "App/application/ResourceInstaller.h"
#include "Platform/Foundation/FileSystem.h"
#include "support/ScopedSetting.h"
#include "support/TestPaths.h"

namespace fs = std::filesystem;
using kx::ResourceInstaller;
using kx::FileSystem::readFile;

namespace {

void writeText(const fs::path& file, const std::string& text)
{
    ASSERT_FALSE(kx::FileSystem::atomicWrite(file, text).has_value()) << file;
}

// A shipped folder: a page, a nested file and a link inside.
fs::path makeSource(const fs::path& folder, const std::string& version)
{
    writeText(folder / "index.html", "<p>" + version + "</p>");
    writeText(folder / "scripts" / "editor.js", "// " + version);
    fs::create_symlink("scripts/editor.js", folder / "main.js");
    return folder;
}

std::vector<std::string> leftovers(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.front() == '.')
            names.push_back(name);
    }
    return names;
}

} // namespace

TEST(ResourceInstaller, TheEditorIsCopiedOnceAVersionAndTheMarkerWrittenAfterTheCopy)
{
    kxtest::TemporaryDirectory folder;
    const auto source = makeSource(folder / "bundle" / "Nimbet", "1");
    const auto destination = folder / "support" / "Nimbet";
    EXPECT_TRUE(ResourceInstaller::installLatestNimbet(source, destination, "1"));
    EXPECT_EQ(readFile(destination / "index.html"), "<p>1</p>");
    EXPECT_EQ(readFile(destination / ".installer-version"), "1");
    EXPECT_TRUE(fs::is_symlink(destination / "main.js"));
    EXPECT_EQ(readFile(destination / "main.js"), "// 1");

    // The same version leaves the folder alone, a developer's change included.
    writeText(destination / "index.html", "changed by hand");
    EXPECT_TRUE(ResourceInstaller::installLatestNimbet(source, destination, "1"));
    EXPECT_EQ(readFile(destination / "index.html"), "changed by hand");

    // A deleted marker, or another version, copies afresh and drops what the old one had.
    writeText(destination / "stale.js", "old");
    fs::remove(destination / ".installer-version");
    EXPECT_TRUE(ResourceInstaller::installLatestNimbet(source, destination, "1"));
    EXPECT_EQ(readFile(destination / "index.html"), "<p>1</p>");
    EXPECT_FALSE(fs::exists(destination / "stale.js"));
    EXPECT_TRUE(leftovers(folder / "support").empty());
}

TEST(ResourceInstaller, AFailedCopyLeavesTheInstalledEditorWholeAndNoMarker)
{
    kxtest::TemporaryDirectory folder;
    const auto destination = folder / "support" / "Nimbet";
    ASSERT_TRUE(ResourceInstaller::installLatestNimbet(makeSource(folder / "v1", "1"), destination, "1"));

    const auto broken = makeSource(folder / "v2", "2");
    // Half way through, something that cannot be copied.
    ASSERT_EQ(::mkfifo((broken / "scripts" / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(ResourceInstaller::installLatestNimbet(broken, destination, "2"));
    EXPECT_EQ(readFile(destination / "index.html"), "<p>1</p>");
    EXPECT_EQ(readFile(destination / "scripts" / "editor.js"), "// 1");
    EXPECT_EQ(readFile(destination / ".installer-version"), "1");
    EXPECT_TRUE(leftovers(folder / "support").empty());

    // Missing altogether: the same.
    EXPECT_FALSE(ResourceInstaller::installLatestNimbet(folder / "nothing", destination, "3"));
    EXPECT_EQ(readFile(destination / ".installer-version"), "1");
}

TEST(ResourceInstaller, WithoutExchangeALeftoverOfACutInstallGivesWayButNotWhatItLinksTo)
{
    kxtest::TemporaryDirectory folder;
    const auto support = folder / "support";
    ASSERT_TRUE(ResourceInstaller::installLatestNimbet(makeSource(folder / "v1", "1"), support / "Nimbet", "1"));
    ASSERT_TRUE(ResourceInstaller::installLatestLibrary(folder / "v1", support / "Library", "1", support / "links", false));
    // The old folder an install put aside before it was cut short, and a link planted there.
    writeText(support / ".Nimbet.old" / "index.html", "old");
    writeText(folder / "victim" / "keep", "precious");
    fs::create_directory_symlink(folder / "victim", support / ".Library.old");
    const auto source = makeSource(folder / "v2", "2");
    {
        kxtest::ScopedSetting fault(kx::InstallCopy::setExchangeFaultForTesting, EINVAL);
        EXPECT_TRUE(ResourceInstaller::installLatestNimbet(source, support / "Nimbet", "2"));
        EXPECT_TRUE(ResourceInstaller::installLatestLibrary(source, support / "Library", "2", support / "links", false));
    }
    EXPECT_EQ(readFile(support / "Nimbet" / "index.html"), "<p>2</p>");
    EXPECT_EQ(readFile(support / "Library" / "index.html"), "<p>2</p>");
    EXPECT_EQ(readFile(folder / "victim" / "keep"), "precious");
    EXPECT_EQ(leftovers(support), std::vector<std::string>{});
}

TEST(ResourceInstaller, TheLibraryIsLinkedAsKorvelAndInternalBuildsReinstallIt)
{
    kxtest::TemporaryDirectory folder;
    const auto source = folder / "Library" / "public";
    writeText(source / "package.json", R"({"name": "korvel", "version": "1.0.0"})");
    const auto destination = folder / "support" / "Library";
    const auto links = folder / "support" / "yarn-link-folder";
    EXPECT_TRUE(ResourceInstaller::installLatestLibrary(source, destination, "1.0.0", links, false));
    EXPECT_EQ(fs::read_symlink(links / "korvel"), destination);
    EXPECT_EQ(readFile(links / "korvel" / "package.json"), readFile(source / "package.json"));
    EXPECT_EQ(readFile(destination / ".installed-version"), "1.0.0");
    EXPECT_FALSE(fs::exists(destination / ".installer-version"));

    writeText(destination / "package.json", "edited");
    EXPECT_TRUE(ResourceInstaller::installLatestLibrary(source, destination, "1.0.0", links, false));
    EXPECT_EQ(readFile(destination / "package.json"), "edited");
    EXPECT_TRUE(ResourceInstaller::installLatestLibrary(source, destination, "1.0.0", links, true));
    EXPECT_EQ(readFile(destination / "package.json"), readFile(source / "package.json"));

    // Whatever stood at the link's place is replaced by the link.
    fs::remove(links / "korvel");
    fs::create_directories(links / "korvel" / "old");
    EXPECT_TRUE(ResourceInstaller::installLatestLibrary(source, destination, "1.0.0", links, true));
    EXPECT_TRUE(fs::is_symlink(links / "korvel"));
}

TEST(ResourceInstaller, ThePluginIsCopiedOnlyWhereItsApplicationKeepsPlugins)
{
    kxtest::TemporaryDirectory folder;
    const auto plugin = folder / "plugin.sketchplugin";
    writeText(plugin / "Contents" / "manifest.json", "{}");
    const auto plugins = folder / "Sketch" / "Plugins";
    ResourceInstaller::installSketchPasteboard(plugin, plugins);
    EXPECT_FALSE(fs::exists(folder / "Sketch"));

    fs::create_directories(plugins);
    ResourceInstaller::installSketchPasteboard(plugin, plugins);
    EXPECT_EQ(readFile(plugins / "Korvel Pasteboard.sketchplugin" / "Contents" / "manifest.json"), "{}");
    // At every launch, over the last copy.
    writeText(plugin / "Contents" / "manifest.json", "{\"v\": 2}");
    ResourceInstaller::installSketchPasteboard(plugin, plugins);
    EXPECT_EQ(readFile(plugins / "Korvel Pasteboard.sketchplugin" / "Contents" / "manifest.json"), "{\"v\": 2}");
    ResourceInstaller::installSketchPasteboard(std::nullopt, plugins);
    EXPECT_TRUE(fs::exists(plugins / "Korvel Pasteboard.sketchplugin"));
}

TEST(InstallCopy, AFileReplacesAFolderAndTheOtherWayRound)
{
    kxtest::TemporaryDirectory folder;
    writeText(folder / "file", "file");
    writeText(folder / "dir" / "inner", "inner");
    writeText(folder / "target", "old");
    EXPECT_FALSE(kx::InstallCopy::copyReplacing(folder / "dir", folder / "target").has_value());
    EXPECT_EQ(readFile(folder / "target" / "inner"), "inner");
    EXPECT_FALSE(kx::InstallCopy::copyReplacing(folder / "file", folder / "target").has_value());
    EXPECT_EQ(readFile(folder / "target"), "file");
    // A link is not copied through.
    fs::create_symlink(folder / "dir", folder / "link");
    EXPECT_TRUE(kx::InstallCopy::copyReplacing(folder / "link", folder / "target").has_value());
    EXPECT_EQ(readFile(folder / "target"), "file");
}
