// Project documents as a user works with them: new, typed into, saved as a zip or a folder,
// closed and opened again, autosaved, reverted, duplicated and closed with unsaved changes.
#include "gui/App/documents/DocumentTestEnvironment.h"
#include "support/DroppedLoads.h"

namespace {

using namespace kxtest;
using kx::DocumentController;
using kx::KVDocument;

using KVDocumentGui = DocumentGuiTest;

TEST_F(KVDocumentGui, ANewProjectSavedAsAZipOpensAgainWithItsContent)
{
    auto document = newDocument();
    ASSERT_TRUE(document);
    EXPECT_FALSE(document->fileURL());
    EXPECT_FALSE(document->isDocumentEdited());
    ASSERT_TRUE(waitForEditor(*document));
    typeText(*document, 0, "Typed into a new project");
    EXPECT_TRUE(document->isDocumentEdited());

    const fs::path url = folder / "Landing.korvelx";
    ASSERT_FALSE(saveAs(*document, url));
    EXPECT_EQ(document->fileURL(), url);
    EXPECT_FALSE(document->isDocumentEdited());
    EXPECT_NE(storedDocument(url).find("Typed into a new project"), std::string::npos);
    ASSERT_EQ(panelRequests.size(), 1u);
    // Without Alt only the zip format is offered.
    EXPECT_EQ(panelRequests[0].types, std::vector<std::string>{DocumentController::projectZipTypeIdentifier});

    document->performClose();
    ASSERT_TRUE(spinUntil([&] { return controller->documents().empty(); }));
    document.reset();

    auto reopened = open(url);
    ASSERT_TRUE(reopened) << (lastOpenError ? lastOpenError->localizedDescription : "");
    ASSERT_TRUE(waitForEditor(*reopened));
    EXPECT_EQ(frames(*reopened)[0]["text"], "Typed into a new project");
    EXPECT_FALSE(reopened->isDocumentEdited());
    // Opening it again brings the open document forward.
    bool alreadyOpen = false;
    controller->openDocumentWithContentsOfURL(url, true, [&](std::shared_ptr<kx::Document> again, bool wasOpen, std::optional<kx::Error>) {
        EXPECT_EQ(again, reopened);
        alreadyOpen = wasOpen;
    });
    EXPECT_TRUE(alreadyOpen);
}

TEST_F(KVDocumentGui, WithAltHeldAProjectIsSavedAsAFolderThatIsEditedInPlace)
{
    auto document = newDocument();
    ASSERT_TRUE(document && waitForEditor(*document));
    typeText(*document, 0, "A folder project");
    kx::DocumentControllerBase::setOptionKeyIsDownForTesting(true);
    const fs::path url = folder / "Folder Project";
    ASSERT_FALSE(saveAs(*document, url, DocumentController::projectFolderTypeIdentifier));
    kx::DocumentControllerBase::setOptionKeyIsDownForTesting(std::nullopt);
    ASSERT_EQ(panelRequests.size(), 1u);
    EXPECT_EQ(panelRequests[0].types.size(), 2u);
    EXPECT_TRUE(document->container()->projectDirectoryIsOrigin());
    EXPECT_EQ(document->container()->projectDirectory(), url);
    EXPECT_NE(readFile(url / "design/document.json").find("A folder project"), std::string::npos);
    EXPECT_FALSE(document->isDocumentEdited());
    // Once edited in place, the old working folder is gone.
    EXPECT_TRUE(fs::exists(url / ".korvel-lock"));

    auto revert = kx::NativeMenuItem::make("Revert to Saved", "revertDocumentToSaved:");
    typeText(*document, 0, "Changed in place");
    EXPECT_FALSE(document->validateUserInterfaceItem(*revert));
    ASSERT_FALSE(autosave(*document));
    EXPECT_NE(readFile(url / "design/document.json").find("Changed in place"), std::string::npos);
    document->performClose();
    ASSERT_TRUE(spinUntil([&] { return controller->documents().empty(); }));
    document.reset();
    EXPECT_TRUE(spinUntil([&] { return !fs::exists(url / ".korvel-lock"); }));

    auto reopened = open(url);
    ASSERT_TRUE(reopened && waitForEditor(*reopened));
    EXPECT_EQ(frames(*reopened)[0]["text"], "Changed in place");
}

TEST_F(KVDocumentGui, TheFirstEditIsAutosavedAMinuteLaterUnlessTheUserIsTyping)
{
    auto document = openProject("Saved");
    ASSERT_TRUE(document);
    const fs::path url = *document->fileURL();
    typeText(*document, 0, "Edited once");
    ASSERT_TRUE(document->isDocumentEdited());

    // Typing a moment before the minute is up makes the autosave one the document declines.
    clock->advance(59s);
    EXPECT_TRUE(document->isDocumentEdited());
    document->noteUserInput();
    clock->advance(1s);
    spinFor(300ms);
    EXPECT_TRUE(document->isDocumentEdited());
    EXPECT_EQ(storedDocument(url).find("Edited once"), std::string::npos);
    // The editor's content reached the working container all the same.
    EXPECT_TRUE(spinUntil([&] {
        return readFile(document->container()->projectDirectory() / "design/document.json").find("Edited once") != std::string::npos;
    }));

    // A minute without typing: saved in place.
    clock->advance(60s);
    ASSERT_TRUE(spinUntil([&] { return !document->isDocumentEdited(); }, editorTimeout));
    EXPECT_NE(storedDocument(url).find("Edited once"), std::string::npos);
    EXPECT_EQ(clock->pendingCount(), 0u);
}

TEST_F(KVDocumentGui, RevertShowsTheSavedContentAgain)
{
    auto document = openProject("Saved");
    ASSERT_TRUE(document);
    auto revert = kx::NativeMenuItem::make("Revert to Saved", "revertDocumentToSaved:");
    EXPECT_FALSE(document->validateUserInterfaceItem(*revert));
    typeText(*document, 0, "Thrown away");
    EXPECT_TRUE(document->validateUserInterfaceItem(*revert));
    DroppedLoads drops; // the page's reload, as the engine may drop any load
    DroppedLoads::count = 1;
    document->revertDocumentToSaved();
    ASSERT_TRUE(answer("Revert"));
    EXPECT_FALSE(document->isDocumentEdited());
    ASSERT_TRUE(spinUntil([&] { return evaluate(*document, "window.nimbet && window.nimbet.state.document && window.nimbet.state.document.frames[0].text") == "Saved"; }, editorTimeout));
    EXPECT_NE(readFile(document->container()->projectDirectory() / "design/document.json").find("Saved"), std::string::npos);
}

TEST_F(KVDocumentGui, DuplicateMakesAnUntitledCopyWithTheSameContent)
{
    auto document = openProject("Original", false, "Landing");
    ASSERT_TRUE(document);
    typeText(*document, 0, "Not saved yet");
    std::shared_ptr<kx::Document> copy;
    ASSERT_NO_THROW(copy = document->duplicate());
    auto duplicate = std::dynamic_pointer_cast<KVDocument>(copy);
    ASSERT_TRUE(duplicate);
    EXPECT_EQ(duplicate->displayName(), "Landing copy");
    EXPECT_FALSE(duplicate->fileURL());
    EXPECT_TRUE(duplicate->isDocumentEdited());
    ASSERT_TRUE(duplicate->autosavedContentsFileURL());
    EXPECT_TRUE(controller->isInDraftsDirectory(*duplicate->autosavedContentsFileURL()));
    EXPECT_NE(duplicate->container()->uuid(), document->container()->uuid());
    ASSERT_TRUE(waitForEditor(*duplicate));
    EXPECT_EQ(frames(*duplicate)[0]["text"], "Not saved yet");
    EXPECT_EQ(controller->documents().size(), 2u);
}

TEST_F(KVDocumentGui, ClosingAnEditedUntitledDocumentAsksToSaveOrDeleteIt)
{
    auto document = newDocument();
    ASSERT_TRUE(document && waitForEditor(*document));
    typeText(*document, 0, "Worth keeping");
    ASSERT_FALSE(autosave(*document));
    ASSERT_TRUE(document->autosavedContentsFileURL());
    const fs::path draft = *document->autosavedContentsFileURL();
    EXPECT_TRUE(fs::exists(draft));

    document->performClose();
    EXPECT_NE(waitForAlert()->messageText().find("Do you want to keep this new document"), std::string::npos);
    ASSERT_TRUE(answer("Cancel"));
    spinFor(100ms);
    EXPECT_FALSE(document->isClosed());

    document->performClose();
    choose(folder / "Kept.korvelx");
    ASSERT_TRUE(answer("Save\u2026"));
    ASSERT_TRUE(spinUntil([&] { return document->isClosed(); }, editorTimeout));
    EXPECT_NE(storedDocument(folder / "Kept.korvelx").find("Worth keeping"), std::string::npos);
    EXPECT_FALSE(fs::exists(draft));

    auto other = newDocument();
    ASSERT_TRUE(other && waitForEditor(*other));
    typeText(*other, 0, "Not worth keeping");
    ASSERT_FALSE(autosave(*other));
    const fs::path otherDraft = *other->autosavedContentsFileURL();
    const fs::path working = other->container()->uuidDirectory();
    other->performClose();
    ASSERT_TRUE(answer("Delete"));
    ASSERT_TRUE(spinUntil([&] { return other->isClosed(); }));
    EXPECT_FALSE(fs::exists(otherDraft));
    EXPECT_FALSE(fs::exists(working));
}

TEST_F(KVDocumentGui, ClosingAnEditedProjectSavesItWithoutAsking)
{
    auto document = openProject("Before");
    ASSERT_TRUE(document);
    typeText(*document, 0, "After");
    const fs::path working = document->container()->uuidDirectory();
    document->performClose();
    ASSERT_TRUE(spinUntil([&] { return document->isClosed(); }, editorTimeout));
    EXPECT_TRUE(kx::Alert::shownAlerts().empty());
    EXPECT_NE(storedDocument(folder / "Project.korvelx").find("After"), std::string::npos);
    // The working folder of a saved project stays for its next opening.
    EXPECT_TRUE(fs::exists(working));
}

TEST_F(KVDocumentGui, AProjectLogThatNothingOpensIsSaidSoWithItsPlace)
{
    auto document = openProject("Logged");
    ASSERT_TRUE(document);
    const fs::path log = document->container()->projectDirectory() / ".project.log";
    const auto showLog = [&] {
        document->tryToPerform("showProjectLog:", nullptr);
        return waitForAlert();
    };
    // Not written yet.
    fs::remove(log);
    auto alert = showLog();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->messageText(), "The project log cannot be shown.");
    EXPECT_EQ(alert->informativeText(), "This project has not written anything to its log yet.");
    EXPECT_EQ(alert->window() ? gtk_window_get_transient_for(alert->window()) : nullptr, document->windowForSheet());
    gtk_button_clicked(GTK_BUTTON(alert->buttons().at(0)->widget()));
    ASSERT_TRUE(spinUntil([] { return kx::Alert::shownAlerts().empty(); }));
    // Written, and no program for it.
    kxtest::writeFile(log, "[2024-01-01 00:00:00.0000] - INFO - Opened\n");
    kx::Workspace::shared().setURLOpenerForTesting([](const std::string&) { return false; });
    alert = showLog();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->informativeText(), "No program on this computer opens log files. The log is the file \u201C.project.log\u201D in the folder \u201C"
                                            + log.parent_path().string() + "\u201D.");
    gtk_button_clicked(GTK_BUTTON(alert->buttons().at(0)->widget()));
    ASSERT_TRUE(spinUntil([] { return kx::Alert::shownAlerts().empty(); }));
    // A program that opens it: nothing to say.
    kx::Workspace::shared().setURLOpenerForTesting([this](const std::string& url) {
        opened.push_back(url);
        return true;
    });
    document->tryToPerform("showProjectLog:", nullptr);
    ASSERT_FALSE(opened.empty());
    EXPECT_NE(opened.back().find(".project.log"), std::string::npos);
    EXPECT_TRUE(kx::Alert::shownAlerts().empty());
}

TEST_F(KVDocumentGui, QuittingKeepsEveryEditAndTheNextLaunchRestoresTheDocuments)
{
    auto first = openProject("First saved", false, "First");
    auto second = openProject("Second saved", false, "Second");
    auto untitled = newDocument();
    ASSERT_TRUE(first && second && untitled && waitForEditor(*untitled));
    typeText(*first, 0, "First edited");
    typeText(*second, 0, "Second edited");
    typeText(*untitled, 0, "Untitled edited");

    ASSERT_TRUE(controller->reviewDocumentsBeforeQuitting());
    EXPECT_TRUE(controller->documents().empty());
    EXPECT_NE(storedDocument(folder / "First.korvelx").find("First edited"), std::string::npos);
    EXPECT_NE(storedDocument(folder / "Second.korvelx").find("Second edited"), std::string::npos);
    first.reset();
    second.reset();
    untitled.reset();
    spinFor(200ms);

    // The next launch.
    const auto restored = relaunch();
    ASSERT_EQ(restored.size(), 3u);
    std::map<std::string, std::string> texts;
    for (const auto& document : restored) {
        auto project = std::dynamic_pointer_cast<KVDocument>(document);
        ASSERT_TRUE(project && waitForEditor(*project));
        texts[project->fileURL() ? project->fileURL()->filename().string() : "untitled"] = frames(*project)[0]["text"];
        if (!project->fileURL()) {
            EXPECT_TRUE(project->isDocumentEdited());
        }
    }
    EXPECT_EQ(texts["First.korvelx"], "First edited");
    EXPECT_EQ(texts["Second.korvelx"], "Second edited");
    EXPECT_EQ(texts["untitled"], "Untitled edited");
}

TEST_F(KVDocumentGui, AProjectServerKilledFromOutsideStartsAgainAfterGrowingDelays)
{
    auto document = openProject("Served");
    ASSERT_TRUE(document);
    for (int round = 0; round < 3; ++round) {
        auto* server = document->serverController();
        ASSERT_TRUE(server);
        const auto oldURL = document->serverLocalUrl();
        const int pid = server->processIdentifier();
        ASSERT_GT(pid, 0);
        const auto requests = clock->requested.size();
        ::kill(pid, SIGKILL);
        ASSERT_TRUE(spinUntil([&] { return clock->requested.size() > requests; }, editorTimeout));
        EXPECT_EQ(clock->requested.back(), std::chrono::milliseconds(50 << round));
        clock->advance(clock->requested.back());
        ASSERT_TRUE(spinUntil([&] { return document->serverLocalUrl() != oldURL; }, editorTimeout));
        // The editor is told the new address once the server serves the project.
        ASSERT_TRUE(spinUntil([&] {
            const auto url = document->serverLocalUrl();
            return url && evaluate(*document, "window.nimbet.state.projectURL") == *url;
        }, editorTimeout));
    }
    EXPECT_EQ(document->serverRestartDelay(), 400'000'000);
}

} // namespace
