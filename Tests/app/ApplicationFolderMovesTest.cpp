// A folder project that the user renames, moves, puts in the Trash (and back) or deletes in the
// file manager while it is open in the running application, with an edit made before and one
// made after: the work is saved where the folder is now, or, once it is gone, kept in a draft
// that outlives a crash and saved wherever the user says, with everything that could still be
// read of it.
#include <gtest/gtest.h>

#include <signal.h>

#include "ApplicationProcess.h"
#include "ApplicationTests.h"
#include "Platform/Foundation/FileSystem.h"
#include "support/ChildProcess.h"
#include "support/ProjectServerSetup.h"
#include "support/SmallDisk.h"
#include "support/Spin.h"

namespace {

namespace fs = std::filesystem;
using namespace kxtest;
using namespace std::chrono_literals;

// Backups write the page's document into the working folder within a second: the test sees it.
const std::map<std::string, std::string> quickBackups = {{"KX_TEST_BACKUP_MS", "700"}};

std::string fileText(const fs::path& file) { return kx::FileSystem::readFile(file).value_or(""); }

// A folder project with an image and an asset that its second frame names (what a document
// no longer names goes to the Trash when the project closes).
fs::path makeFolderProject(const fs::path& project)
{
    writeFile(project / "design/document.json",
              R"({"version":1,"frames":[{"id":"a","name":"Home","text":"Mine"},{"id":"b","name":"Pictures","text":"logo.png notes.txt"}]})");
    writeFile(project / "design/images/logo.png", "the logo");
    writeFile(project / "design/assets/notes.txt", "the notes");
    fs::create_directories(project / ".git");
    return project;
}

// The design's document in the working folder (in the cache) of a project whose folder went.
std::string workingCopyDocument(const ApplicationHome& home)
{
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(home.cache() / "com.korvel.x", ec))
        if (item.path().filename().string().starts_with("Autosave-"))
            if (auto text = fileText(item.path() / "container/design/document.json"); !text.empty())
                return text;
    return {};
}

// Whether a text of an alert on screen holds `part`.
bool showsText(ApplicationProcess& app, const std::string& part)
{
    return spinUntil([&] {
        for (const auto& item : app.clickables())
            if (item.kind == "text" && item.window == "(untitled)" && item.name.find(part) != std::string::npos)
                return true;
        return false;
    }, windowTimeout);
}

// Opens `project` (quick backups), edits it, lets `go` take the folder away, and edits again:
// whether the page took both edits, the second kept in the working copy the work goes on in.
bool editBeforeAndAfterItGoes(ApplicationProcess& app, const ApplicationHome& home, const fs::path& project, const std::function<void()>& go)
{
    const std::string name = project.filename().string();
    if (!launchSignedInWithAFolderProject(app, home, project)
        || !typeUntil(app, name, "Early", [&] { return fileText(project / "design/document.json").find("Early") != std::string::npos; }))
        return false;
    go();
    return typeUntil(app, name, "Later", [&] { return workingCopyDocument(home).find("Later") != std::string::npos; }, 1);
}

// Ctrl+S in a project whose folder went: it says `why` first, then saves as `package`.
::testing::AssertionResult saveAsOnceTold(ApplicationProcess& app, const std::string& why, const fs::path& package)
{
    Display::pressControl('s');
    auto ok = app.waitForClickable("button", "(untitled)", "OK");
    if (!ok || !showsText(app, why))
        return ::testing::AssertionFailure() << "not told: " << why;
    Display::click(*ok);
    return saveThroughTheOpenPanel(app, package);
}

} // namespace

TEST(ApplicationFolderMoves, ARenamedThenMovedFolderProjectIsSavedAndAutosavedWhereItIsAndReopensThere)
{
    KX_REQUIRE_PROJECT_SERVER();
    ApplicationHome home;
    const fs::path before = makeFolderProject(home.folder / "Before");
    const fs::path renamed = home.folder / "After";
    const fs::path moved = home.folder / "moved" / "After";
    {
        ApplicationProcess app(home, applicationBackend().url());
        ASSERT_TRUE(launchSignedInWithAFolderProject(app, home, before));
        ASSERT_TRUE(typeIntoEditor(app, "Before", "Early"));

        // Renamed in the file manager: the window follows, and Ctrl+S saves the edit there.
        fs::rename(before, renamed);
        ASSERT_TRUE(spinUntil([] { return Display::hasVisibleWindow("After \u2014 Edited"); }, windowTimeout));
        Display::pressControl('s');
        ASSERT_TRUE(spinUntil([&] { return Display::hasVisibleWindow("After"); }, windowTimeout));
        EXPECT_NE(fileText(renamed / "design/document.json").find("Early"), std::string::npos) << fileText(renamed / "design/document.json");
        EXPECT_FALSE(fs::exists(before));
        EXPECT_EQ(fileText(renamed / ".korvel-lock"), std::to_string(app.pid()));

        // Edited again, then moved into another folder: the edit is saved there, and so is one
        // made after the move, by the autosave of quitting.
        ASSERT_TRUE(typeIntoEditor(app, "After", "Later"));
        fs::create_directories(moved.parent_path());
        fs::rename(renamed, moved);
        ASSERT_TRUE(spinUntil([&] { return fileText(home.data() / "com.korvel.x/OpenDocuments.json").find(moved.string()) != std::string::npos; }, windowTimeout));
        ASSERT_TRUE(Display::focusWindow("After \u2014 Edited"));
        Display::pressControl('s');
        // A press that a busy machine's window did not take is given again, once.
        const auto savedLater = [&] { return fileText(moved / "design/document.json").find("Later") != std::string::npos; };
        if (!spinUntil(savedLater, std::chrono::seconds(10)) && Display::focusWindow("After \u2014 Edited"))
            Display::pressControl('s');
        ASSERT_TRUE(spinUntil(savedLater, windowTimeout));
        ASSERT_TRUE(spinUntil([&] { return Display::hasVisibleWindow("After"); }, windowTimeout));
        ASSERT_TRUE(typeIntoEditor(app, "After", "Last"));
        Display::pressControl('q');
        ASSERT_TRUE(app.waitForExit(windowTimeout));
        EXPECT_EQ(app.status(), 0);
    }
    EXPECT_NE(fileText(moved / "design/document.json").find("Last"), std::string::npos) << fileText(moved / "design/document.json");
    EXPECT_EQ(fileText(moved / "design/images/logo.png"), "the logo");
    EXPECT_EQ(fileText(moved / "design/assets/notes.txt"), "the notes");
    // The lock went with the application; the log followed the folder; nothing came back where
    // it was.
    EXPECT_FALSE(fs::exists(moved / ".korvel-lock"));
    EXPECT_NE(fileText(moved / ".project.log").find("moved from"), std::string::npos);
    EXPECT_FALSE(fs::exists(before));
    EXPECT_FALSE(fs::exists(renamed));
    const std::string recents = fileText(home.data() / "com.korvel.x" / "RecentDocuments.txt");
    EXPECT_NE(recents.find(moved.string()), std::string::npos) << recents;
    EXPECT_EQ(recents.find(before.string()), std::string::npos) << recents;
    // The next launch opens it from where it is now, saved.
    EXPECT_TRUE(relaunchShows(home, "After"));
}

TEST(ApplicationFolderMoves, WorkOnAFolderProjectPutInTheTrashIsADraftThatOutlivesACrashAndIsSavedAsWithItsImages)
{
    KX_REQUIRE_PROJECT_SERVER();
    ApplicationHome home;
    const fs::path project = makeFolderProject(home.folder / "Lost");
    const fs::path trashed = home.data() / "Trash" / "files" / "Lost";
    std::map<std::string, std::string> inTheTrash;
    {
        ApplicationProcess app(home, applicationBackend().url(), {}, {}, {{"KX_TEST_BACKUP_MS", "700"}, {"KX_TEST_MINUTE_MS", "3000"}});
        ASSERT_TRUE(editBeforeAndAfterItGoes(app, home, project, [&] {
            fs::create_directories(trashed.parent_path());
            fs::rename(project, trashed);
            inTheTrash = visibleFiles(trashed);
        }));
        // The autosave keeps the work in a draft that the open documents' list names, without
        // an error; then the application dies.
        ASSERT_TRUE(spinUntil([&] {
            const auto kept = drafts(home);
            return kept.size() == 1 && storedDocument(kept.front()).find("Later") != std::string::npos;
        }, windowTimeout));
        EXPECT_TRUE(spinUntil([&] {
            return fileText(home.data() / "com.korvel.x/OpenDocuments.json").find(drafts(home).front().string()) != std::string::npos;
        }, windowTimeout));
        EXPECT_FALSE(app.waitForClickable("button", "(untitled)", "OK", std::chrono::seconds(3)));
        app.signal(SIGKILL);
        ASSERT_TRUE(app.waitForExit(windowTimeout));
    }
    EXPECT_EQ(visibleFiles(trashed), inTheTrash);
    EXPECT_FALSE(fs::exists(project));

    // The next launch shows it, edited, under its name; saved, it has the edits, the images
    // and the assets, and no working folder is left that nothing names.
    const fs::path found = home.folder / "Found.korvelx";
    {
        ApplicationProcess again(home, applicationBackend().url());
        ASSERT_TRUE(again.launch());
        ASSERT_TRUE(spinUntil([] { return Display::hasVisibleWindow("Lost \u2014 Edited"); }, windowTimeout));
        ASSERT_TRUE(Display::focusWindow("Lost \u2014 Edited"));
        Display::pressControl('s');
        ASSERT_TRUE(saveThroughTheOpenPanel(again, found));
        ASSERT_TRUE(spinUntil([] { return Display::hasVisibleWindow("Found"); }, windowTimeout));
        Display::pressControl('q');
        ASSERT_TRUE(again.waitForExit(windowTimeout));
    }
    EXPECT_NE(storedDocument(found).find("Later"), std::string::npos) << storedDocument(found);
    EXPECT_NE(storedDocument(found).find("Early"), std::string::npos) << storedDocument(found);
    EXPECT_EQ(runProgram({"unzip", "-p", found.string(), "design/images/logo.png"}).output, "the logo");
    EXPECT_EQ(runProgram({"unzip", "-p", found.string(), "design/assets/notes.txt"}).output, "the notes");
    EXPECT_TRUE(drafts(home).empty());
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(home.cache() / "com.korvel.x", ec))
        EXPECT_TRUE(!item.path().filename().string().starts_with("Autosave-") || fs::exists(item.path() / "info")) << item.path();
    EXPECT_TRUE(relaunchShows(home, "Found"));
}

TEST(ApplicationFolderMoves, AFolderProjectPutBackOutOfTheTrashIsSavedThereAndOneRenamedAwayNeverIntoANewFolderAtItsName)
{
    KX_REQUIRE_PROJECT_SERVER();
    ApplicationHome home;
    const fs::path project = makeFolderProject(home.folder / "Undone");
    const fs::path trashed = home.data() / "Trash" / "files" / "Undone";
    {
        ApplicationProcess app(home, applicationBackend().url(), {}, {}, quickBackups);
        ASSERT_TRUE(editBeforeAndAfterItGoes(app, home, project, [&] {
            fs::create_directories(trashed.parent_path());
            fs::rename(project, trashed);
        }));
        // Put back where it was: Ctrl+S saves both edits there, beside what the folder holds.
        fs::rename(trashed, project);
        ASSERT_TRUE(spinUntil([&] { return fileText(project / ".korvel-lock") == std::to_string(app.pid()); }, windowTimeout));
        ASSERT_TRUE(Display::focusWindow("Undone \u2014 Edited"));
        Display::pressControl('s');
        ASSERT_TRUE(spinUntil([] { return Display::hasVisibleWindow("Undone"); }, windowTimeout));
        const std::string saved = fileText(project / "design/document.json");
        EXPECT_NE(saved.find("Early"), std::string::npos) << saved;
        EXPECT_NE(saved.find("Later"), std::string::npos) << saved;
        EXPECT_EQ(fileText(project / "design/images/logo.png"), "the logo");
        EXPECT_TRUE(fs::exists(project / ".git"));
        EXPECT_TRUE(drafts(home).empty());

        // Renamed, and a new folder made at the old name at once, as a sync client may: the
        // next edit goes where the project went, and the new folder stays empty.
        const fs::path renamed = home.folder / "Redone";
        fs::rename(project, renamed);
        fs::create_directories(project);
        ASSERT_TRUE(spinUntil([] { return Display::hasVisibleWindow("Redone"); }, windowTimeout));
        ASSERT_TRUE(typeUntil(app, "Redone", "Again", [&] { return fileText(renamed / "design/document.json").find("Again") != std::string::npos; }));
        EXPECT_TRUE(fs::is_empty(project));
        ASSERT_TRUE(spinUntil([] { return Display::hasVisibleWindow("Redone"); }, windowTimeout));
        ASSERT_TRUE(Display::focusWindow("Redone"));
        Display::pressControl('q');
        ASSERT_TRUE(app.waitForExit(windowTimeout));
        EXPECT_EQ(app.status(), 0);
        EXPECT_TRUE(fs::is_empty(project));
    }
    EXPECT_TRUE(relaunchShows(home, "Redone"));
}

TEST(ApplicationFolderMoves, AFolderProjectDeletedOrMovedToAnotherDiskIsSavedAsWithThePagesDocumentAndSaysWhatWentWithIt)
{
    KX_REQUIRE_PROJECT_SERVER();
    ApplicationHome home;
    // Moved to another disk where one can be mounted here: mv copies it there, then deletes it
    // here. Deleted as rm -r does otherwise.
    SmallDisk disk(home.folder / "disk", 4 << 20);
    const fs::path project = makeFolderProject(home.folder / "Away");
    const fs::path kept = home.folder / "Here.korvelx";
    ApplicationProcess app(home, applicationBackend().url(), {}, {}, quickBackups);
    ASSERT_TRUE(editBeforeAndAfterItGoes(app, home, project, [&] {
        if (disk.mounted())
            (void)runProgram({"mv", project.string(), (home.folder / "disk").string()});
        // What a backup written meanwhile kept from going (mv and rm -r then fail) goes after it.
        std::error_code ec;
        for (int attempt = 0; attempt < 20 && fs::exists(project); ++attempt)
            fs::remove_all(project, ec);
    }));

    // Saved as a package with the page's document, and told which files it lacks.
    ASSERT_TRUE(saveAsOnceTold(app, "The file of the document \u201CAway\u201D was deleted.", kept));
    ASSERT_TRUE(showsText(app, "\u201CHere\u201D was saved without files that went with its old folder."));
    EXPECT_TRUE(showsText(app, "\u201Cdesign/images/logo.png\u201D"));
    EXPECT_NE(storedDocument(kept).find("Later"), std::string::npos) << storedDocument(kept);
    EXPECT_FALSE(fs::exists(project));
    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForExit(windowTimeout));
    EXPECT_TRUE(relaunchShows(home, "Here"));
}

TEST(ApplicationFolderMoves, EmptyingTheTrashWithAFolderProjectInItKeepsItsNameAndItsImagesForSaveAs)
{
    KX_REQUIRE_PROJECT_SERVER();
    ApplicationHome home;
    const fs::path project = makeFolderProject(home.folder / "Emptied");
    writeFile(project / "design/images/photo.png", "the photo");
    writeFile(project / "design/document.json",
              R"({"version":1,"frames":[{"id":"a","name":"Home","text":"Mine"},{"id":"b","name":"Pictures","text":"logo.png photo.png notes.txt"}]})");
    const fs::path trash = home.data() / "Trash";
    const fs::path kept = home.folder / "Emptied.korvelx";
    ApplicationProcess app(home, applicationBackend().url(), {}, {}, quickBackups);
    ASSERT_TRUE(editBeforeAndAfterItGoes(app, home, project, [&] {
        fs::create_directories(trash / "files");
        fs::rename(project, trash / "files/Emptied");
    }));
    // Emptied as the desktop's trash service does it: moved within the Trash, then deleted there.
    fs::create_directories(trash / "expunged");
    fs::rename(trash / "files/Emptied", trash / "expunged/4242");
    kxtest::spinFor(std::chrono::seconds(1));
    fs::remove_all(trash / "expunged/4242");
    ASSERT_TRUE(Display::focusWindow("Emptied \u2014 Edited"));
    ASSERT_TRUE(saveAsOnceTold(app, "The file of the document \u201CEmptied\u201D was deleted.", kept));
    ASSERT_TRUE(spinUntil([] { return Display::hasVisibleWindow("Emptied"); }, windowTimeout));
    EXPECT_NE(storedDocument(kept).find("Later"), std::string::npos) << storedDocument(kept);
    for (const std::string file : {"images/logo.png", "images/photo.png", "assets/notes.txt"})
        EXPECT_FALSE(runProgram({"unzip", "-p", kept.string(), "design/" + file}).output.empty()) << file;
    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForExit(windowTimeout));
}

TEST(ApplicationFolderMoves, APageThatCrashesAfterItsFolderCameBackKeepsTheEditMadeWhileItWasAway)
{
    KX_REQUIRE_PROJECT_SERVER();
    ApplicationHome home;
    const fs::path project = makeFolderProject(home.folder / "Undone");
    const fs::path trashed = home.data() / "Trash" / "files" / "Undone";
    ApplicationProcess app(home, applicationBackend().url(), {}, {}, {{"KX_TEST_BACKUP_MS", "700"}, {"KX_TEST_MINUTE_MS", "4000"}});
    ASSERT_TRUE(editBeforeAndAfterItGoes(app, home, project, [&] {
        fs::create_directories(trashed.parent_path());
        fs::rename(project, trashed);
    }));
    // The minute's autosave keeps the edit in a draft; the folder is put back, and the editor's
    // web process dies: the reloaded page has the edit, which the next autosave writes there.
    ASSERT_TRUE(spinUntil([&] { return !drafts(home).empty() && storedDocument(drafts(home).front()).find("Later") != std::string::npos; },
                          windowTimeout));
    fs::rename(trashed, project);
    ASSERT_TRUE(spinUntil([&] { return fileText(project / ".korvel-lock") == std::to_string(app.pid()); }, windowTimeout));
    for (const pid_t page : webProcessesOf(app))
        ::kill(page, SIGKILL);
    const auto savedLater = [&] { return fileText(project / "design/document.json").find("Later") != std::string::npos; };
    ASSERT_TRUE(spinUntil(savedLater, windowTimeout)) << fileText(project / "design/document.json");
    ASSERT_TRUE(spinUntil([] { return Display::focusWindow("Undone"); }, windowTimeout));
    Display::pressControl('w');
    ASSERT_TRUE(spinUntil([] { return !Display::hasVisibleWindow("Undone"); }, windowTimeout));
    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForExit(windowTimeout));
    EXPECT_TRUE(savedLater());
    EXPECT_NE(fileText(project / "design/document.json").find("Early"), std::string::npos);
    EXPECT_TRUE(drafts(home).empty());
}

// Killed as the work done while it was away goes into the folder put back: before its document
// is replaced, with a draft of that work written meanwhile, the next launch opens the folder
// once, as unsaved work that the next save writes there; after, it opens the folder once as it
// is, saved. Neither leaves the hand-over's files in the folder, nor a second window.
TEST(ApplicationFolderMoves, AFolderProjectPutBackAndKilledAsItTakesTheWorkOpensOnceWithThatWork)
{
    KX_REQUIRE_PROJECT_SERVER();
    for (const std::string step : {"last", "done"}) {
        SCOPED_TRACE("killed before the step " + step);
        const bool before = step == "last";
        ApplicationHome home;
        const fs::path project = makeFolderProject(home.folder / "Undone");
        const fs::path trashed = home.data() / "Trash" / "files" / "Undone";
        auto environment = quickBackups;
        environment["KX_TEST_HANDOVER_KILL_AT"] = step;
        if (before)
            environment["KX_TEST_MINUTE_MS"] = "3000";
        {
            ApplicationProcess app(home, applicationBackend().url(), {}, {}, environment);
            ASSERT_TRUE(editBeforeAndAfterItGoes(app, home, project, [&] {
                fs::create_directories(trashed.parent_path());
                fs::rename(project, trashed);
            }));
            if (before) {
                ASSERT_TRUE(spinUntil([&] { return !drafts(home).empty() && storedDocument(drafts(home).front()).find("Later") != std::string::npos; },
                                      windowTimeout));
            }
            fs::rename(trashed, project);
            ASSERT_TRUE(spinUntil([&] { return fileText(project / ".korvel-lock") == std::to_string(app.pid()); }, windowTimeout));
            // The minute's autosave, or Ctrl+S, hands the work over.
            if (!before && Display::focusWindow("Undone \u2014 Edited"))
                Display::pressControl('s');
            ASSERT_TRUE(app.waitForExit(windowTimeout));
            EXPECT_EQ(app.reason(), kx::Process::TerminationReason::uncaughtSignal);
        }
        const auto saved = [&] { return fileText(project / "design/document.json").find("Later") != std::string::npos; };
        EXPECT_EQ(saved(), !before);
        EXPECT_NE(fileText(project / "design/document.json").find("Early"), std::string::npos);

        ApplicationProcess again(home, applicationBackend().url(), {}, {}, quickBackups);
        ASSERT_TRUE(again.launch());
        const std::string shown = before ? "Undone \u2014 Edited" : "Undone";
        const std::string other = before ? "Undone" : "Undone \u2014 Edited";
        ASSERT_TRUE(spinUntil([&] { return Display::hasVisibleWindow(shown); }, windowTimeout));
        // The restored documents are all open once the project server of the one shown answered.
        EXPECT_FALSE(spinUntil([&] { return Display::hasVisibleWindow(other); }, 3s));
        EXPECT_FALSE(fs::exists(project / ".korvel-handover"));
        if (before) {
            ASSERT_TRUE(Display::focusWindow(shown));
            Display::pressControl('s');
            ASSERT_TRUE(spinUntil(saved, windowTimeout)) << fileText(project / "design/document.json");
            ASSERT_TRUE(spinUntil([] { return Display::hasVisibleWindow("Undone"); }, windowTimeout));
        }
        EXPECT_EQ(fileText(project / "design/images/logo.png"), "the logo");
        EXPECT_TRUE(fs::exists(project / ".git"));
        EXPECT_TRUE(spinUntil([&] { return drafts(home).empty() && workingCopyDocument(home).empty(); }, windowTimeout));
        again.signal(SIGTERM);
        ASSERT_TRUE(again.waitForExit(windowTimeout));
        EXPECT_TRUE(saved());
    }
}
