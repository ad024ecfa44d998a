#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>

#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/archive/KVSaveStaging.h"
#include "support/ScopedSetting.h"
#include "support/TestPaths.h"
#include "support/ZipBuilder.h"
#include "unit/App/archive/ArchiveTestFiles.h"

using namespace kx;

using archivetest::runInChild;
using archivetest::tree;
using archivetest::writeFile;
namespace fs = std::filesystem;

using archivetest::folderType;
using archivetest::noise;

namespace {

std::map<std::string, std::string> projectFiles(const fs::path& root)
{
    auto files = tree(root);
    std::erase_if(files, [](const auto& item) { return !KVDocumentArchive::shouldInclude(item.first); });
    return files;
}

// A folder package saved from version 1, with hidden files of its own, and two versions of a
// project to save over it.
struct FolderVersions {
    archivetest::MemoryDirectory dir;
    fs::path package = dir / "Project";
    std::map<std::string, std::string> hidden = {{".korvel-lock", "42"}, {".cache/images/512/p.png", "cached"}, {"design/.DS_Store", "junk"}};

    FolderVersions()
    {
        for (int version : {1, 2}) {
            fs::path root = dir / ("v" + std::to_string(version));
            writeFile(root / "design/document.json", "{\"version\": " + std::to_string(version) + "}");
            for (int i = 0; i < 120; ++i)
                writeFile(root / ("code/v" + std::to_string(version) + "/" + std::to_string(i) + ".js"), noise(3000, version * 1000 + i));
            for (int i = 0; i < version + 1; ++i)
                writeFile(root / ("design/images/" + std::to_string(i) + ".png"), noise(400'000, version * 10 + i));
        }
        writeFile(dir / "v2/README.md", "# Two");
        save(1);
        for (const auto& [path, data] : hidden)
            writeFile(package / path, data);
    }
    void save(int version)
    {
        KVDocumentArchive source(dir / ("v" + std::to_string(version)), folderType, false, std::nullopt, false);
        KVDocumentArchive(package, folderType, true, std::nullopt, true).reflect(source);
    }
    // 1 or 2 when the package opens, its manifest matches its files, its project files are
    // wholly that version and its own hidden files are all there; 0 otherwise.
    int version()
    {
        KVDocumentArchive archive(package, folderType, false, std::nullopt, true);
        auto stored = archive.manifest();
        archive.regenerateManifest();
        if (!stored || !stored->files || stored->files != archive.manifest()->files)
            return 0;
        auto files = tree(package);
        for (const auto& [path, data] : hidden)
            if (files[path] != data)
                return 0;
        auto project = projectFiles(package);
        for (int version : {1, 2})
            if (project == projectFiles(dir / ("v" + std::to_string(version))))
                return version;
        return 0;
    }
    // Anything beside the package and the two versions.
    std::vector<std::string> leftovers()
    {
        std::vector<std::string> found;
        for (const auto& item : fs::directory_iterator(dir.path()))
            if (item.path() != package && item.path() != dir / "v1" && item.path() != dir / "v2")
                found.push_back(item.path().filename().string());
        return found;
    }
};

} // namespace

TEST(KVFolderSave, KilledAtAnyMomentLeavesWhollyTheOldOrTheNewVersion)
{
    FolderVersions versions;
    auto start = std::chrono::steady_clock::now();
    versions.save(2);
    auto duration = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    ASSERT_EQ(versions.version(), 2);

    int current = 2;
    const int kills = 40;
    for (int i = 0; i <= kills; ++i) {
        int next = 3 - current;
        auto moment = duration * i / (kills - 2); // the last ones come after the save ended
        int status = runInChild([&] {
            versions.save(next);
            return 0;
        }, moment);
        ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
        int found = versions.version();
        ASSERT_NE(found, 0) << "a kill " << moment.count() << " µs into a save of version " << next << " left a mix";
        // Opening cleared what the killed save left.
        EXPECT_EQ(versions.leftovers(), std::vector<std::string>()) << moment.count();
        current = found;
    }
}

TEST(KVFolderSave, EachStepOfTheSwitchCanFailOrBeCut)
{
    FolderVersions versions;
    auto lockInode = [&] {
        struct stat info {};
        ::stat((versions.package / ".korvel-lock").c_str(), &info);
        return info.st_ino;
    };
    const auto inode = lockInode();

    // A crash right before or right after the exchange: wholly old, or wholly new.
    for (auto [step, expected] : {std::pair{"exchange", 1}, std::pair{"flush", 2}}) {
        int status = runInChild([&, step = std::string(step)] {
            kxtest::ScopedSetting hook(KVSaveStaging::setFaultHookForTesting, [&](std::string_view at) {
                if (at == step)
                    ::raise(SIGKILL);
                return 0;
            });
            versions.save(2);
            return 0;
        });
        EXPECT_TRUE(WIFSIGNALED(status)) << step;
        EXPECT_EQ(versions.version(), expected) << step;
        EXPECT_TRUE(versions.leftovers().empty()) << step;
        if (expected == 2)
            versions.save(1);
    }
    // Hidden files travel by hard link: a lock file held open stays the same file.
    EXPECT_EQ(lockInode(), inode);

    // A file system that cannot exchange: the old version goes aside, the new one in. A crash
    // between the two leaves no package; the next open puts the old one back.
    auto noExchange = [](std::string_view killAt) {
        return [killAt](std::string_view at) {
            if (at == "exchange")
                return EINVAL;
            if (at == killAt)
                ::raise(SIGKILL);
            return 0;
        };
    };
    EXPECT_TRUE(WIFSIGNALED(runInChild([&] {
        kxtest::ScopedSetting hook(KVSaveStaging::setFaultHookForTesting, noExchange("rename"));
        versions.save(2);
        return 0;
    })));
    EXPECT_FALSE(fs::exists(versions.package));
    EXPECT_EQ(versions.version(), 1);
    EXPECT_TRUE(versions.leftovers().empty());
    {
        kxtest::ScopedSetting hook(KVSaveStaging::setFaultHookForTesting, noExchange(""));
        versions.save(2);
    }
    EXPECT_EQ(versions.version(), 2);
    EXPECT_TRUE(versions.leftovers().empty());

    // A switch that fails changes nothing and leaves nothing: the exchange itself, or the move
    // of the new version where the file system cannot exchange.
    for (bool canExchange : {true, false}) {
        kxtest::ScopedSetting hook(KVSaveStaging::setFaultHookForTesting, [&](std::string_view at) {
            if (at == "exchange")
                return canExchange ? EIO : EINVAL;
            return at == "rename" ? EIO : 0;
        });
        try {
            versions.save(1);
            ADD_FAILURE() << canExchange;
        } catch (const KVDocumentArchiveError& error) {
            EXPECT_FALSE(error.newVersionInPlace());
        }
        EXPECT_EQ(versions.version(), 2) << canExchange;
        EXPECT_TRUE(versions.leftovers().empty()) << canExchange;
    }
    // Moved away as the staged folder appears, or just before a switch that cannot exchange:
    // nothing comes back at its old place.
    for (std::string_view step : {"stage", "exchange"}) {
        kxtest::ScopedSetting hook(KVSaveStaging::setFaultHookForTesting, [&](std::string_view at) {
            if (at == step)
                fs::rename(versions.package, versions.dir / "Moved");
            return at == "exchange" && step == "exchange" ? EINVAL : 0;
        });
        EXPECT_THROW(versions.save(1), KVDocumentArchiveError) << step;
        EXPECT_FALSE(fs::exists(versions.package)) << step;
        fs::rename(versions.dir / "Moved", versions.package);
        EXPECT_EQ(versions.version(), 2) << step;
        EXPECT_TRUE(versions.leftovers().empty()) << step;
    }
}

TEST(KVFolderSave, AFailedFinalFlushSaysTheNewVersionIsInPlace)
{
    FolderVersions versions;
    kxtest::ScopedSetting hook(KVSaveStaging::setFaultHookForTesting, [](std::string_view at) { return at == "flush" ? EIO : 0; });
    KVDocumentArchive source(versions.dir / "v2", folderType, false, std::nullopt, false);
    KVDocumentArchive target(versions.package, folderType, false, std::nullopt, true);
    try {
        target.reflect(source);
        ADD_FAILURE() << "no error";
    } catch (const KVDocumentArchiveError& error) {
        EXPECT_TRUE(error.newVersionInPlace());
        EXPECT_NE(error.error().localizedDescription.find("was saved"), std::string::npos) << error.what();
    }
    // The archive follows what is on disk.
    auto taken = target.manifest();
    target.regenerateManifest();
    EXPECT_EQ(taken, target.manifest());
    EXPECT_EQ(versions.version(), 2);
}

TEST(KVFolderSave, NeverWritesThroughLinksInsideThePackage)
{
    FolderVersions versions;
    writeFile(versions.dir / "outside/keep.txt", "mine");
    auto leftovers = [&] {
        auto found = versions.leftovers();
        std::erase(found, "outside");
        return found;
    };
    fs::remove_all(versions.package / "code");
    fs::create_directory_symlink(versions.dir / "outside", versions.package / "code");
    auto before = tree(versions.package);
    auto outside = tree(versions.dir / "outside");

    try {
        versions.save(2);
        ADD_FAILURE() << "saved through a link";
    } catch (const KVDocumentArchiveError& error) {
        EXPECT_NE(error.error().localizedFailureReason.find("symbolic link"), std::string::npos) << error.what();
    }
    EXPECT_EQ(tree(versions.dir / "outside"), outside);
    EXPECT_EQ(tree(versions.package), before);
    EXPECT_TRUE(fs::is_symlink(versions.package / "code"));
    EXPECT_TRUE(leftovers().empty());

    // Nor read through one.
    KVDocumentArchive archive(versions.package, folderType, false, std::nullopt, true);
    EXPECT_THROW(archivetest::readAll(*archive.backing()->dataReader("code/keep.txt")), KVDocumentArchiveError);

    // A save that has nothing under the link keeps it as it is.
    writeFile(versions.dir / "v3/design/document.json", "{}");
    KVDocumentArchive v3(versions.dir / "v3", folderType, false, std::nullopt, false);
    archive.reflect(v3);
    EXPECT_TRUE(fs::is_symlink(versions.package / "code"));
    EXPECT_EQ(tree(versions.dir / "outside"), outside);
}

TEST(KVFolderSave, SavesThroughALinkToThePackage)
{
    FolderVersions versions;
    fs::create_directory_symlink("Project", versions.dir / "Link");
    KVDocumentArchive source(versions.dir / "v2", folderType, false, std::nullopt, false);
    KVDocumentArchive(versions.dir / "Link", folderType, false, std::nullopt, true).reflect(source);
    EXPECT_TRUE(fs::is_symlink(versions.dir / "Link"));
    EXPECT_EQ(versions.version(), 2);
}

TEST(KVFolderSave, LeftoversOfCrashedSavesGoWhenThePackageOpens)
{
    FolderVersions versions;
    const fs::path dir = versions.dir.path();
    writeFile(dir / ".Project.korvel-save-AbC123/design/document.json", std::string(100'000, 'x'));
    writeFile(dir / ".Project.korvel-save-Zz9999", "partial");
    writeFile(dir / ".Project.korvel-old-Qq1111/README.md", "an old version, the package being there");
    // Not ours, or in use: a live save's locked folder, a user's files, a link.
    writeFile(dir / ".Project.korvel-save-Live00/a", "live");
    int live = ::open((dir / ".Project.korvel-save-Live00").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);
    writeFile(dir / ".Project.korvel-save-notes", "user");
    writeFile(dir / ".Project.backup", "user");
    writeFile(dir / "elsewhere/precious", "precious");
    fs::create_directory_symlink(dir / "elsewhere", dir / ".Project.korvel-save-Link00");

    KVDocumentArchive opened(versions.package, folderType, false, std::nullopt, true);
    std::set<std::string> left;
    for (const auto& item : fs::directory_iterator(dir))
        left.insert(item.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"Project", "v1", "v2", ".Project.korvel-save-Live00", ".Project.korvel-save-notes",
                                           ".Project.backup", "elsewhere", ".Project.korvel-save-Link00"}));
    EXPECT_EQ(tree(dir / "elsewhere")["precious"], "precious");
    ::close(live);
    // Once its save is over, the next open takes it.
    KVDocumentArchive(versions.package, folderType, false, std::nullopt, true);
    EXPECT_FALSE(fs::exists(dir / ".Project.korvel-save-Live00"));
    // A save never leaves a staged file inside the package, where it would become a project file.
    EXPECT_EQ(versions.version(), 1);
    for (const auto& [path, data] : tree(versions.package))
        EXPECT_EQ(path.find("korvel-save"), std::string::npos) << path;
}

TEST(KVFolderSave, ANewPackageAppearsOnlyWhole)
{
    kxtest::TemporaryDirectory dir;
    auto bad = kxtest::ZipBuilder::Entry{};
    bad.name = "code/b.js";
    bad.data = std::string(10000, 'b');
    bad.deflate = true;
    bad.crc = 12345;
    kxtest::ZipBuilder().add("README.md", "fine").add(bad).write(dir / "damaged.korvelx");
    kxtest::ZipBuilder().add("README.md", "fine").write(dir / "good.korvelx");
    KVDocumentArchive damaged(dir / "damaged.korvelx", "com.korvel.projectzip", false, std::nullopt, true);
    KVDocumentArchive good(dir / "good.korvelx", "com.korvel.projectzip", false, std::nullopt, true);

    // Nothing is made before the save, and a refused save leaves nothing.
    KVDocumentArchive extracted(dir / "new/Project", folderType, true, std::nullopt, true);
    EXPECT_FALSE(fs::exists(dir / "new/Project"));
    EXPECT_FALSE(extracted.contentModificationDate().has_value());
    EXPECT_THROW(extracted.reflect(damaged), KVDocumentArchiveError);
    EXPECT_FALSE(fs::exists(dir / "new/Project"));
    extracted.reflect(good);
    EXPECT_EQ(tree(dir / "new/Project")["README.md"], "fine");

    // A folder that was there before stays, empty or not.
    fs::create_directories(dir / "empty");
    KVDocumentArchive existing(dir / "empty", folderType, true, std::nullopt, true);
    EXPECT_THROW(existing.reflect(damaged), KVDocumentArchiveError);
    EXPECT_TRUE(fs::is_directory(dir / "empty"));

    // A save into a new folder killed at any moment leaves that folder whole or nothing.
    FolderVersions versions;
    const fs::path target = versions.dir / "Saved As";
    auto saveAs = [&] {
        KVDocumentArchive source(versions.dir / "v2", folderType, false, std::nullopt, false);
        KVDocumentArchive(target, folderType, true, std::nullopt, true).reflect(source);
        return 0;
    };
    auto start = std::chrono::steady_clock::now();
    saveAs();
    auto duration = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    const auto whole = projectFiles(target);
    int made = 0;
    for (int i = 0; i <= 20; ++i) {
        fs::remove_all(target);
        // The last kill comes long after the save, however slow the child is (a sanitized build).
        const auto delay = i < 20 ? duration * i / 18 : duration * 50 + std::chrono::seconds(1);
        int status = runInChild(saveAs, delay);
        ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
        if (fs::exists(target)) {
            ASSERT_EQ(projectFiles(target), whole) << "a kill " << delay.count() << " µs in left part of the folder";
            ++made;
        }
        // The next save to that name clears what the killed one left beside it.
        KVDocumentArchive(target, folderType, true, std::nullopt, true);
        for (const auto& item : fs::directory_iterator(versions.dir.path()))
            EXPECT_EQ(item.path().filename().string().find("korvel-save"), std::string::npos) << item.path();
    }
    EXPECT_GT(made, 0);
}
