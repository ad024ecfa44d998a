// Reading from and saving to the user's file: round trips through zip and folder packages,
// when a working copy is kept, failed reads that must not cost the working copy, the origin
// record, and saves killed at random moments.
#include "unit/App/documents/ContainerTestSupport.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

#include "App/archive/KVDocumentArchiveError.h"
#include "App/documents/container/KVDirectoryMonitor.h"
#include "App/documents/KVDocumentLogger.h"
#include "support/ChildProcess.h"
#include "support/ScopedSetting.h"
#include "support/ZipBuilder.h"
#include "unit/App/archive/ArchiveTestFiles.h"

using namespace kx;

using namespace containertest;
using Relation = KVDocumentContainer::ArchiveRelation;

using archivetest::folderType;
using archivetest::zipType;

namespace {

// Sets a file's modification time to another file's, as cp -p, rsync -t and unzip do.
void copyModificationTime(const fs::path& from, const fs::path& to)
{
    struct stat info {};
    ASSERT_EQ(::stat(from.c_str(), &info), 0);
    struct timespec times[2] = {info.st_atim, info.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, to.c_str(), times, 0), 0);
}

class KVDocumentContainerReadSaveTest : public ContainerTest {
protected:
    // The package's files again, with its manifest, and one entry whose checksum is wrong: it
    // opens, and its read fails half way.
    void writeDamagedZip(const fs::path& package)
    {
        std::string manifest;
        {
            KVDocumentArchive original(zip, zipType, false, std::nullopt, true);
            auto reader = original.backing()->dataReader("_project.korvelxproj");
            for (auto chunk = reader->read(); !chunk.empty(); chunk = reader->read())
                manifest.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
        }
        kxtest::ZipBuilder damaged;
        for (const auto& [path, data] : files(source)) {
            kxtest::ZipBuilder::Entry entry;
            entry.name = path;
            entry.data = data;
            if (path == "code/index.js")
                entry.crc = 1u;
            damaged.add(entry);
        }
        damaged.add("_project.korvelxproj", manifest);
        damaged.write(package);
    }

    fs::path source = temp / "source";
    fs::path zip = temp / "Project.korvelx";

    void SetUp() override
    {
        ContainerTest::SetUp();
        writeProject(source);
        writeFile(source / "design/images/photo.png", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(1000, 'p'));
        writeFile(source / ".backups/2026-01-01 10.00.00.zip", "an old backup");
        makeZip(source, zip);
    }

    // Opens the package as a document does: a container for its uuid, the editor's data source,
    // a read as origin.
    std::shared_ptr<KVDocumentContainer> open(const fs::path& package, Editor& editor, Relation relation = Relation::origin(false))
    {
        KVDocumentArchive archive(package, zipType, false, std::nullopt, true);
        auto container = makeContainer(archive.uuid(), package);
        container->addDataSource(editor.source, "design/document.json");
        container->read(archive, relation);
        return container;
    }
    void save(KVDocumentContainer& container, const fs::path& package, Relation relation = Relation::origin(false))
    {
        KVDocumentArchive archive(package, zipType, true, container.uuid(), true);
        container.save(archive, relation);
    }
};

TEST_F(KVDocumentContainerReadSaveTest, AZipProjectComesBackByteForByte)
{
    Editor editor;
    auto container = open(zip, editor);
    EXPECT_EQ(files(container->projectDirectory()), files(source));
    EXPECT_EQ(editor.read.back(), *readFile(source / "design/document.json"));

    const std::string edited = "{\"version\": 0, \"title\": \"two\", \"image\": \"design/images/photo.png\"}";
    editor.edit(edited);
    ASSERT_FALSE(writeChanges(*container));
    save(*container, zip);
    const std::string uuid = container->uuid();
    container->deleteContainer(false);
    drop(container);

    auto expected = files(source);
    expected["design/document.json"] = edited;
    KVDocumentArchive reopened(zip, zipType, false, std::nullopt, true);
    EXPECT_EQ(reopened.uuid(), uuid);
    Editor second;
    auto again = open(zip, second);
    EXPECT_EQ(files(again->projectDirectory()), expected);
    EXPECT_EQ(second.read.back(), expected["design/document.json"]);
}

TEST_F(KVDocumentContainerReadSaveTest, AFolderProjectComesBackByteForByte)
{
    Editor editor;
    auto container = makeContainer();
    container->addDataSource(editor.source, "design/document.json");
    container->read(KVDocumentArchive(source, folderType, false, std::nullopt, false), Relation::copy());
    const fs::path target = temp / "Saved Project";
    KVDocumentArchive archive(target, folderType, true, container->uuid(), false);
    container->save(archive, Relation::origin(false));
    EXPECT_EQ(files(target), files(source));
    // Hidden things of the working copy (its lock, log and image cache) stay behind.
    EXPECT_FALSE(fs::exists(target / ".korvel-lock"));
    EXPECT_FALSE(fs::exists(target / ".project.log"));
    EXPECT_FALSE(fs::exists(target / ".cache"));
}

TEST_F(KVDocumentContainerReadSaveTest, AnUnchangedFileKeepsTheWorkingCopyWithItsUnsavedWork)
{
    std::string uuid;
    {
        Editor editor;
        auto container = open(zip, editor);
        uuid = container->uuid();
        save(*container, zip);
        // Work that never reached the file: the application ended first.
        writeFile(container->projectDirectory() / "code/unsaved.js", "unsaved");
        drop(container);
    }
    Editor editor;
    auto container = open(zip, editor);
    EXPECT_EQ(container->uuid(), uuid);
    static_cast<KVDocumentLogger&>(container->logger()).waitUntilWritten();
    EXPECT_EQ(readFile(container->projectDirectory() / "code/unsaved.js"), "unsaved") << readFile(container->projectDirectory() / ".project.log").value_or("");
    // It shows as changed: the file list is compared with what the file held.
    EXPECT_TRUE(container->hasChanges());
}

TEST_F(KVDocumentContainerReadSaveTest, AFileReplacedWithTheSameDateIsReadAfresh)
{
    {
        Editor editor;
        auto container = open(zip, editor);
        save(*container, zip);
        writeFile(container->projectDirectory() / "code/stale.js", "stale");
        drop(container);
    }
    // Another version arrives with the date of the old one (a sync client, cp -p, unzip).
    const fs::path other = temp / "other";
    writeProject(other, "{\"version\": 0, \"title\": \"from elsewhere\"}");
    const fs::path replacement = temp / "replacement.korvelx";
    {
        KVDocumentArchive current(zip, zipType, false, std::nullopt, true);
        makeZip(other, replacement, current.uuid());
    }
    copyModificationTime(zip, replacement);
    fs::rename(replacement, zip);

    Editor editor;
    auto container = open(zip, editor);
    EXPECT_EQ(editor.read.back(), "{\"version\": 0, \"title\": \"from elsewhere\"}");
    EXPECT_FALSE(fs::exists(container->projectDirectory() / "code/stale.js"));
    EXPECT_FALSE(container->hasChanges());
}

TEST_F(KVDocumentContainerReadSaveTest, AFileChangedSinceIsReadAfresh)
{
    {
        Editor editor;
        auto container = open(zip, editor);
        save(*container, zip);
        writeFile(container->projectDirectory() / "code/stale.js", "stale");
        drop(container);
    }
    fs::last_write_time(zip, fs::last_write_time(zip) + std::chrono::milliseconds(150));
    Editor editor;
    auto container = open(zip, editor);
    EXPECT_FALSE(fs::exists(container->projectDirectory() / "code/stale.js"));
}

TEST_F(KVDocumentContainerReadSaveTest, AFailedReadLeavesTheWorkingCopyAndItsFolder)
{
    std::string uuid;
    fs::path workingCopy;
    {
        Editor editor;
        auto container = open(zip, editor);
        uuid = container->uuid();
        workingCopy = container->projectDirectory();
        writeFile(workingCopy / "code/only-copy.js", "the only copy");
        container->mark(true);
        drop(container);
    }
    // The file is replaced by a damaged one: its directory reads, one entry's data does not.
    writeDamagedZip(zip);
    fs::last_write_time(zip, fs::last_write_time(zip) + std::chrono::seconds(2));
    const auto before = files(workingCopy);

    auto container = makeContainer(uuid, zip);
    container->addDataSource(Editor().source, "design/document.json");
    KVDocumentArchive damaged(zip, zipType, false, std::nullopt, true);
    EXPECT_ANY_THROW(container->read(damaged, Relation::origin(false)));
    // What a document does with a container whose read failed.
    container->deleteContainer(false);
    container.reset();
    EXPECT_EQ(files(workingCopy), before);
    EXPECT_TRUE(fs::exists(workingCopy / ".cache/images/512"));
    EXPECT_EQ(readFile(workingCopy / "code/only-copy.js"), "the only copy");
}

TEST_F(KVDocumentContainerReadSaveTest, AFailedReadIntoAFreshFolderLeavesNothing)
{
    const fs::path damagedZip = temp / "Damaged.korvelx";
    writeDamagedZip(damagedZip);
    KVDocumentArchive damaged(damagedZip, zipType, false, std::nullopt, true);
    auto container = makeContainer(damaged.uuid(), damagedZip);
    EXPECT_ANY_THROW(container->read(damaged, Relation::origin(false)));
    EXPECT_TRUE(files(container->projectDirectory()).empty());
    container->deleteContainer(false);
    EXPECT_FALSE(fs::exists(container->uuidDirectory()));
}

TEST_F(KVDocumentContainerReadSaveTest, TheOriginRecordFollowsReadsAndSaves)
{
    Editor editor;
    auto container = open(zip, editor);
    const fs::path folder = container->uuidDirectory();
    const fs::path link = folder / "--- Project.korvelx ---";
    EXPECT_TRUE(fs::exists(folder / "info"));
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), fs::canonical(zip));

    // Read as a copy: the record goes.
    container->read(KVDocumentArchive(zip, zipType, false, std::nullopt, true), Relation::copy());
    EXPECT_FALSE(fs::exists(folder / "info"));
    EXPECT_FALSE(fs::is_symlink(link));

    // A draft gets a record but no link; a file saved under another name replaces the link.
    save(*container, temp / "Draft.korvelx", Relation::origin(true));
    EXPECT_TRUE(fs::exists(folder / "info"));
    EXPECT_FALSE(fs::exists(folder / "--- Draft.korvelx ---", *std::make_unique<std::error_code>()));
    save(*container, temp / "Renamed.korvelx");
    EXPECT_TRUE(fs::is_symlink(folder / "--- Renamed.korvelx ---"));
    EXPECT_FALSE(fs::is_symlink(link));
    // Saved as a copy elsewhere, the record stays with its file.
    save(*container, temp / "Copy.korvelx", Relation::copy());
    EXPECT_TRUE(fs::is_symlink(folder / "--- Renamed.korvelx ---"));
    EXPECT_FALSE(fs::exists(folder / "--- Copy.korvelx ---", *std::make_unique<std::error_code>()));
}

TEST_F(KVDocumentContainerReadSaveTest, AWorkingFolderOfAnotherFileIsNotTaken)
{
    std::string uuid;
    {
        Editor editor;
        auto container = open(zip, editor);
        uuid = container->uuid();
        drop(container);
    }
    fs::copy_file(zip, temp / "Copy of Project.korvelx");
    try {
        makeContainer(uuid, temp / "Copy of Project.korvelx");
        FAIL() << "the copy took the original's working folder";
    } catch (const KVDocumentError& error) {
        EXPECT_EQ(error.code(), KVDocumentError::Code::containerAlreadyExistsForOtherOrigin);
    }
    // Through a link the same file is the same origin.
    fs::create_symlink(zip, temp / "link.korvelx");
    EXPECT_NO_THROW(makeContainer(uuid, temp / "link.korvelx"));
}

TEST_F(KVDocumentContainerReadSaveTest, AMovedFileIsFoundByItsIdentityWithinItsFolder)
{
    std::string uuid;
    {
        Editor editor;
        auto container = open(zip, editor);
        uuid = container->uuid();
        drop(container);
    }
    fs::rename(zip, temp / "Renamed.korvelx");
    EXPECT_NO_THROW(makeContainer(uuid, temp / "Renamed.korvelx"));
}

TEST_F(KVDocumentContainerReadSaveTest, SavingAFolderProjectOntoItselfDoesNothing)
{
    auto archive = std::make_shared<KVDocumentArchive>(source, folderType, false, std::nullopt, false);
    auto container = KVDocumentContainer::make(archive);
    container->read(*archive, Relation::origin(false));
    const auto before = files(source, true);
    container->save(*archive, Relation::origin(false));
    EXPECT_EQ(files(source, true), before);
}

TEST_F(KVDocumentContainerReadSaveTest, LostFileEventsAreMadeUpForBeforeTheNextSave)
{
    Editor editor;
    auto container = open(zip, editor);
    container->mark(false);
    {
        kxtest::ScopedSetting fault(KVDirectoryMonitor::setWatchFaultForTesting, ENOSPC);
        fs::create_directories(container->projectDirectory() / "code/unwatched");
        kxtest::spinFor(std::chrono::milliseconds(100));
    }
    writeFile(container->projectDirectory() / "code/unwatched/new.js", "never reported");
    kxtest::spinFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(container->hasChanges());
    ASSERT_FALSE(writeChanges(*container));
    EXPECT_TRUE(container->hasChanges());
}

// Saves of a project of several megabytes killed at random moments: the file and the working
// folder always hold one whole version.
TEST_F(KVDocumentContainerReadSaveTest, SavesKilledAtRandomMomentsLeaveAWholeVersion)
{
    for (int i = 0; i < 40; ++i) {
        std::string noise(100'000, '\0');
        std::mt19937 random(i);
        for (auto& c : noise)
            c = static_cast<char>('a' + random() % 26);
        writeFile(source / ("code/module" + std::to_string(i) + ".js"), noise);
    }
    const fs::path package = temp / "Killed.korvelx";
    makeZip(source, package);
    const std::string uuid = KVDocumentArchive(package, zipType, false, std::nullopt, true).uuid();
    const size_t fileCount = files(source).size();
    const fs::path base = temp / "cache";
    std::set<std::string> written = {*readFile(source / "design/document.json")};
    std::string last = *written.begin();

    auto runHelper = [&](const std::string& content, std::optional<std::chrono::microseconds> killAfter) {
        kxtest::ChildProcess helper({kxtest::testHelperProgram(), "save", base.string(), uuid, package.string(), content});
        EXPECT_TRUE(helper.started());
        if (killAfter) {
            struct timespec delay {static_cast<time_t>(killAfter->count() / 1'000'000), static_cast<long>(killAfter->count() % 1'000'000) * 1000};
            while (::nanosleep(&delay, &delay) != 0) {
            }
            ::kill(helper.pid(), SIGKILL);
        }
        std::string output = helper.readAll();
        helper.waitForExit();
        return output;
    };

    // One whole save first, to learn how long one takes.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(runHelper("{\"save\": 0, \"image\": \"photo.png\"}", std::nullopt), "saved\n");
    const auto duration = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    written.insert("{\"save\": 0, \"image\": \"photo.png\"}");
    last = "{\"save\": 0, \"image\": \"photo.png\"}";

    // One kill in each of equal slices of the save (and a fifth past its end), at a random
    // moment of its slice: every stage is reached with half the runs of kills spread at random.
    std::mt19937 random(20260601);
    const int runs = 25;
    for (int run = 1; run <= runs; ++run) {
        const std::string content = "{\"save\": " + std::to_string(run) + ", \"image\": \"photo.png\"}";
        written.insert(content);
        const long slice = duration.count() * 6 / 5 / runs;
        std::uniform_int_distribution<long> moment(slice * (run - 1), slice * run);
        runHelper(content, std::chrono::microseconds(moment(random)));

        // The user's file: the old version or the new one, whole.
        KVDocumentArchive archive(package, zipType, false, std::nullopt, true);
        std::string document;
        auto reader = archive.backing()->dataReader("design/document.json");
        for (auto chunk = reader->read(); !chunk.empty(); chunk = reader->read())
            document.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
        EXPECT_TRUE(document == last || document == content) << "run " << run << ": " << document;
        archive.regenerateManifest();
        EXPECT_EQ(archive.manifest()->files->size(), fileCount) << "run " << run;
        last = document;

        // The working folder: opens, and holds a version that was written in full.
        auto container = makeContainer(uuid, package);
        Editor editor;
        container->addDataSource(editor.source, "design/document.json");
        ASSERT_NO_THROW(container->read(archive, Relation::origin(false))) << "run " << run;
        ASSERT_FALSE(editor.read.empty());
        EXPECT_TRUE(written.contains(editor.read.back())) << "run " << run << ": " << editor.read.back();
        // What the killed save left half made is gone once the package and the folder opened.
        for (const auto& folder : {temp.path(), container->uuidDirectory()})
            for (const auto& item : fs::directory_iterator(folder))
                EXPECT_EQ(item.path().filename().string().find(".korvel-"), std::string::npos) << item.path();
        drop(container);
    }
}

} // namespace
