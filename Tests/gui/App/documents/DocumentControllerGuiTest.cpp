// The document controller: what is a project, the sign-in gate, tutorials, legacy projects,
// documents written by a later version, damaged packages, a project open in another instance
// and a file replaced by another program under an open document.
#include "gui/App/documents/DocumentTestEnvironment.h"

#include "App/account/Experiments.h"
#include "App/documents/KVDocumentMigration.h"
#include "App/documents/KVDocumentError.h"
#include "unit/App/documents/ContainerTestSupport.h"
#include "unit/App/documents/ImageFixtures.h"

namespace {

using namespace kxtest;
using kx::DocumentController;
using kx::KVDocument;
using kx::KVDocumentArchive;
using kx::KVDocumentError;

class DocumentControllerGui : public DocumentGuiTest {
protected:
    std::vector<std::string> workingFolders()
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& item : fs::directory_iterator(folder / "cache", ec))
            if (item.path().filename().string().starts_with("Autosave-"))
                names.push_back(item.path().filename().string());
        return names;
    }
    std::string errorText(const kx::Error& error) { return error.localizedDescription + " / " + error.informativeText(); }
};

TEST_F(DocumentControllerGui, OnlyPackagesAndProjectFoldersAreProjects)
{
    makeProject(folder / "a.korvelx", {{"design/document.json", frameDocument("")}});
    makeProject(folder / "Folder", {{"design/document.json", frameDocument("")}}, true);
    writeFile(folder / "home/notes.txt", "notes");
    writeFile(folder / "Old.korvel/README.md", "old");
    writeFile(folder / "Intro.korveltutorial", "");
    EXPECT_EQ(controller->typeForContentsOfURL(folder / "a.korvelx"), DocumentController::projectZipTypeIdentifier);
    EXPECT_EQ(controller->typeForContentsOfURL(folder / "Folder"), DocumentController::projectFolderTypeIdentifier);
    EXPECT_EQ(controller->typeForContentsOfURL(folder / "Old.korvel"), DocumentController::legacyTypeIdentifier);
    EXPECT_EQ(controller->typeForContentsOfURL(folder / "Intro.korveltutorial"), DocumentController::tutorialTypeIdentifier);
    // An arbitrary folder is no project.
    EXPECT_THROW(controller->typeForContentsOfURL(folder / "home"), kx::Error);

    // Opening the home folder writes nothing into it, whichever way it is asked for.
    EXPECT_FALSE(open(folder / "home"));
    ASSERT_TRUE(lastOpenError);
    EXPECT_THROW(controller->makeDocumentWithContentsOfURL(folder / "home", DocumentController::projectFolderTypeIdentifier),
                 KVDocumentError);
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder / "home"))
        names.push_back(item.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"notes.txt"});
}

TEST_F(DocumentControllerGui, NothingOpensWhileTheUserIsNotSignedIn)
{
    bool signedIn = false;
    controller->shouldOpenDocuments = [&] { return signedIn; };
    makeProject(folder / "a.korvelx", {{"design/document.json", frameDocument("")}});
    EXPECT_FALSE(open(folder / "a.korvelx"));
    ASSERT_TRUE(lastOpenError);
    EXPECT_EQ(lastOpenError->code, int(KVDocumentError::Code::notLoggedIn));
    EXPECT_THROW(controller->openUntitledDocumentAndDisplay(true), KVDocumentError);
    auto item = kx::NativeMenuItem::make("New", "newDocument:");
    EXPECT_FALSE(controller->validateUserInterfaceItem(*item));
    EXPECT_TRUE(workingFolders().empty());
    signedIn = true;
    EXPECT_TRUE(controller->validateUserInterfaceItem(*item));
    EXPECT_TRUE(open(folder / "a.korvelx"));
}

TEST_F(DocumentControllerGui, ATutorialStartsAsAnUntitledDocumentOrOpensForEditingWithAlt)
{
    const fs::path tutorial = folder / "Intro.korveltutorial";
    makeProject(tutorial, {{"design/document.json", frameDocument("Step one")}});
    auto started = open(tutorial);
    ASSERT_TRUE(started) << (lastOpenError ? errorText(*lastOpenError) : "");
    EXPECT_TRUE(started->isInTutorialMode());
    EXPECT_FALSE(started->fileURL());
    EXPECT_EQ(started->displayName(), "Intro");
    EXPECT_FALSE(DocumentController::openingTutorialArchive());
    ASSERT_TRUE(waitForEditor(*started));
    EXPECT_EQ(evaluate(*started, "window.nimbetStartup.tutorialMode"), true);
    typeText(*started, 0, "Following along");
    EXPECT_FALSE(started->isDocumentEdited());

    kx::DocumentControllerBase::setOptionKeyIsDownForTesting(true);
    std::shared_ptr<kx::Document> edited;
    kx::MainQueue::async([&] { answer("Edit\u2026"); });
    controller->openDocumentWithContentsOfURL(tutorial, true, [&](std::shared_ptr<kx::Document> document, bool, std::optional<kx::Error>) {
        edited = document;
    });
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->fileURL(), tutorial);
    EXPECT_EQ(edited->fileType(), DocumentController::tutorialTypeIdentifier);
    EXPECT_FALSE(std::dynamic_pointer_cast<KVDocument>(edited)->isInTutorialMode());
    kx::DocumentControllerBase::setOptionKeyIsDownForTesting(false);

    // The extension in other letters opens the file for editing, never as a tutorial.
    const fs::path upper = folder / "Upper.KORVELTUTORIAL";
    makeProject(upper, {{"design/document.json", frameDocument("Step one")}});
    auto opened = open(upper);
    ASSERT_TRUE(opened) << (lastOpenError ? errorText(*lastOpenError) : "");
    EXPECT_EQ(opened->fileURL(), upper);
    EXPECT_FALSE(opened->isInTutorialMode());
}

TEST_F(DocumentControllerGui, ALegacyProjectBecomesANewDocumentWithoutFollowingLinks)
{
    const fs::path legacy = folder / "Landing Page.korvel";
    writeFile(legacy / "korvel/design.nimbet", frameDocument("From the classic app"));
    writeFile(legacy / "components/button.js", "export const Button = 1;\n");
    writeFile(legacy / "README.md", "readme");
    const std::string design = imagefixtures::encoded(4, 4, "png");
    const std::string nimbet = imagefixtures::encoded(6, 6, "png");
    writeFile(legacy / "images/design/a.png", design);
    writeFile(legacy / "images/_nimbet/a.png", nimbet);
    writeFile(legacy / "images/_nimbet/b.jpg", nimbet);
    writeFile(legacy / "images/design/UPPER.PNG", design);
    writeFile(legacy / "images/design/nested/c.png", design);
    writeFile(folder / "private/key.png", "someone else's file");
    fs::create_symlink(folder / "private/key.png", legacy / "images/design/leak.png");
    fs::create_symlink(folder / "private", legacy / "components/private");
    fs::create_symlink(folder / "private/key.png", legacy / "package.json");

    auto document = open(legacy);
    ASSERT_TRUE(document) << (lastOpenError ? errorText(*lastOpenError) : "");
    EXPECT_FALSE(document->fileURL());
    EXPECT_EQ(document->displayName(), "Untitled (Landing Page)");
    EXPECT_EQ(document->migratedDocumentURL(), legacy);
    const fs::path project = document->container()->projectDirectory();
    EXPECT_NE(readFile(project / "design/document.json").find("From the classic app"), std::string::npos);
    EXPECT_EQ(readFile(project / "code/button.js"), "export const Button = 1;\n");
    EXPECT_EQ(readFile(project / "design/images/a.png"), design);
    EXPECT_EQ(readFile(project / "design/images/b.jpg"), nimbet);
    EXPECT_FALSE(fs::exists(project / "design/images/UPPER.PNG"));
    EXPECT_FALSE(fs::exists(project / "design/images/c.png"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(project / "design/images/leak.png")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(project / "code/private")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(project / "package.json")) && readFile(project / "package.json") == "someone else's file");
    // The copy made for the conversion is gone; the legacy folder is as it was.
    EXPECT_TRUE(fs::is_empty(kx::KVDocumentMigration::workingFolderBase()));
    EXPECT_EQ(readFile(legacy / "README.md"), "readme");

    ASSERT_TRUE(waitForEditor(*document));
    auto alert = waitForAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->messageText(), "The Korvel Classic document \u201CLanding Page\u201D was converted to the Korvel X format.");
    ASSERT_TRUE(answer("More Info\u2026"));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_NE(opened[0].find("/korvel-classic/classic-documents"), std::string::npos);
    EXPECT_FALSE(document->migratedDocumentURL());
}

TEST_F(DocumentControllerGui, ALegacyFolderInOtherLettersIsConvertedAndOnlyRead)
{
    for (const std::string stem : {"Upper", "Mixed"}) {
        const fs::path legacy = folder / (stem + (stem == "Upper" ? ".KORVEL" : ".Korvel"));
        writeFile(legacy / "korvel/design.nimbet", frameDocument("Classic"));
        // A project's own document beside it would let a save in place take the folder for one.
        writeFile(legacy / "design/document.json", frameDocument("Not read"));
        const auto before = containertest::files(legacy, true);
        auto document = open(legacy);
        ASSERT_TRUE(document) << (lastOpenError ? errorText(*lastOpenError) : "");
        const std::string name = document->displayName(); // "Untitled (Upper)", "Untitled 2 (Mixed)"
        EXPECT_TRUE(name.starts_with("Untitled") && name.ends_with(" (" + stem + ")")) << name;
        EXPECT_FALSE(document->fileURL());
        ASSERT_TRUE(waitForEditor(*document));
        ASSERT_TRUE(answer("OK"));
        EXPECT_EQ(frames(*document)[0]["text"], "Classic");
        typeText(*document, 0, "Edited");
        EXPECT_FALSE(saveAs(*document, folder / (stem + ".korvelx")));
        document->close();
        settle();
        EXPECT_EQ(containertest::files(legacy, true), before);
        EXPECT_NE(storedDocument(folder / (stem + ".korvelx")).find("Edited"), std::string::npos);
    }
}

TEST_F(DocumentControllerGui, ADocumentOfALaterVersionOffersTheUpdateCheck)
{
    const fs::path url = folder / "Future.korvelx";
    makeProject(url, {{"design/document.json", frameDocument("From the future", 99)}});
    EXPECT_FALSE(open(url));
    ASSERT_TRUE(lastOpenError);
    EXPECT_EQ(lastOpenError->domain, "KVDocumentErrorDomain");
    EXPECT_EQ(lastOpenError->code, 13);
    EXPECT_EQ(lastOpenError->localizedDescription, "The document \u201CFuture.korvelx\u201D could not be opened.");
    EXPECT_NE(lastOpenError->informativeText().find("later version"), std::string::npos);

    int checks = 0;
    controller->hooks().checkForUpdates = [&] { ++checks; };
    controller->presentError(*lastOpenError);
    auto alert = waitForAlert();
    ASSERT_TRUE(alert);
    ASSERT_EQ(alert->buttons().size(), 2u);
    EXPECT_EQ(alert->buttons()[0]->title(), "Check for Updates");
    EXPECT_EQ(alert->buttons()[1]->title(), "OK");
    ASSERT_TRUE(answer("OK"));
    EXPECT_EQ(checks, 0);
    controller->presentError(*lastOpenError);
    ASSERT_TRUE(answer("Check for Updates"));
    EXPECT_EQ(checks, 1);
    EXPECT_TRUE(workingFolders().empty());
}

TEST_F(DocumentControllerGui, ADamagedProjectGivesAClearErrorAndChangesNothing)
{
    const fs::path url = folder / "Damaged.korvelx";
    const std::string bytes = std::string("PK\x03\x04", 4) + std::string(2000, '\x7f');
    writeFile(url, bytes);
    makeProject(folder / "Garbled.korvelx", {{"design/document.json", "{ this is not json"}});
    const std::string garbled = readFile(folder / "Garbled.korvelx");

    EXPECT_FALSE(open(url));
    ASSERT_TRUE(lastOpenError);
    EXPECT_EQ(lastOpenError->localizedDescription, "The document \u201CDamaged.korvelx\u201D could not be opened.");
    EXPECT_FALSE(lastOpenError->informativeText().empty());
    EXPECT_EQ(readFile(url), bytes);

    EXPECT_FALSE(open(folder / "Garbled.korvelx"));
    ASSERT_TRUE(lastOpenError);
    EXPECT_NE(lastOpenError->informativeText().find("could not be read"), std::string::npos);
    EXPECT_EQ(readFile(folder / "Garbled.korvelx"), garbled);
    EXPECT_TRUE(workingFolders().empty());
    EXPECT_TRUE(controller->documents().empty());
}

TEST_F(DocumentControllerGui, AProjectOpenInAnotherInstanceIsReportedInUse)
{
    const fs::path url = folder / "Shared.korvelx";
    makeProject(url, {{"design/document.json", frameDocument("")}});
    KVDocumentArchive archive(url, "com.korvel.projectzip", false, std::nullopt, true);
    SecondInstance zipHolder({"hold-uuid", (folder / "cache").string(), archive.uuid()});
    ASSERT_EQ(zipHolder.firstLine, "held");
    EXPECT_FALSE(open(url));
    ASSERT_TRUE(lastOpenError);
    EXPECT_EQ(lastOpenError->code, int(KVDocumentError::Code::containerAlreadyInUse));
    EXPECT_NE(lastOpenError->informativeText().find("already open in another Korvel X instance"), std::string::npos);

    const fs::path projectFolder = folder / "Shared Folder";
    makeProject(projectFolder, {{"design/document.json", frameDocument("")}}, true);
    SecondInstance folderHolder({"hold-folder", projectFolder.string()});
    ASSERT_EQ(folderHolder.firstLine, "held");
    EXPECT_FALSE(open(projectFolder));
    ASSERT_TRUE(lastOpenError);
    EXPECT_EQ(lastOpenError->code, int(KVDocumentError::Code::containerAlreadyInUse));
}

TEST_F(DocumentControllerGui, AFileReplacedByAnotherProgramIsOverwrittenOnlyWhenTheUserSaysSo)
{
    const fs::path url = folder / "Replaced.korvelx";
    makeProject(url, {{"design/document.json", frameDocument("Ours")}});
    auto document = open(url);
    ASSERT_TRUE(document && waitForEditor(*document));
    typeText(*document, 0, "Ours, edited");

    // Another program writes its own version and renames it over the file.
    makeProject(folder / "theirs.korvelx", {{"design/document.json", frameDocument("Theirs")}});
    fs::rename(folder / "theirs.korvelx", url);
    const std::string theirs = readFile(url);

    bool done = false;
    std::optional<kx::Error> failure;
    document->saveDocument([&](std::optional<kx::Error> error) {
        failure = error;
        done = true;
    });
    auto alert = waitForAlert();
    ASSERT_TRUE(alert);
    EXPECT_NE(alert->messageText().find("was changed by another application"), std::string::npos);
    ASSERT_TRUE(answer("Cancel"));
    ASSERT_TRUE(spinUntil([&] { return done; }));
    EXPECT_EQ(readFile(url), theirs);
    EXPECT_TRUE(document->isDocumentEdited());
    // The autosave a minute later does not ask again, and writes nothing over the other version.
    clock->advance(60s);
    spinFor(200ms);
    EXPECT_TRUE(kx::Alert::shownAlerts().empty());
    EXPECT_EQ(readFile(url), theirs);

    done = false;
    document->saveDocument([&](std::optional<kx::Error> error) {
        failure = error;
        done = true;
    });
    ASSERT_TRUE(answer("Save Anyway"));
    ASSERT_TRUE(spinUntil([&] { return done; }, editorTimeout));
    EXPECT_FALSE(failure);
    EXPECT_NE(storedDocument(url).find("Ours, edited"), std::string::npos);
}

TEST_F(DocumentControllerGui, ARenamedDocumentFollowsItsFile)
{
    const fs::path url = folder / "Before.korvelx";
    makeProject(url, {{"design/document.json", frameDocument("Moving")}});
    auto document = open(url);
    ASSERT_TRUE(document && waitForEditor(*document));
    fs::rename(url, folder / "After.korvelx");
    ASSERT_TRUE(spinUntil([&] { return document->fileURL() == folder / "After.korvelx"; }));
    EXPECT_EQ(document->displayName(), "After");
    ASSERT_TRUE(document->fileArchive());
    EXPECT_EQ(document->fileArchive()->backing()->url(), folder / "After.korvelx");
    EXPECT_TRUE(kx::Alert::shownAlerts().empty());
    typeText(*document, 0, "Saved where it went");
    ASSERT_FALSE(autosave(*document));
    EXPECT_NE(storedDocument(folder / "After.korvelx").find("Saved where it went"), std::string::npos);
    EXPECT_FALSE(fs::exists(url));
}

TEST_F(DocumentControllerGui, ReopeningForAnExperimentBringsBackEveryDocumentThatClosedUntitledOnesFromTheirDrafts)
{
    // In the order opened: a project, new work never saved, and a project with edits whose
    // file another program replaced, which asks before it closes.
    auto first = openProject("First text", false, "First");
    ASSERT_TRUE(first);
    auto untitled = newDocument();
    ASSERT_TRUE(untitled && waitForEditor(*untitled));
    typeText(*untitled, 0, "Work never saved");
    const std::string untitledName = untitled->displayName();
    auto changed = openProject("Ours", false, "Changed");
    ASSERT_TRUE(changed);
    typeText(*changed, 0, "Ours, edited");
    makeProject(folder / "theirs.korvelx", {{"design/document.json", frameDocument("Theirs")}});
    fs::rename(folder / "theirs.korvelx", folder / "Changed.korvelx");

    // The user switches an experiment and reopens, then cancels at the third document.
    const auto toggle = [] {
        kx::MainQueue::async([] {
            auto shown = kx::Alert::shownAlerts();
            ASSERT_FALSE(shown.empty());
            ASSERT_EQ(shown.back()->buttons()[0]->title(), "Reopen Documents");
            gtk_button_clicked(GTK_BUTTON(shown.back()->buttons()[0]->widget()));
        });
        kx::Experiments::toggleExperiment("welcomeWindowSketch");
    };
    toggle();
    auto question = waitForAlert();
    ASSERT_TRUE(question);
    EXPECT_NE(question->messageText().find("was changed by another application"), std::string::npos)
        << "the untitled work is kept unasked; only the changed file asks: " << question->messageText();
    ASSERT_TRUE(answer("Cancel"));
    // Its changes could not be written, which closing says: the user keeps it open.
    auto notSaved = waitForAlert();
    ASSERT_TRUE(notSaved);
    EXPECT_NE(notSaved->messageText().find("could not be saved"), std::string::npos) << notSaved->messageText();
    ASSERT_TRUE(answer("Cancel"));

    // The two that had closed are back, the untitled one from its draft with its work; the
    // one the user kept open is the same document still.
    ASSERT_TRUE(spinUntil([&] { return controller->documents().size() == 3; }, editorTimeout));
    EXPECT_TRUE(first->isClosed());
    EXPECT_TRUE(untitled->isClosed());
    EXPECT_FALSE(changed->isClosed());
    EXPECT_TRUE(controller->documentsToReopen.empty());
    std::shared_ptr<kx::KVDocument> firstAgain, untitledAgain;
    for (const auto& document : controller->documents()) {
        auto project = std::dynamic_pointer_cast<kx::KVDocument>(document);
        if (project && project->fileURL() == folder / "First.korvelx")
            firstAgain = project;
        else if (project && !project->fileURL())
            untitledAgain = project;
    }
    ASSERT_TRUE(firstAgain && waitForEditor(*firstAgain));
    EXPECT_EQ(frames(*firstAgain)[0]["text"], "First text");
    ASSERT_TRUE(untitledAgain && waitForEditor(*untitledAgain));
    EXPECT_EQ(untitledAgain->displayName(), untitledName);
    EXPECT_EQ(frames(*untitledAgain)[0]["text"], "Work never saved");
    ASSERT_TRUE(untitledAgain->autosavedContentsFileURL());
    EXPECT_TRUE(fs::exists(*untitledAgain->autosavedContentsFileURL()));

    // Once all close, all come back, and nobody is asked about the untitled work.
    changed->close();
    typeText(*untitledAgain, 0, "More work");
    toggle();
    ASSERT_TRUE(spinUntil([&] { return untitledAgain->isClosed() && firstAgain->isClosed(); }, editorTimeout));
    ASSERT_TRUE(spinUntil([&] { return controller->documents().size() == 2; }, editorTimeout));
    EXPECT_TRUE(kx::Alert::shownAlerts().empty());
    std::shared_ptr<kx::KVDocument> untitledThird;
    for (const auto& document : controller->documents())
        if (!document->fileURL())
            untitledThird = std::dynamic_pointer_cast<kx::KVDocument>(document);
    ASSERT_TRUE(untitledThird && waitForEditor(*untitledThird));
    EXPECT_EQ(frames(*untitledThird)[0]["text"], "More work");
}

TEST_F(DocumentControllerGui, TheLibraryMenuListsTheServersVersions)
{
    auto document = newDocument();
    ASSERT_TRUE(document);
    auto menu = kx::NativeMenu::make("Library Version");
    if (!document->serverController()->state()) {
        document->updateLibraryVersionMenu(*menu);
        ASSERT_EQ(menu->numberOfItems(), 1);
        EXPECT_EQ(menu->itemAtIndex(0)->title(), "\u2014");
        menu->removeAllItems();
    }
    ASSERT_TRUE(spinUntil([&] { return document->serverController()->state().has_value(); }, editorTimeout));
    document->updateLibraryVersionMenu(*menu);
    const auto& state = *document->serverController()->state();
    ASSERT_TRUE(state.availableLibraryVersions);
    if (state.builtInLibraryVersion) {
        ASSERT_GE(menu->numberOfItems(), 2);
        EXPECT_EQ(menu->itemAtIndex(0)->title(), "Built-In (" + *state.builtInLibraryVersion + ")");
        EXPECT_TRUE(menu->itemAtIndex(1)->isSeparatorItem());
    } else {
        EXPECT_EQ(menu->numberOfItems(), int(state.availableLibraryVersions->size()));
    }
    // An item without its version beeps rather than install anything.
    auto bare = kx::NativeMenuItem::make("?", "installKorvelLibrary:");
    document->installKorvelLibrary(bare.get());
}

} // namespace
