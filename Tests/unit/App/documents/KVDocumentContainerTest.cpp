// Creation, the registry, invalidation, deletion, change tracking and writing of a working
// container, on real folders.
#include "unit/App/documents/ContainerTestSupport.h"

#include <unistd.h>

#include "App/archive/KVDirectoryArchiveBacking.h"
#include "App/documents/KVDocumentLogger.h"
#include "App/server/ServerController.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "support/ProjectServerSetup.h"

using namespace kx;

using namespace containertest;

namespace {

class KVDocumentContainerTest : public ContainerTest {};

std::string lockText(const fs::path& folder)
{
    return readFile(folder / ".korvel-lock").value_or("<none>");
}

std::string logText(KVDocumentContainer& container)
{
    static_cast<KVDocumentLogger&>(container.logger()).waitUntilWritten();
    return readFile(container.projectDirectory() / ".project.log").value_or("");
}

TEST_F(KVDocumentContainerTest, MakesItsWorkingFolderAndTakesTheLockAtOnce)
{
    const std::string uuid = "0b6d8c55-3a2c-4e43-9d1a-5e0f5a6c7b8d";
    auto container = makeContainer(uuid);
    EXPECT_EQ(container->uuid(), "0B6D8C55-3A2C-4E43-9D1A-5E0F5A6C7B8D");
    EXPECT_EQ(container->uuidDirectory(), temp / "cache" / "Autosave-0B6D8C55-3A2C-4E43-9D1A-5E0F5A6C7B8D");
    EXPECT_EQ(container->projectDirectory(), container->uuidDirectory() / "container");
    EXPECT_TRUE(fs::is_directory(container->projectDirectory()));
    EXPECT_TRUE(container->isValid());
    EXPECT_FALSE(container->projectDirectoryIsOrigin());
    EXPECT_FALSE(container->hasChanges());
    // A fresh folder is locked too: another instance must not share it.
    EXPECT_EQ(lockText(container->projectDirectory()), std::to_string(::getpid()));
    EXPECT_NE(logText(*container).find("] - INFO - Initialized with uuid 0B6D8C55-3A2C-4E43-9D1A-5E0F5A6C7B8D\n"), std::string::npos);
    EXPECT_EQ(KVDocumentContainer::allInstances().size(), 1u);

    const fs::path folder = container->projectDirectory();
    container.reset();
    EXPECT_FALSE(fs::exists(folder / ".korvel-lock"));
    EXPECT_TRUE(fs::exists(folder));
    EXPECT_TRUE(KVDocumentContainer::allInstances().empty());
}

TEST_F(KVDocumentContainerTest, RefusesANameThatIsNoUuid)
{
    EXPECT_THROW(makeContainer("../../escape"), kx::Error);
    EXPECT_FALSE(fs::exists(temp / "escape"));
}

TEST_F(KVDocumentContainerTest, OneValidContainerPerUuidUntilInvalidated)
{
    const std::string uuid = kx::Uuid::make();
    auto first = makeContainer(uuid);
    try {
        makeContainer(uuid);
        FAIL() << "a second container was made";
    } catch (const KVDocumentError& error) {
        EXPECT_EQ(error.code(), KVDocumentError::Code::containerAlreadyExists);
        EXPECT_EQ(error.failureReason(), "Close other documents and try again.");
    }
    first->invalidate();
    EXPECT_FALSE(first->isValid());
    auto second = makeContainer(uuid);
    EXPECT_TRUE(second->isValid());

    // The old one going late does not take the new one's lock with it.
    first.reset();
    EXPECT_EQ(lockText(second->projectDirectory()), std::to_string(::getpid()));
    second.reset();
    EXPECT_FALSE(fs::exists(temp / "cache" / ("Autosave-" + uuid) / "container/.korvel-lock"));
}

TEST_F(KVDocumentContainerTest, ThePlaceholderIsInvalidAndTouchesNothing)
{
    const auto& placeholder = KVDocumentContainer::placeholder();
    EXPECT_FALSE(placeholder->isValid());
    EXPECT_EQ(placeholder->uuidDirectory().filename().string().rfind("AutosaveShouldNotExist-", 0), 0u);
    placeholder->logger().log({"nothing to see", "info", std::nullopt});
    static_cast<KVDocumentLogger&>(placeholder->logger()).waitUntilWritten();
    EXPECT_FALSE(fs::exists(placeholder->uuidDirectory()));
    EXPECT_EQ(&KVDocumentContainer::placeholder(), &placeholder);
    for (const auto& container : KVDocumentContainer::allInstances())
        EXPECT_NE(container, placeholder);
}

TEST_F(KVDocumentContainerTest, AnOlderLayoutWithAPackageItemStartsAfresh)
{
    const std::string uuid = kx::Uuid::make();
    const fs::path folder = temp / "cache" / ("Autosave-" + uuid);
    writeFile(folder / "package", "old layout");
    writeFile(folder / "container/design/document.json", "{}");
    auto container = makeContainer(uuid);
    EXPECT_FALSE(fs::exists(folder / "package"));
    EXPECT_FALSE(fs::exists(folder / "container/design/document.json"));
    EXPECT_EQ(lockText(container->projectDirectory()), std::to_string(::getpid()));
}

TEST_F(KVDocumentContainerTest, AFolderProjectIsWorkedOnInPlaceAndNeverDeleted)
{
    const fs::path project = temp / "My Project";
    writeProject(project);
    auto archive = std::make_shared<KVDocumentArchive>(project, "com.korvel.projectfolder", false, std::nullopt, false);
    auto container = KVDocumentContainer::make(archive);
    EXPECT_TRUE(container->projectDirectoryIsOrigin());
    EXPECT_EQ(container->projectDirectory(), project);
    EXPECT_EQ(container->uuid(), archive->uuid());
    EXPECT_EQ(container->uuidDirectory(), KVDocumentContainer::placeholder()->uuidDirectory());
    EXPECT_EQ(lockText(project), std::to_string(::getpid()));
    container->deleteContainer(false);
    EXPECT_TRUE(fs::exists(project / "design/document.json"));
    EXPECT_TRUE(KVDocumentContainer::allInstances().empty());

    writeFile(temp / "file.korvelx", "not a folder");
    try {
        KVDocumentContainer::make(std::make_shared<KVDocumentArchive>(
            "0B6D8C55-3A2C-4E43-9D1A-5E0F5A6C7B8D", std::nullopt,
            std::make_shared<KVDirectoryArchiveBacking>(temp / "file.korvelx", true, false)));
        FAIL() << "a file became a project folder";
    } catch (const KVDocumentError& error) {
        EXPECT_EQ(error.code(), KVDocumentError::Code::containerIsNotDirectory);
    }
}

TEST_F(KVDocumentContainerTest, DeletingKeepsAFolderThatHeldWorkFromBefore)
{
    const std::string uuid = kx::Uuid::make();
    const fs::path folder = temp / "cache" / ("Autosave-" + uuid);
    writeFile(folder / "container/design/document.json", "{\"unsaved\": true}");
    auto container = makeContainer(uuid);
    // Never read into nor saved from: the folder may be the only copy of that work.
    container->deleteContainer(false);
    EXPECT_EQ(readFile(folder / "container/design/document.json"), "{\"unsaved\": true}");
    EXPECT_TRUE(KVDocumentContainer::allInstances().empty());
    container.reset();

    // A folder the container made itself goes.
    auto fresh = makeContainer();
    const fs::path freshFolder = fresh->uuidDirectory();
    fresh->deleteContainer(false);
    EXPECT_FALSE(fs::exists(freshFolder));
    fresh.reset();

    // So does a folder from before once a read filled it: its work is the user's file now.
    const fs::path project = temp / "project";
    writeProject(project);
    auto reopened = makeContainer(uuid);
    reopened->read(KVDocumentArchive(project, "com.korvel.projectfolder", false, std::nullopt, false),
                   KVDocumentContainer::ArchiveRelation::copy());
    reopened->deleteContainer(false);
    EXPECT_FALSE(fs::exists(folder));
    drop(reopened);
}

TEST_F(KVDocumentContainerTest, ReopeningAWorkingFolderClearsOnlyOldLeftoversOfBackups)
{
    // What backups cut short by a crash left in their staging folder; one may be another
    // container's backup under way.
    const std::string uuid = kx::Uuid::make();
    const fs::path staging = temp / "cache" / ("Autosave-" + uuid) / "container/.cache/backups";
    writeFile(staging / "old/backup.zip", "cut short");
    writeFile(staging / "recent/backup.zip", "under way");
    fs::last_write_time(staging / "old", fs::file_time_type::clock::now() - std::chrono::minutes(11));
    auto container = makeContainer(uuid);
    EXPECT_FALSE(fs::exists(staging / "old"));
    EXPECT_EQ(readFile(staging / "recent/backup.zip"), "under way");
}

// ---- Change tracking and data sources ----

TEST_F(KVDocumentContainerTest, FileChangesAreTrackedAgainstTheOrigin)
{
    const fs::path project = temp / "project";
    writeProject(project);
    auto container = makeContainer();
    KVDocumentArchive archive(project, "com.korvel.projectfolder", false, std::nullopt, false);
    container->read(archive, KVDocumentContainer::ArchiveRelation::copy());
    container->mark(false);
    std::vector<bool> told;
    auto token = container->observeHasChanges([&](auto phase, bool, bool value) {
        if (phase == kx::Observable<bool>::Phase::didChange)
            told.push_back(value);
    });

    writeFile(container->projectDirectory() / "code/index.js", "changed");
    container->didChange("code/index.js");
    EXPECT_TRUE(container->hasChanges());
    writeFile(container->projectDirectory() / "code/index.js", "export const a = 1;\n");
    container->didChange("code/index.js");
    EXPECT_FALSE(container->hasChanges());
    EXPECT_EQ(told, (std::vector<bool>{true, false}));

    // Backups and the package.json before the server's first install never count.
    writeFile(container->projectDirectory() / ".backups/x.zip", "zip");
    container->didChange(".backups/x.zip");
    writeFile(container->projectDirectory() / "package.json", "{}");
    container->didChange("package.json");
    EXPECT_FALSE(container->hasChanges());

    // Marked changed, it stays changed whatever the files do, until marked again.
    container->mark(true);
    container->didChange("code/index.js");
    EXPECT_TRUE(container->hasChanges());
    container->mark(false);
    EXPECT_FALSE(container->hasChanges());

    // Paths outside the folder, or left out of archives, are not looked at.
    writeFile(container->projectDirectory() / "code/new.js", "new");
    container->presentedSubitemDidChange(temp / "elsewhere/code/new.js");
    container->presentedSubitemDidChange(container->projectDirectory() / ".hidden");
    EXPECT_FALSE(container->hasChanges());
    container->presentedSubitemDidChange(container->projectDirectory() / "code/new.js");
    EXPECT_TRUE(container->hasChanges());
}

TEST_F(KVDocumentContainerTest, ChangesMadeOnDiskAreSeenWithoutBeingReported)
{
    const fs::path project = temp / "project";
    writeProject(project);
    auto container = makeContainer();
    container->read(KVDocumentArchive(project, "com.korvel.projectfolder", false, std::nullopt, false), KVDocumentContainer::ArchiveRelation::copy());
    container->mark(false);
    writeFile(container->projectDirectory() / "code/added.js", "added");
    EXPECT_TRUE(kxtest::spinUntil([&] { return container->hasChanges(); }));
    fs::remove(container->projectDirectory() / "code/added.js");
    EXPECT_TRUE(kxtest::spinUntil([&] { return !container->hasChanges(); }));
}

TEST_F(KVDocumentContainerTest, AFolderProjectNeverShowsFileChanges)
{
    const fs::path project = temp / "project";
    writeProject(project);
    auto archive = std::make_shared<KVDocumentArchive>(project, "com.korvel.projectfolder", false, std::nullopt, false);
    auto container = KVDocumentContainer::make(archive);
    container->read(*archive, KVDocumentContainer::ArchiveRelation::origin(false));
    writeFile(project / "code/index.js", "changed");
    container->didChange("code/index.js");
    EXPECT_FALSE(container->hasChanges());
}

TEST_F(KVDocumentContainerTest, DataSourcesAreWrittenAndReadBack)
{
    const fs::path project = temp / "project";
    writeProject(project, "{\"version\": 0, \"title\": \"from disk\"}");
    auto container = makeContainer();
    Editor editor;
    container->addDataSource(editor.source, "design/document.json");
    EXPECT_TRUE(container->hasDataSource("design/document.json"));
    EXPECT_FALSE(container->hasDataSource("design/other.json"));
    container->read(KVDocumentArchive(project, "com.korvel.projectfolder", false, std::nullopt, false), KVDocumentContainer::ArchiveRelation::copy());
    EXPECT_EQ(editor.read, (std::vector<std::string>{"{\"version\": 0, \"title\": \"from disk\"}"}));
    EXPECT_FALSE(editor.source->dataNeedsToBeProvided());
    container->mark(false);
    EXPECT_FALSE(container->hasChanges());

    // Nothing pending: nothing asked, nothing written.
    EXPECT_FALSE(writeChanges(*container));
    EXPECT_EQ(editor.requests, 0);

    editor.edit("{\"version\": 0, \"title\": \"edited\"}");
    EXPECT_TRUE(container->hasUnwrittenChanges());
    EXPECT_TRUE(container->hasChanges());
    EXPECT_FALSE(writeChanges(*container));
    EXPECT_EQ(editor.requests, 1);
    EXPECT_FALSE(container->hasUnwrittenChanges());
    EXPECT_EQ(readFile(container->projectDirectory() / "design/document.json"), editor.content);
    // Written, but not yet in the user's file.
    EXPECT_TRUE(container->hasChanges());
}

// A folder project worked in place whose document another program replaces: a pull, a sync
// client.
class KVDocumentContainerInPlaceTest : public ContainerTest {
protected:
    void SetUp() override
    {
        ContainerTest::SetUp();
        writeProject(project, "{\"version\": 0, \"title\": \"ours\"}");
        archive = std::make_shared<KVDocumentArchive>(project, "com.korvel.projectfolder", false, std::nullopt, false);
        container = KVDocumentContainer::make(archive);
        container->addDataSource(editor.source, "design/document.json");
        container->dataSourceFileChangedElsewhere = [this](const std::string& path) { changedElsewhere.push_back(path); };
        container->read(*archive, KVDocumentContainer::ArchiveRelation::origin(false));
        container->mark(false);
    }
    void TearDown() override
    {
        if (container)
            container->deleteContainer(false);
        container.reset();
        ContainerTest::TearDown();
    }
    // What another program does: a new file renamed over the document, as git and sync
    // clients write.
    void replaceElsewhere(const std::string& text)
    {
        writeFile(project / "design/.document.json.new", text);
        fs::rename(project / "design/.document.json.new", project / "design/document.json");
    }

    fs::path project = temp / "Project";
    std::shared_ptr<KVDocumentArchive> archive;
    std::shared_ptr<KVDocumentContainer> container;
    Editor editor;
    std::vector<std::string> changedElsewhere;
};

TEST_F(KVDocumentContainerInPlaceTest, ANewerFileOnDiskIsNeverOverwrittenFromWhatWasReadBefore)
{
    replaceElsewhere("{\"version\": 0, \"title\": \"pulled\"}");
    // Every backup cycle and autosave writes the pending changes: there are none.
    EXPECT_FALSE(writeChanges(*container));
    bool backedUp = false;
    container->backup([&] { backedUp = true; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return backedUp; }));
    EXPECT_EQ(readFile(project / "design/document.json"), "{\"version\": 0, \"title\": \"pulled\"}");
    EXPECT_EQ(editor.requests, 0);
}

TEST_F(KVDocumentContainerInPlaceTest, AChangeByAnotherProgramIsToldOnceAndOurOwnWritesNever)
{
    // Our own writes, however many, are no change from elsewhere.
    for (int edit = 0; edit < 3; ++edit) {
        editor.edit("{\"version\": 0, \"title\": \"edit " + std::to_string(edit) + "\"}");
        ASSERT_FALSE(writeChanges(*container));
    }
    kxtest::spinFor(std::chrono::milliseconds(300));
    EXPECT_TRUE(changedElsewhere.empty());

    replaceElsewhere("{\"version\": 0, \"title\": \"pulled\"}");
    ASSERT_TRUE(kxtest::spinUntil([&] { return !changedElsewhere.empty(); }));
    kxtest::spinFor(std::chrono::milliseconds(300));
    EXPECT_EQ(changedElsewhere, std::vector<std::string>{"design/document.json"});

    // Taking the version on disk hands it to the editor; it is no change of ours either.
    container->reloadDataSource("design/document.json");
    EXPECT_EQ(editor.read.back(), "{\"version\": 0, \"title\": \"pulled\"}");
    EXPECT_FALSE(editor.source->dataNeedsToBeProvided());
    container->didChange("design/document.json");
    kxtest::spinFor(std::chrono::milliseconds(100));
    EXPECT_EQ(changedElsewhere.size(), 1u);
}

TEST_F(KVDocumentContainerInPlaceTest, ALargeVersionFromElsewhereIsReadAsideAndNothingIsWrittenOverItMeanwhile)
{
    editor.edit("{\"version\": 0, \"title\": \"ours\", \"edited\": true}");
    // Megabytes: read and hashed off the main loop. A save asked for before that is done must
    // not put our version over theirs.
    const std::string theirs = "{\"version\": 0, \"title\": \"" + std::string(3u << 20, 'p') + "\"}";
    replaceElsewhere(theirs);
    container->didChange("design/document.json");
    EXPECT_FALSE(writeChanges(*container));
    EXPECT_TRUE(readFile(project / "design/document.json") == theirs);
    EXPECT_NE(logText(*container).find("Not writing design/document.json: it changed on disk and is being read"), std::string::npos);
    ASSERT_TRUE(kxtest::spinUntil([&] { return !changedElsewhere.empty(); }));
    EXPECT_FALSE(writeChanges(*container));
    EXPECT_TRUE(readFile(project / "design/document.json") == theirs);
    EXPECT_TRUE(container->isDataSourceHeld("design/document.json"));
    EXPECT_TRUE(editor.source->dataNeedsToBeProvided());
}

TEST_F(KVDocumentContainerInPlaceTest, AVersionFromElsewhereJustBeforeASaveIsNotWrittenOver)
{
    editor.edit("{\"version\": 0, \"title\": \"ours\", \"edited\": true}");
    // Another program writes, and a save follows before the main loop has turned to hear of it.
    replaceElsewhere("{\"version\": 0, \"title\": \"theirs\"}");
    EXPECT_FALSE(writeChanges(*container));
    EXPECT_EQ(readFile(project / "design/document.json"), "{\"version\": 0, \"title\": \"theirs\"}");
    EXPECT_TRUE(container->isDataSourceHeld("design/document.json"));
    EXPECT_TRUE(editor.source->dataNeedsToBeProvided());
}

TEST_F(KVDocumentContainerTest, WritingPendingChangesNeverMakesAnEditedProjectLookUnchanged)
{
    const fs::path project = temp / "project";
    writeProject(project);
    auto container = makeContainer();
    Editor editor;
    container->addDataSource(editor.source, "design/document.json");
    container->read(KVDocumentArchive(project, "com.korvel.projectfolder", false, std::nullopt, false),
                    KVDocumentContainer::ArchiveRelation::copy());
    container->mark(false);
    editor.edit("{\"version\": 0, \"title\": \"edited\"}");
    ASSERT_TRUE(container->hasChanges());
    // The document starts its autosave timer when it becomes edited: a moment of "unchanged"
    // while the pending content is written out would start it again.
    bool everUnchanged = false;
    auto observer = container->observeHasChanges([&](auto phase, const bool&, const bool&) {
        if (phase == kx::Observable<bool>::Phase::didChange && !container->hasChanges())
            everUnchanged = true;
    });
    EXPECT_FALSE(writeChanges(*container));
    EXPECT_FALSE(everUnchanged);
    EXPECT_TRUE(container->hasChanges());
    EXPECT_FALSE(container->hasUnwrittenChanges());
    drop(container);
}

TEST_F(KVDocumentContainerTest, AnEditMadeWhileTheProviderIsAskedStaysUnwritten)
{
    auto container = makeContainer();
    Editor editor;
    editor.answerLater = true;
    container->addDataSource(editor.source, "design/document.json");
    editor.edit("first");
    bool done = false;
    container->writeChanges([&](auto) { done = true; });
    ASSERT_EQ(editor.waiting.size(), 1u);
    // The page reports another change before it answers with the state it had when asked.
    editor.source->setDataNeedsToBeProvided(true);
    editor.answerWaiting();
    ASSERT_TRUE(kxtest::spinUntil([&] { return done; }));
    EXPECT_EQ(readFile(container->projectDirectory() / "design/document.json"), "first");
    EXPECT_TRUE(editor.source->dataNeedsToBeProvided());
    EXPECT_TRUE(container->hasUnwrittenChanges());
}

TEST_F(KVDocumentContainerTest, AWriteThatFailsIsNoSuccessAndSaysWhy)
{
    auto container = makeContainer();
    Editor editor;
    container->addDataSource(editor.source, "design/document.json");
    std::vector<KVDocumentError> alerted;
    container->writeFailureHandler = [&](const KVDocumentError& error) { alerted.push_back(error); };
    // Where the file belongs there is a folder: the write cannot happen.
    fs::create_directories(container->projectDirectory() / "design/document.json/blocked");
    editor.edit("{\"new\": true}");
    auto error = writeChanges(*container);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), KVDocumentError::Code::containerHasUnwrittenChanges);
    ASSERT_TRUE(error->underlying());
    EXPECT_EQ(error->underlying()->domain, kx::Error::posixDomain);
    EXPECT_EQ(error->error().localizedDescription, error->underlying()->localizedDescription);
    EXPECT_EQ(error->error().localizedFailureReason, "The latest changes could not be written into the project, so it was not saved.");
    EXPECT_TRUE(editor.source->dataNeedsToBeProvided());
    EXPECT_TRUE(container->hasUnwrittenChanges());
    // The user hears of it once, however often autosaves fail the same way.
    EXPECT_TRUE(writeChanges(*container));
    EXPECT_EQ(alerted.size(), 1u);
    EXPECT_NE(logText(*container).find("Cannot writeChanges to design/document.json: "), std::string::npos);

    fs::remove_all(container->projectDirectory() / "design/document.json");
    EXPECT_FALSE(writeChanges(*container));
    EXPECT_FALSE(container->hasUnwrittenChanges());
    EXPECT_EQ(readFile(container->projectDirectory() / "design/document.json"), "{\"new\": true}");
}

TEST_F(KVDocumentContainerTest, AProviderErrorIsLoggedAndCarried)
{
    auto container = makeContainer();
    Editor editor;
    editor.error = kx::Error("NimbetError", 1, "The editor is gone.");
    container->addDataSource(editor.source, "design/document.json");
    auto error = writeChanges(*container);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->error().localizedDescription, "The editor is gone.");
    EXPECT_FALSE(fs::exists(container->projectDirectory() / "design/document.json"));
    EXPECT_TRUE(container->hasUnwrittenChanges());
    EXPECT_NE(logText(*container).find("Cannot writeChanges to design/document.json, dataSource returned an error: The editor is gone."),
              std::string::npos);
}

TEST_F(KVDocumentContainerTest, WritingWithoutDataSourcesCompletesOnTheMainLoop)
{
    auto container = makeContainer();
    bool done = false;
    container->writeChanges([&](auto error) {
        EXPECT_FALSE(error);
        done = true;
    });
    EXPECT_FALSE(done);
    EXPECT_TRUE(kxtest::spinUntil([&] { return done; }));
}

TEST_F(KVDocumentContainerTest, TheServersFirstInstallIsTakenInOnce)
{
    KX_REQUIRE_PROJECT_SERVER();

    const fs::path project = temp / "project";
    writeProject(project);
    auto container = makeContainer();
    container->read(KVDocumentArchive(project, "com.korvel.projectfolder", false, std::nullopt, false), KVDocumentContainer::ArchiveRelation::copy());
    container->mark(false);

    kx::ServerController server(kxtest::projectServerConfiguration(temp.path()));
    server.setProjectDir(container->projectDirectory());
    std::optional<std::optional<std::string>> url;
    server.start("0B6D8C55-3A2C-4E43-9D1A-5E0F5A6C7B8D", [&](auto u) { url = u; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return server.state() && server.state()->doneFirstInstall; }, std::chrono::seconds(20)));
    ASSERT_TRUE(kxtest::spinUntil([&] { return logText(*container).find("Marking changed: false") != logText(*container).rfind("Marking changed: false"); }));
    // The package.json the install made is no change of the user's; one made later is.
    EXPECT_FALSE(container->hasChanges());
    writeFile(container->projectDirectory() / "package.json", "{\"name\": \"changed\"}");
    container->didChange("package.json");
    EXPECT_TRUE(container->hasChanges());
    server.stop();
}

} // namespace
