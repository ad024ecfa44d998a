#include <gtest/gtest.h>

#include <sys/stat.h>

#include "App/archive/KVDirectoryArchiveBacking.h"
#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/archive/KVZipArchiveBacking.h"
#include "App/archive/zip/KVZipReader.h"
#include "support/TestPaths.h"
#include "unit/App/archive/ArchiveTestFiles.h"

using namespace kx;

using archivetest::readAll;
using archivetest::tree;
using archivetest::writeFile;
namespace fs = std::filesystem;

using archivetest::folderType;
using archivetest::zipType;
using archivetest::aUuid;

namespace {

// A working folder as the documents keep it: project files, backups, and hidden files of
// their own that never belong in a package.
void makeProject(const fs::path& root)
{
    writeFile(root / "design/document.json", R"({"pages": [1, 2, 3]})");
    writeFile(root / "design/images/photo.png", std::string(5000, '\x89'));
    writeFile(root / "code/App.tsx", std::string(20000, 'a'));
    writeFile(root / "README.md", "# Project");
    writeFile(root / ".backups/2026-12-06 13.05.09.zip", "backup");
    writeFile(root / ".cache/images/512/photo.png", "cached");
    writeFile(root / ".project.log", "log");
    writeFile(root / ".korvel-lock", "42");
    writeFile(root / "design/.DS_Store", "junk");
}

KVDocumentArchiveError::Code codeOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const KVDocumentArchiveError& error) {
        return error.code();
    }
    ADD_FAILURE() << "no error thrown";
    return KVDocumentArchiveError::Code::unknown;
}

std::vector<std::string> walk(const KVDocumentArchive& archive)
{
    std::vector<std::string> paths;
    archive.backing()->forEach([&](const std::string& path, KVDataReader&) { paths.push_back(path); });
    return paths;
}

} // namespace

TEST(KVDocumentArchive, IncludeFilterLeavesOutHiddenPathsButBackups)
{
    for (const char* path : {"design/document.json", "code/a/b.js", "README.md", ".backups/x.zip", ".backups/a/.b"})
        EXPECT_TRUE(KVDocumentArchive::shouldInclude(path)) << path;
    for (const char* path : {"", "_project.korvelxproj", ".cache/images/512/a.png", ".project.log", "design/.DS_Store",
                             ".backups", ".backupsX/a"})
        EXPECT_FALSE(KVDocumentArchive::shouldInclude(path)) << path;
    EXPECT_TRUE(KVDocumentArchive::relativePathsIgnoredForManifest().contains("_project.korvelxproj"));
    EXPECT_EQ(KVDocumentArchive::relativePathForImageCaches, ".cache/images");
}

TEST(KVDocumentArchive, ChoosesTheBackingByTypeOrByWhatIsThere)
{
    kxtest::TemporaryDirectory dir;
    makeProject(dir / "folder");
    KVDocumentArchive folder(dir / "folder", folderType, false, std::nullopt, false);
    EXPECT_EQ(folder.backing()->documentTypeIdentifier(), folderType);
    KVDocumentArchive zip(dir / "p.korvelx", zipType, true, std::nullopt, true);
    zip.reflect(folder);

    KVDocumentArchive tutorial(dir / "p.korvelx", "com.korvel.tutorial", false, std::nullopt, true);
    EXPECT_EQ(tutorial.backing()->documentTypeIdentifier(), zipType);
    EXPECT_EQ(tutorial.uuid(), zip.uuid());
    KVDocumentArchive byFolder(dir / "folder", "public.folder", false, std::nullopt, true);
    EXPECT_EQ(byFolder.backing()->documentTypeIdentifier(), folderType);

    using Code = KVDocumentArchiveError::Code;
    EXPECT_EQ(codeOf([&] { KVDocumentArchive(dir / "nothing", "public.data", false, std::nullopt, true); }),
              Code::unsupportedBacking);
    EXPECT_EQ(codeOf([&] { KVDocumentArchive(dir / "missing.korvelx", zipType, false, std::nullopt, true); }), Code::notFound);
    EXPECT_EQ(codeOf([&] { KVDocumentArchive(dir / "missing", folderType, false, std::nullopt, true); }), Code::notFound);
    EXPECT_EQ(codeOf([&] { KVDocumentArchive(dir / "folder", zipType, false, std::nullopt, true); }), Code::invalidBacking);
    EXPECT_EQ(codeOf([&] { KVDocumentArchive(dir / "p.korvelx", folderType, false, std::nullopt, true); }),
              Code::invalidBacking);
    EXPECT_FALSE(fs::exists(dir / "missing.korvelx"));
    EXPECT_FALSE(fs::exists(dir / "missing"));

    // Created on request, empty, with the given uuid; nothing written until the first save.
    KVDocumentArchive created(dir / "new.korvelx", zipType, true, aUuid, true);
    EXPECT_EQ(created.uuid(), aUuid);
    EXPECT_TRUE(walk(created).empty());
    KVDocumentArchive createdFolder(dir / "new", folderType, true, std::nullopt, false);
    EXPECT_TRUE(walk(createdFolder).empty());
    EXPECT_FALSE(fs::exists(dir / "new"));
    EXPECT_FALSE(fs::exists(dir / "new.korvelx"));
}

TEST(KVDocumentArchive, OpeningNeverWrites)
{
    kxtest::TemporaryDirectory dir;
    makeProject(dir / "folder");
    auto before = tree(dir.path());
    KVDocumentArchive folder(dir / "folder", folderType, false, aUuid, true);
    EXPECT_EQ(folder.uuid(), aUuid);
    ASSERT_TRUE(folder.manifest().has_value());
    EXPECT_FALSE(folder.manifest()->files.has_value());
    KVDocumentArchive fresh(dir / "folder", folderType, false, std::nullopt, true);
    EXPECT_NE(fresh.uuid(), aUuid);
    EXPECT_EQ(tree(dir.path()), before);

    // Over a bare backing without a manifest and without a uuid there is no manifest.
    KVDocumentArchive bare(std::make_shared<KVDirectoryArchiveBacking>(dir / "folder", false, true), std::nullopt);
    EXPECT_FALSE(bare.manifest().has_value());
    EXPECT_FALSE(bare.uuid().empty());
    EXPECT_EQ(tree(dir.path()), before);
}

TEST(KVDocumentArchive, ReflectsFolderToZipAndBack)
{
    kxtest::TemporaryDirectory dir;
    makeProject(dir / "working");
    KVDocumentArchive working(dir / "working", folderType, false, aUuid, false);

    KVDocumentArchive zip(dir / "Project.korvelx", zipType, true, std::nullopt, true);
    std::string zipUuid = zip.uuid();
    zip.reflect(working);
    const std::vector<std::string> expected = {".backups/2026-12-06 13.05.09.zip", "README.md", "code/App.tsx",
                                               "design/document.json", "design/images/photo.png"};
    ASSERT_TRUE(zip.manifest() && zip.manifest()->files);
    EXPECT_EQ(zip.uuid(), zipUuid);
    std::vector<std::string> listed;
    for (const auto& [path, entry] : *zip.manifest()->files)
        listed.push_back(path);
    EXPECT_EQ(listed, expected);

    // The manifest written equals the one computed from the files, and reopening reads it.
    KVDocumentArchive reopened(dir / "Project.korvelx", zipType, false, std::nullopt, true);
    EXPECT_EQ(reopened.manifest(), zip.manifest());
    reopened.regenerateManifest();
    EXPECT_EQ(reopened.manifest(), zip.manifest());
    working.regenerateManifest();
    EXPECT_EQ(working.manifest()->files, zip.manifest()->files);

    // Images are stored, text deflated; the manifest entry comes last.
    auto reader = KVZipReader::open(dir / "Project.korvelx");
    EXPECT_EQ(reader->find("design/images/photo.png")->method, 0);
    EXPECT_EQ(reader->find("code/App.tsx")->method, 8);
    EXPECT_LT(reader->find("code/App.tsx")->compressedSize, 1000u);
    EXPECT_EQ(reader->records().back().name, "_project.korvelxproj");

    // Into a new folder: the same files, hidden ones stay behind, the manifest file written.
    KVDocumentArchive copy(dir / "copy", folderType, true, std::nullopt, true);
    copy.reflect(reopened);
    auto files = tree(dir / "copy");
    EXPECT_TRUE(files.contains("_project.korvelxproj"));
    files.erase("_project.korvelxproj");
    auto original = tree(dir / "working");
    std::erase_if(original, [](const auto& item) { return !KVDocumentArchive::shouldInclude(item.first); });
    EXPECT_EQ(files, original);
    // The written manifest keeps the target's own uuid.
    EXPECT_EQ(KVDocumentArchive(dir / "copy", folderType, false, std::nullopt, true).uuid(), copy.uuid());
}

TEST(KVDocumentArchive, FolderReflectRemovesWhatTheSourceNoLongerHas)
{
    kxtest::TemporaryDirectory dir;
    makeProject(dir / "target");
    writeFile(dir / "target/code/old/gone.js", "old");
    writeFile(dir / "source/design/document.json", "{}");
    writeFile(dir / "source/code/App.tsx", "new");
    KVDocumentArchive source(dir / "source", folderType, false, std::nullopt, false);
    KVDocumentArchive target(dir / "target", folderType, false, std::nullopt, false);
    target.reflect(source);

    auto files = tree(dir / "target");
    EXPECT_EQ(files["design/document.json"], "{}");
    EXPECT_EQ(files["code/App.tsx"], "new");
    for (const char* gone : {"README.md", "design/images/photo.png", "code/old/gone.js", ".backups/2026-12-06 13.05.09.zip"})
        EXPECT_FALSE(files.contains(gone)) << gone;
    EXPECT_FALSE(fs::exists(dir / "target/code/old"));
    // Paths the filter leaves out are not touched, and no manifest file is written.
    for (const char* kept : {".cache/images/512/photo.png", ".project.log", ".korvel-lock", "design/.DS_Store"})
        EXPECT_TRUE(files.contains(kept)) << kept;
    EXPECT_FALSE(files.contains("_project.korvelxproj"));
    EXPECT_EQ(files.size(), 6u);
}

TEST(KVDocumentArchive, FilesWithTheLongestNamesAreSaved)
{
    kxtest::TemporaryDirectory dir;
    const std::string name = "code/" + std::string(255, 'n');
    writeFile(dir / "source" / name, "long");
    writeFile(dir / ("source/.backups/" + std::string(250, 'b')), "backup");
    KVDocumentArchive source(dir / "source", folderType, false, std::nullopt, false);
    KVDocumentArchive target(dir / "target", folderType, true, std::nullopt, true);
    target.reflect(source);
    EXPECT_EQ(tree(dir / "target")[name], "long");
    KVDocumentArchive zip(dir / std::string(250, 'z'), zipType, true, std::nullopt, true);
    zip.reflect(source);
    EXPECT_EQ(walk(zip).size(), 2u);
}

TEST(KVDocumentArchive, FolderReflectRemovesEmptiedFoldersOnlyInsideThePackage)
{
    // A folder URL may end in a separator; emptied folders are removed up to the package,
    // never the package itself or what holds it.
    kxtest::TemporaryDirectory dir;
    writeFile(dir / "holder/target/code/old.js", "old");
    fs::create_directories(dir / "source");
    KVDocumentArchive source(dir / "source", folderType, false, std::nullopt, false);
    KVDocumentArchive target((dir / "holder/target").string() + "/", folderType, false, std::nullopt, false);
    target.reflect(source);
    EXPECT_TRUE(fs::is_directory(dir / "holder/target"));
    EXPECT_FALSE(fs::exists(dir / "holder/target/code"));
}

TEST(KVDocumentArchive, FilteredViewShowsOnlyAcceptedFiles)
{
    kxtest::TemporaryDirectory dir;
    makeProject(dir / "working");
    KVDocumentArchive working(dir / "working", folderType, false, aUuid, false);
    working.regenerateManifest();
    KVDocumentArchive view(working, [](const std::string& path) { return path.starts_with("code") || path.starts_with(".backups"); });
    EXPECT_EQ(walk(view), (std::vector<std::string>{".backups/2026-12-06 13.05.09.zip", "code/App.tsx"}));
    EXPECT_EQ(view.manifest()->files->size(), 2u);
    EXPECT_EQ(view.uuid(), aUuid);
    EXPECT_EQ(readAll(*view.backing()->dataReader("code/App.tsx")).size(), 20000u);
    EXPECT_EQ(codeOf([&] { view.backing()->dataReader("README.md"); }), KVDocumentArchiveError::Code::notFound);
    EXPECT_THROW(view.reflect(working), KVDocumentArchiveError);

    // A backup: a zip of the view without a manifest file, over an archive without a manifest.
    auto backing = std::make_shared<KVZipArchiveBacking>(dir / "backup.zip", true, false);
    KVDocumentArchive backup(backing, std::nullopt);
    EXPECT_FALSE(backup.manifest().has_value());
    backup.reflect(view);
    auto reader = KVZipReader::open(dir / "backup.zip");
    ASSERT_EQ(reader->records().size(), 2u);
    EXPECT_EQ(reader->find("_project.korvelxproj"), nullptr);

    // Nothing to back up still makes a zip file, an empty one.
    backup.reflect(KVDocumentArchive(working, [](const std::string&) { return false; }));
    EXPECT_TRUE(KVZipReader::open(dir / "backup.zip")->records().empty());
}

TEST(KVDocumentArchive, ReadersReportMissingFilesAsNotFound)
{
    kxtest::TemporaryDirectory dir;
    makeProject(dir / "working");
    KVDocumentArchive working(dir / "working", folderType, false, std::nullopt, false);
    using Code = KVDocumentArchiveError::Code;
    for (const char* path : {"missing.txt", "design", "../outside", "/etc/passwd"})
        EXPECT_EQ(codeOf([&] { readAll(*working.backing()->dataReader(path)); }), Code::notFound) << path;
    fs::create_symlink(dir / "working/README.md", dir / "working/link.md");
    EXPECT_EQ(codeOf([&] { readAll(*working.backing()->dataReader("link.md")); }), Code::notFound);
    auto paths = walk(working);
    EXPECT_EQ(std::count(paths.begin(), paths.end(), "link.md"), 0);

    KVDocumentArchive zip(dir / "p.korvelx", zipType, true, std::nullopt, true);
    zip.reflect(working);
    EXPECT_EQ(codeOf([&] { zip.backing()->dataReader("missing.txt"); }), Code::notFound);
    EXPECT_EQ(readAll(*zip.backing()->dataReader("README.md")), "# Project");
}

TEST(KVDocumentArchive, ContentModificationDateFollowsTheContent)
{
    kxtest::TemporaryDirectory dir;
    makeProject(dir / "working");
    KVDocumentArchive working(dir / "working", folderType, false, std::nullopt, false);
    auto old = fs::file_time_type::clock::now() - std::chrono::hours(48);
    for (const auto& item : fs::recursive_directory_iterator(dir / "working"))
        fs::last_write_time(item.path(), old);
    fs::last_write_time(dir / "working", old);
    auto before = working.contentModificationDate();
    ASSERT_TRUE(before.has_value());
    EXPECT_LT(*before, std::chrono::system_clock::now() - std::chrono::hours(47));

    // Hidden files do not count; a project file does.
    fs::last_write_time(dir / "working/.project.log", fs::file_time_type::clock::now());
    EXPECT_EQ(working.contentModificationDate(), before);
    fs::last_write_time(dir / "working/code/App.tsx", fs::file_time_type::clock::now());
    EXPECT_GT(working.contentModificationDate(), before);

    // A package to be made exists (and has a date) only once it was written whole.
    KVDocumentArchive zip(dir / "p.korvelx", zipType, true, std::nullopt, true);
    EXPECT_FALSE(fs::exists(dir / "p.korvelx"));
    EXPECT_FALSE(zip.contentModificationDate().has_value());
    zip.reflect(working);
    EXPECT_TRUE(zip.contentModificationDate().has_value());
    fs::remove(dir / "p.korvelx");
    EXPECT_FALSE(zip.contentModificationDate().has_value());
}
