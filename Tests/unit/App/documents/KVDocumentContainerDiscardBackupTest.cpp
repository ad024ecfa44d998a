// Images and assets the document no longer names, and the timed backups of the document and
// the code.
#include "unit/App/documents/ContainerTestSupport.h"

#include <glib.h>
#include <sys/stat.h>

#include <atomic>
#include <set>
#include <stdexcept>

#include "App/documents/KVDocumentLogger.h"
#include "App/documents/container/KVContainerBackups.h"
#include "Platform/Foundation/MainQueue.h"
#include "support/ScopedSetting.h"

using namespace kx;

using namespace containertest;
using Relation = KVDocumentContainer::ArchiveRelation;

namespace {

class KVDocumentContainerDiscardBackupTest : public ContainerTest {
protected:
    fs::path project = temp / "project";
    Editor editor;
    std::shared_ptr<KVDocumentContainer> container;

    void SetUp() override
    {
        ContainerTest::SetUp();
        writeProject(project, "{\"images\": [\"keep.png\"]}");
        writeFile(project / "design/images/keep.png", "k");
        writeFile(project / "design/images/drop.png", "d");
        writeFile(project / "design/images/sub/nested.png", "n");
        writeFile(project / "design/assets/keep.png", "asset twin");
        writeFile(project / "code/design/images/code.png", "a file of the code");
        container = makeContainer();
        container->addDataSource(editor.source, "design/document.json");
        container->read(KVDocumentArchive(project, "com.korvel.projectfolder", false, std::nullopt, false), Relation::copy());
    }
    void TearDown() override
    {
        drop(container);
        ContainerTest::TearDown();
    }
    std::set<std::string> discarded() { return container->projectRelativePathsToDiscard(); }
    static std::set<std::string> pathsOf(const std::string& name)
    {
        return {"design/assets/" + name, "design/images/" + name, ".cache/images/512/" + name, ".cache/images/1024/" + name,
                ".cache/images/2048/" + name, ".cache/images/4096/" + name};
    }
    std::string logText()
    {
        static_cast<KVDocumentLogger&>(container->logger()).waitUntilWritten();
        return readFile(container->projectDirectory() / ".project.log").value_or("");
    }
};

TEST_F(KVDocumentContainerDiscardBackupTest, NamesTheDocumentDropsAreLeftOutOfSaves)
{
    ASSERT_FALSE(writeChanges(*container));
    EXPECT_EQ(discarded(), pathsOf("drop.png"));
    const fs::path saved = temp / "Saved.korvelx";
    KVDocumentArchive target(saved, "com.korvel.projectzip", true, container->uuid(), true);
    container->save(target, Relation::copy());
    EXPECT_FALSE(target.manifest()->files->contains("design/images/drop.png"));
    EXPECT_TRUE(target.manifest()->files->contains("design/images/keep.png"));
    EXPECT_TRUE(target.manifest()->files->contains("design/images/sub/nested.png"));
    EXPECT_TRUE(target.manifest()->files->contains("code/design/images/code.png"));
    // Until the container goes, the editor can still use them.
    EXPECT_TRUE(fs::exists(container->projectDirectory() / "design/images/drop.png"));
    container->invalidate();
    EXPECT_FALSE(fs::exists(container->projectDirectory() / "design/images/drop.png"));
    EXPECT_TRUE(fs::exists(container->projectDirectory() / "design/images/keep.png"));
}

TEST_F(KVDocumentContainerDiscardBackupTest, ANameUsedAgainIsKeptAgain)
{
    editor.edit("{\"images\": []}");
    ASSERT_FALSE(writeChanges(*container));
    EXPECT_TRUE(discarded().contains("design/images/keep.png"));
    EXPECT_TRUE(discarded().contains("design/assets/keep.png"));
    editor.edit("{\"images\": [\"keep.png\"]}");
    ASSERT_FALSE(writeChanges(*container));
    EXPECT_FALSE(discarded().contains("design/images/keep.png"));
    EXPECT_FALSE(discarded().contains("design/assets/keep.png"));
}

TEST_F(KVDocumentContainerDiscardBackupTest, ANameInsideAnotherOrWrittenWithEscapesCountsAsUsed)
{
    editor.edit(R"({"a": "prefix-keep.png", "b": "dr\u006fp.png"})");
    ASSERT_FALSE(writeChanges(*container));
    EXPECT_TRUE(discarded().empty());
    editor.edit(R"({"a": "keep.png", "b": "design\/images\/drop.png"})");
    ASSERT_FALSE(writeChanges(*container));
    EXPECT_TRUE(discarded().empty());
}

TEST_F(KVDocumentContainerDiscardBackupTest, WithoutADocumentNothingIsMarked)
{
    const fs::path bare = temp / "bare";
    writeFile(bare / "design/images/alone.png", "a");
    auto other = makeContainer();
    other->read(KVDocumentArchive(bare, "com.korvel.projectfolder", false, std::nullopt, false), Relation::copy());
    ASSERT_FALSE(writeChanges(*other));
    EXPECT_TRUE(other->projectRelativePathsToDiscard().empty());
    static_cast<KVDocumentLogger&>(other->logger()).waitUntilWritten();
    EXPECT_NE(readFile(other->projectDirectory() / ".project.log")->find("Couldn’t load design/document.json for image/asset cleanup"),
              std::string::npos);
    drop(other);
}

TEST_F(KVDocumentContainerDiscardBackupTest, AHostileDocumentDoesNotStopTheCheck)
{
    editor.edit(std::string(200'000, '[') + "\"keep.png\"" + std::string(200'000, ']'));
    ASSERT_FALSE(writeChanges(*container));
    EXPECT_EQ(discarded(), pathsOf("drop.png"));
}

TEST_F(KVDocumentContainerDiscardBackupTest, ADocumentThatCannotBeReadMarksNothing)
{
    ASSERT_FALSE(writeChanges(*container));
    ASSERT_EQ(discarded(), pathsOf("drop.png"));
    // Empty, cut short by a failed write, or left with a merge's conflict markers: what it names
    // cannot be told, so nothing is dropped from a save, not even what was marked before.
    for (const std::string& broken : {std::string(), std::string("{\"images\": [\"keep.pn"),
                                      std::string("<<<<<<< ours\n{\"images\": []}\n=======\n{}\n>>>>>>> theirs\n")}) {
        editor.edit(broken);
        ASSERT_FALSE(writeChanges(*container));
        EXPECT_TRUE(discarded().empty()) << broken;
        const fs::path saved = temp / "Saved.korvelx";
        fs::remove(saved);
        KVDocumentArchive target(saved, "com.korvel.projectzip", true, container->uuid(), true);
        container->save(target, Relation::copy());
        EXPECT_TRUE(target.manifest()->files->contains("design/images/drop.png")) << broken;
        EXPECT_TRUE(target.manifest()->files->contains("design/images/keep.png")) << broken;
    }
    EXPECT_NE(logText().find("Couldn’t read design/document.json as JSON"), std::string::npos);
}

TEST_F(KVDocumentContainerDiscardBackupTest, WhatAnEmptyDocumentWasReadWithWaitsAcrossSessionsUntilOneIsNamed)
{
    drop(container);
    writeFile(project / "design/document.json", "");
    // Each session is a relaunch: a folder project worked in place, its document written once.
    const std::vector<std::pair<std::string, std::set<std::string>>> sessions = {
        {"{\"frames\": [1]}", {}},
        {"{\"frames\": [2]}", {}},
        {"{\"images\": [\"keep.png\"]}", pathsOf("drop.png")},
    };
    for (const auto& [document, marked] : sessions) {
        Editor session;
        auto archive = std::make_shared<KVDocumentArchive>(project, "com.korvel.projectfolder", false, std::nullopt, false);
        container = KVDocumentContainer::make(archive);
        container->addDataSource(session.source, "design/document.json");
        container->read(*archive, Relation::origin(false));
        session.edit(document);
        ASSERT_FALSE(writeChanges(*container));
        EXPECT_EQ(discarded(), marked) << document;
        drop(container);
    }
    EXPECT_FALSE(fs::exists(project / std::string(KVContainerDiscardables::relativePathForAwaitedNames)));
}

TEST_F(KVDocumentContainerDiscardBackupTest, AHostileRecordOfAwaitedNamesKeepsEveryImageWaiting)
{
    drop(container);
    const fs::path record = project / std::string(KVContainerDiscardables::relativePathForAwaitedNames);
    std::string manyNames;
    for (int number = 0; manyNames.size() < KVContainerDiscardables::maximumAwaitedNamesLength - 20; ++number)
        manyNames += std::to_string(number) + '\0';
    std::string log;
    // Past the bound, cut within its one name, a pipe that no one writes, and the project's name
    // after 600,000 others: a session whose document names neither image marks nothing.
    for (const auto& hostile : {manyNames + manyNames, std::string("drop.pn"), std::string(), manyNames + "drop.png" + '\0'}) {
        fs::remove(record);
        if (hostile.empty()) {
            ASSERT_EQ(::mkfifo(record.c_str(), 0600), 0);
        } else {
            writeFile(record, hostile);
        }
        Editor session;
        auto archive = std::make_shared<KVDocumentArchive>(project, "com.korvel.projectfolder", false, std::nullopt, false);
        container = KVDocumentContainer::make(archive);
        container->addDataSource(session.source, "design/document.json");
        container->read(*archive, Relation::origin(false));
        session.edit("{\"frames\": [1]}");
        ASSERT_FALSE(writeChanges(*container));
        EXPECT_EQ(discarded(), std::set<std::string>()) << hostile.size();
        EXPECT_TRUE(fs::exists(fs::symlink_status(record))) << hostile.size();
        // A save as into another folder takes the wait along.
        auto copy = makeContainer();
        copy->keepAwaitedNamesOf(*container);
        EXPECT_TRUE(readFile(copy->projectDirectory() / record.filename()).value_or("").starts_with(std::string("drop.png") + '\0'));
        drop(copy);
        log = logText();
        drop(container);
    }
    for (const char* refusal : {"is longer than 4 MB: every", "is cut short: every", "cannot be read (Cannot read"})
        EXPECT_NE(log.find(refusal), std::string::npos) << refusal;
}

TEST_F(KVDocumentContainerDiscardBackupTest, NamesMatchInEitherUnicodeForm)
{
    // "é" composed (NFC) in one place and decomposed (NFD) in the other, both ways round.
    writeFile(container->projectDirectory() / "design/images/caf\u00e9.png", "composed");
    writeFile(container->projectDirectory() / "design/images/cafe\u0301-2.png", "decomposed");
    container->didChange("design/images/caf\u00e9.png");
    container->didChange("design/images/cafe\u0301-2.png");
    editor.edit("{\"images\": [\"keep.png\", \"cafe\u0301.png\", \"caf\u00e9-2.png\"]}");
    ASSERT_FALSE(writeChanges(*container));
    EXPECT_EQ(discarded(), pathsOf("drop.png"));
}

TEST_F(KVDocumentContainerDiscardBackupTest, AFolderProjectSendsWhatItDropsToTheTrash)
{
    drop(container);
    auto archive = std::make_shared<KVDocumentArchive>(project, "com.korvel.projectfolder", false, std::nullopt, false);
    container = KVDocumentContainer::make(archive);
    container->read(*archive, Relation::origin(false));
    ASSERT_FALSE(writeChanges(*container));
    ASSERT_EQ(discarded(), pathsOf("drop.png"));
    // The desktop's trash: this test's home, or the user's when GLib has already taken it.
    const fs::path home = temp / "home";
    {
        kxtest::ScopedSetting dataHome("XDG_DATA_HOME", home.c_str());
        container->invalidate();
    }
    EXPECT_FALSE(fs::exists(project / "design/images/drop.png"));
    bool trashed = false;
    for (const fs::path& trash : {home / "Trash/files", fs::path(g_get_user_data_dir()) / "Trash/files"}) {
        std::error_code ec;
        for (const auto& item : fs::directory_iterator(trash, ec)) {
            if (item.path().filename().string().starts_with("drop") && readFile(item.path()) == "d") {
                trashed = true;
                fs::remove(item.path());
                fs::remove(trash.parent_path() / "info" / (item.path().filename().string() + ".trashinfo"));
            }
        }
    }
    EXPECT_TRUE(trashed);
    EXPECT_TRUE(fs::exists(project / "design/images/keep.png"));
}

// ---- Backups ----

TEST_F(KVDocumentContainerDiscardBackupTest, BackupsHoldTheDocumentAndTheCodeOnlyWhenTheyChanged)
{
    auto backups = [&] {
        std::vector<fs::path> found;
        if (fs::exists(container->projectDirectory() / ".backups"))
            for (const auto& item : fs::directory_iterator(container->projectDirectory() / ".backups"))
                found.push_back(item.path());
        return found;
    };
    bool done = false;
    container->backup([&] { done = true; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return done; }));
    ASSERT_EQ(backups().size(), 1u);
    KVDocumentArchive zip(backups()[0], "com.korvel.projectzip", false, std::nullopt, false);
    zip.regenerateManifest();
    std::set<std::string> paths;
    for (const auto& [path, entry] : *zip.manifest()->files)
        paths.insert(path);
    EXPECT_EQ(paths, (std::set<std::string>{"code/design/images/code.png", "code/index.js", "code/lib/util.js", "design/document.json"}));
    EXPECT_FALSE(fs::exists(backups()[0].parent_path() / "_project.korvelxproj"));
    // Made elsewhere and moved in whole: nothing of it is left where it was made.
    EXPECT_TRUE(fs::is_empty(container->projectDirectory() / ".cache/backups"));

    // Nothing changed, or only an image: no new backup.
    writeFile(container->projectDirectory() / "design/images/new.png", "n");
    container->didChange("design/images/new.png");
    done = false;
    container->backup([&] { done = true; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return done; }));
    EXPECT_EQ(backups().size(), 1u);
    // Backups never make the project look changed.
    container->mark(false);
    container->didChange(".backups/" + backups()[0].filename().string());
    EXPECT_FALSE(container->hasChanges());
}

TEST_F(KVDocumentContainerDiscardBackupTest, TheBackupWalksTheProjectFolderOffTheMainLoop)
{
    // A large project's folder takes the main loop more than a frame to walk: the walk (here,
    // each question to the view's filter) runs on a worker, and its list comes back to the loop.
    const KVDocumentArchive folder(project, "com.korvel.projectfolder", false, std::nullopt, false);
    std::atomic<int> askedOnTheMainThread = 0;
    std::atomic<int> askedElsewhere = 0;
    auto view = std::make_shared<KVDocumentArchive>(folder, [&](const std::string& path) {
        (MainQueue::isMainThread() ? askedOnTheMainThread : askedElsewhere)++;
        return path.rfind("design/", 0) == 0;
    });
    askedOnTheMainThread = 0;
    std::optional<KVContainerBackups::Listing> listed;
    bool deliveredOnTheMainThread = false;
    KVContainerBackups::list(view, [&](KVContainerBackups::Listing listing) {
        deliveredOnTheMainThread = MainQueue::isMainThread();
        listed = std::move(listing);
    });
    ASSERT_TRUE(kxtest::spinUntil([&] { return listed.has_value(); }));
    EXPECT_TRUE(deliveredOnTheMainThread);
    EXPECT_EQ(askedOnTheMainThread, 0);
    EXPECT_GT(askedElsewhere, 0);
    EXPECT_FALSE(listed->error);
    const std::set<std::string> paths(listed->paths.begin(), listed->paths.end());
    EXPECT_TRUE(paths.contains("design/images/keep.png"));
    EXPECT_TRUE(paths.contains("design/images/sub/nested.png"));
    EXPECT_FALSE(paths.contains("code/design/images/code.png"));
}

TEST_F(KVDocumentContainerDiscardBackupTest, AFailedWalkIsToldWithWhatItListedBefore)
{
    const KVDocumentArchive folder(project, "com.korvel.projectfolder", false, std::nullopt, false);
    int asked = 0;
    auto view = std::make_shared<KVDocumentArchive>(folder, [&](const std::string&) -> bool {
        if (MainQueue::isMainThread())
            return true;
        if (++asked == 2)
            throw std::runtime_error("the folder went away");
        return true;
    });
    std::optional<KVContainerBackups::Listing> listed;
    KVContainerBackups::list(view, [&](KVContainerBackups::Listing listing) { listed = std::move(listing); });
    ASSERT_TRUE(kxtest::spinUntil([&] { return listed.has_value(); }));
    EXPECT_EQ(listed->error, "the folder went away");
    EXPECT_EQ(listed->paths.size(), 1u);
}

TEST_F(KVDocumentContainerDiscardBackupTest, AContainerClosedWhileItsFolderIsWalkedWritesNoBackup)
{
    bool done = false;
    container->backup([&] { done = true; });
    // The walk's list comes back through the main loop, which has not turned yet.
    container->invalidate();
    ASSERT_TRUE(kxtest::spinUntil([&] { return done; }));
    const fs::path backups = container->projectDirectory() / ".backups";
    EXPECT_TRUE(!fs::exists(backups) || fs::is_empty(backups));
}

TEST_F(KVDocumentContainerDiscardBackupTest, OnlyTheNewest42BackupsStay)
{
    const fs::path folder = container->projectDirectory() / ".backups";
    const auto now = std::chrono::system_clock::now();
    for (int i = 1; i <= 45; ++i)
        writeFile(folder / (kx::KVContainerBackups::backupName(now - std::chrono::hours(i)) + ".zip"), "old");
    writeFile(folder / "notes.txt", "not a backup");
    writeFile(folder / "undated.zip", "no date in its name");
    bool done = false;
    container->backup([&] { done = true; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return done; }));
    std::set<std::string> left;
    for (const auto& item : fs::directory_iterator(folder))
        left.insert(item.path().filename().string());
    EXPECT_TRUE(left.contains(kx::KVContainerBackups::backupName(now - std::chrono::hours(1)) + ".zip"));
    EXPECT_TRUE(left.contains(kx::KVContainerBackups::backupName(now - std::chrono::hours(41)) + ".zip"));
    EXPECT_FALSE(left.contains(kx::KVContainerBackups::backupName(now - std::chrono::hours(42)) + ".zip"));
    EXPECT_FALSE(left.contains("undated.zip"));
    EXPECT_TRUE(left.contains("notes.txt"));
    EXPECT_EQ(left.size(), 43u);
}

TEST_F(KVDocumentContainerDiscardBackupTest, ABackupNeverReplacesAnotherMadeInTheSameSecond)
{
    // Backups already named for this second and the next few, as two cycles within one second
    // (or a clock set back) would leave them.
    const fs::path folder = container->projectDirectory() / ".backups";
    const auto now = std::chrono::system_clock::now();
    std::set<std::string> taken;
    for (int second = 0; second < 5; ++second) {
        taken.insert(kx::KVContainerBackups::backupName(now + std::chrono::seconds(second)) + ".zip");
        writeFile(folder / *taken.rbegin(), "an earlier backup");
    }
    bool done = false;
    container->backup([&] { done = true; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return done; }));
    std::set<std::string> made;
    for (const auto& item : fs::directory_iterator(folder)) {
        const std::string name = item.path().filename().string();
        if (taken.contains(name))
            EXPECT_EQ(readFile(item.path()), "an earlier backup") << name;
        else
            made.insert(name);
    }
    ASSERT_EQ(made.size(), 1u);
    // Still a date, after the ones it found.
    EXPECT_GT(*made.begin(), *taken.rbegin());
    KVDocumentArchive zip(folder / *made.begin(), "com.korvel.projectzip", false, std::nullopt, false);
    zip.regenerateManifest();
    EXPECT_TRUE(zip.manifest()->files->contains("design/document.json"));
}

TEST_F(KVDocumentContainerDiscardBackupTest, BackupNamesAreLocalDatesAndTimes)
{
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 6;
    local.tm_hour = 13;
    local.tm_min = 5;
    local.tm_sec = 9;
    local.tm_isdst = -1;
    auto time = std::chrono::system_clock::from_time_t(std::mktime(&local));
    EXPECT_EQ(kx::KVContainerBackups::backupName(time), "2026-12-06 13.05.09");
}

} // namespace
