// A user's work is never lost, whatever happens around the document: another program changing
// a folder project's files while it is open, a draft outliving the save that replaced it, a
// duplicate's draft closed without a question, a page that stops answering, a file moved or
// sent to the Trash and put back, a full disk.
#include <algorithm>
#include <atomic>

#include "App/archive/KVSaveStaging.h"
#include "App/documents/container/KVFolderHandOver.h"
#include "Platform/Foundation/RunLoopWait.h"
#include "gui/App/documents/DocumentTestEnvironment.h"
#include "support/ChildProcess.h"
#include "support/DroppedLoads.h"
#include "support/ModalAnswerer.h"
#include "support/ScopedSetting.h"
#include "support/SmallDisk.h"
#include "unit/App/documents/ImageFixtures.h"

namespace {

using namespace kxtest;
using kx::KVDocument;

class KVDocumentWorkKeptGui : public DocumentGuiTest {
protected:
    // A critical, or a library's warning, is a fault even where the outcome looks right: a
    // call on a freed object, say.
    void SetUp() override
    {
        DocumentGuiTest::SetUp();
        glibHandler = g_log_set_default_handler([](const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
            if ((level & G_LOG_LEVEL_CRITICAL) || ((level & G_LOG_LEVEL_WARNING) && domain))
                ADD_FAILURE() << (domain ? domain : "") << ": " << message;
            g_log_default_handler(domain, level, message, nullptr);
        }, nullptr);
    }
    void TearDown() override
    {
        g_log_set_default_handler(glibHandler, nullptr);
        DocumentGuiTest::TearDown();
    }
    GLogFunc glibHandler = nullptr;
    // What a pull or a sync client does to the project's document: a new file renamed over it.
    void replaceElsewhere(const fs::path& project, const std::string& text)
    {
        writeFile(project / "design/.document.json.pulled", frameDocument(text));
        fs::rename(project / "design/.document.json.pulled", project / "design/document.json");
    }
    std::string onDisk(const fs::path& project) { return readFile(project / "design/document.json"); }
    // Answers a question for each of `buttons` with the one of them it offers, from the main loop
    // (a question runs a loop of its own); the texts of the questions go into `asked`.
    kxtest::ModalAnswerer answering(const std::vector<std::string>& buttons, std::vector<std::string>& asked,
                                 kxtest::SourceLocation where = kxtest::SourceLocation::current())
    {
        const auto shownAlert = []() -> GtkWidget* {
            const auto alerts = kx::Alert::shownAlerts();
            return alerts.empty() ? nullptr : GTK_WIDGET(alerts.back()->window());
        };
        return kxtest::ModalAnswerer("the questions", shownAlert, [&, buttons](GtkWidget*) {
            const auto alert = kx::Alert::shownAlerts().back();
            asked.push_back(alert->messageText() + "\n" + alert->informativeText());
            for (auto* button : alert->buttons())
                if (std::find(buttons.begin(), buttons.end(), button->title()) != buttons.end())
                    gtk_button_clicked(GTK_BUTTON(button->widget()));
        }, int(buttons.size()), editorTimeout, where); // a question may wait for the page first
    }
    // Quits, answering as `answering` does.
    bool quit(const std::vector<std::string>& buttons, std::vector<std::string>& asked,
              kxtest::SourceLocation where = kxtest::SourceLocation::current())
    {
        auto answerer = answering(buttons, asked, where);
        return controller->reviewDocumentsBeforeQuitting(true);
    }
    // What `directory` holds whose name starts with `prefix`.
    static std::vector<fs::path> listed(const fs::path& directory, const std::string& prefix = "")
    {
        std::vector<fs::path> found;
        std::error_code ec;
        for (const auto& item : fs::directory_iterator(directory, ec))
            if (item.path().filename().string().starts_with(prefix))
                found.push_back(item.path());
        return found;
    }
    std::vector<fs::path> drafts() { return listed(controller->draftsDirectory()); }
    std::vector<fs::path> workingFolders() { return listed(folder / "cache", "Autosave-"); }
    // The text of the first frame the editor shows; empty while its page loads.
    std::string firstFrameText(KVDocument& document)
    {
        const auto shown = frames(document);
        return shown.is_array() && !shown.empty() && shown[0]["text"].is_string() ? shown[0]["text"].get<std::string>() : "";
    }
};

TEST_F(KVDocumentWorkKeptGui, AnUneditedFolderProjectTakesTheVersionAnotherProgramWrote)
{
    auto document = openVersionedFolder("Ours");
    ASSERT_TRUE(document);
    const fs::path project = *document->fileURL();
    DroppedLoads drops; // the page's reload, as the engine may drop any load
    DroppedLoads::count = 1;
    replaceElsewhere(project, "Pulled");
    // The editor shows it, as after a revert, and nothing writes the old version back.
    ASSERT_TRUE(spinUntil([&] { return firstFrameText(*document) == "Pulled"; }, editorTimeout));
    EXPECT_FALSE(document->isDocumentEdited());
    EXPECT_TRUE(kx::Alert::shownAlerts().empty());
    ASSERT_FALSE(autosave(*document));
    bool backedUp = false;
    document->container()->backup([&] { backedUp = true; });
    ASSERT_TRUE(spinUntil([&] { return backedUp; }));
    EXPECT_NE(onDisk(project).find("Pulled"), std::string::npos);
}

TEST_F(KVDocumentWorkKeptGui, WithUnsavedEditsTheUserChoosesWhichVersionStays)
{
    auto document = openVersionedFolder("Ours");
    ASSERT_TRUE(document);
    const fs::path project = *document->fileURL();
    typeText(*document, 0, "Typed here");
    replaceElsewhere(project, "Pulled");
    auto alert = waitForAlert();
    ASSERT_TRUE(alert);
    EXPECT_NE(alert->messageText().find("was changed by another application"), std::string::npos) << alert->messageText();
    // While the question is open, neither an autosave nor a backup puts the edit over it. A save
    // and an autosave (a quit's) say why, the autosave as a cancel that the timer keeps quiet.
    const auto declined = autosave(*document);
    ASSERT_TRUE(declined && kx::Document::isUserCancelled(*declined));
    EXPECT_NE(declined->localizedDescription.find("waits for your answer"), std::string::npos) << declined->localizedDescription;
    auto saved = std::make_shared<Outcome>();
    document->save(project, document->fileType(), kx::SaveOperation::save, [saved](std::optional<kx::Error> error) { saved->end(error); });
    ASSERT_TRUE(spinUntil([&] { return saved->done; }, editorTimeout));
    EXPECT_NE(saved->failure.value_or(kx::Error()).localizedDescription.find("waits for your answer"), std::string::npos);
    bool backedUp = false;
    document->container()->backup([&] { backedUp = true; });
    ASSERT_TRUE(spinUntil([&] { return backedUp; }));
    EXPECT_NE(onDisk(project).find("Pulled"), std::string::npos);
    EXPECT_TRUE(document->isDocumentEdited());

    // The version on disk: the edit goes, the page shows what is on disk.
    ASSERT_TRUE(answer("Use the Version on Disk"));
    ASSERT_TRUE(spinUntil([&] { return firstFrameText(*document) == "Pulled"; }, editorTimeout));
    EXPECT_FALSE(document->isDocumentEdited());
    EXPECT_NE(onDisk(project).find("Pulled"), std::string::npos);

    // Another edit and another change elsewhere; this time the user keeps theirs.
    typeText(*document, 0, "Mine after all");
    replaceElsewhere(project, "Pulled again");
    ASSERT_TRUE(answer("Keep My Changes"));
    ASSERT_FALSE(autosave(*document));
    EXPECT_NE(onDisk(project).find("Mine after all"), std::string::npos);
    EXPECT_FALSE(document->isDocumentEdited());
}

TEST_F(KVDocumentWorkKeptGui, SavingAnUntitledDocumentAsAFolderRemovesItsDraft)
{
    auto document = newDocument();
    ASSERT_TRUE(document && waitForEditor(*document));
    typeText(*document, 0, "Drafted first");
    ASSERT_FALSE(autosave(*document));
    const auto draft = document->autosavedContentsFileURL();
    ASSERT_TRUE(draft && fs::exists(*draft));

    kx::DocumentControllerBase::setOptionKeyIsDownForTesting(true);
    const fs::path url = folder / "Saved Folder";
    ASSERT_FALSE(saveAs(*document, url, kx::DocumentController::projectFolderTypeIdentifier));
    kx::DocumentControllerBase::setOptionKeyIsDownForTesting(std::nullopt);
    EXPECT_NE(readFile(url / "design/document.json").find("Drafted first"), std::string::npos);
    // The folder is the lasting copy: no draft comes back at the next launch.
    EXPECT_FALSE(fs::exists(*draft));
    EXPECT_FALSE(document->autosavedContentsFileURL());
    EXPECT_TRUE(!fs::exists(controller->draftsDirectory()) || fs::is_empty(controller->draftsDirectory()));
}

TEST_F(KVDocumentWorkKeptGui, AFolderProjectsDuplicateIsAZipDraftThatIsNeverClosedWithoutTheQuestion)
{
    auto document = openVersionedFolder("Original");
    ASSERT_TRUE(document);
    // Asked for inside another wait (a save's), the copy cannot wait for the page's latest edit
    // itself, and says so.
    typeText(*document, 0, "Edited first");
    std::string told;
    kx::RunLoopWait::waitUsingRecursiveRunloop([&] {
        try {
            document->duplicate();
        } catch (...) {
            told = kx::Document::errorFromException(std::current_exception()).localizedDescription;
        }
        return false;
    }, 5, [] {});
    EXPECT_NE(told.find("already waits for a page"), std::string::npos) << told;
    std::shared_ptr<kx::Document> copy;
    ASSERT_NO_THROW(copy = document->duplicate());
    auto duplicate = std::dynamic_pointer_cast<KVDocument>(copy);
    ASSERT_TRUE(duplicate && waitForEditor(*duplicate));
    // One file in the drafts folder, worked on in a container of its own, not in place.
    const auto draft = duplicate->autosavedContentsFileURL();
    ASSERT_TRUE(draft && fs::is_regular_file(*draft));
    EXPECT_EQ(duplicate->fileType(), kx::DocumentController::projectZipTypeIdentifier);
    EXPECT_FALSE(duplicate->container()->projectDirectoryIsOrigin());
    typeText(*duplicate, 0, "Typed into the copy");
    ASSERT_FALSE(autosave(*duplicate));
    // The backup writes the edit into the working folder: the draft is still the user's work.
    bool backedUp = false;
    duplicate->container()->backup([&] { backedUp = true; });
    ASSERT_TRUE(spinUntil([&] { return backedUp; }));

    duplicate->performClose();
    auto alert = waitForAlert();
    ASSERT_TRUE(alert);
    EXPECT_NE(alert->messageText().find("Do you want to keep this new document"), std::string::npos);
    ASSERT_TRUE(answer("Cancel"));
    EXPECT_FALSE(duplicate->isClosed());
    EXPECT_TRUE(fs::exists(*draft));
    EXPECT_NE(storedDocument(*draft).find("Typed into the copy"), std::string::npos);
}

TEST_F(KVDocumentWorkKeptGui, APageThatStopsAnsweringNeitherHoldsUpSavesNorLosesWhatWasWritten)
{
    kxtest::ScopedSetting timeout(kx::NimbetViewController::setPageAnswerTimeoutForTesting, 500ms);
    auto document = newDocument();
    ASSERT_TRUE(document && waitForEditor(*document));
    typeText(*document, 0, "Autosaved");
    ASSERT_FALSE(autosave(*document));
    const auto draft = document->autosavedContentsFileURL();
    ASSERT_TRUE(draft);
    // A backup cycle puts a later edit into the working folder, not yet into the draft.
    typeText(*document, 0, "Backed up");
    bool backedUp = false;
    document->container()->backup([&] { backedUp = true; });
    ASSERT_TRUE(spinUntil([&] { return backedUp; }));

    // Then the page hears the shell's questions and never answers (busy, or hanging).
    typeText(*document, 0, "Only in the page");
    evaluate(*document, "window._ipc.emit = () => {}; true");
    // The autosave ends, with what the working folder holds, and fails all the same: the latest
    // edit is only in the page. The document stays edited.
    const auto failure = autosave(*document);
    ASSERT_TRUE(failure);
    EXPECT_NE(failure->localizedDescription.find("did not hand over the document in time"), std::string::npos);
    EXPECT_NE(storedDocument(*draft).find("Backed up"), std::string::npos) << storedDocument(*draft);
    EXPECT_TRUE(document->isDocumentEdited());
    // A page that takes longer than a save waits: quitting asks, naming the editor as the cause.
    kx::NimbetViewController::setPageAnswerTimeoutForTesting(11s);
    std::vector<std::string> asked;
    EXPECT_FALSE(quit({"Don't Quit"}, asked));
    ASSERT_FALSE(asked.empty());
    EXPECT_NE(asked.back().find("did not hand over the document in time"), std::string::npos) << asked.back();
    kx::NimbetViewController::setPageAnswerTimeoutForTesting(500ms);
    ASSERT_TRUE(spinUntil([&] { return !document->documentJSONSource()->isAwaitingProvider(); }, 5s));
    // Quitting ends too, and keeps the draft for the next launch.
    EXPECT_TRUE(controller->reviewDocumentsBeforeQuitting(false));
    EXPECT_TRUE(fs::exists(*draft));
    EXPECT_NE(storedDocument(*draft).find("Backed up"), std::string::npos);
}

TEST_F(KVDocumentWorkKeptGui, AFileMovedElsewhereIsFollowedAndOneTrashedIsNeverRecreated)
{
    auto document = openProject("Kept");
    ASSERT_TRUE(document);
    const fs::path original = *document->fileURL();
    // Moved to another folder: the next save goes where the file is now.
    fs::create_directories(folder / "Moved");
    fs::rename(original, folder / "Moved/Project.korvelx");
    ASSERT_TRUE(spinUntil([&] { return document->fileURL() == folder / "Moved/Project.korvelx"; }));
    typeText(*document, 0, "Saved where it went");
    ASSERT_FALSE(autosave(*document));
    EXPECT_FALSE(fs::exists(original));
    EXPECT_NE(storedDocument(folder / "Moved/Project.korvelx").find("Saved where it went"), std::string::npos);

    // Moved while the package is written, as its staged file appears or just before the
    // switch: the save goes where the file went. Sent to the Trash meanwhile: it stays there.
    const fs::path trash = fs::path(std::getenv("XDG_DATA_HOME")) / "Trash/files";
    fs::create_directories(trash);
    auto moveWhileSaving = [&](const std::string& step, const fs::path& to) {
        auto from = *document->fileURL();
        kxtest::ScopedSetting hook(kx::KVSaveStaging::setFaultHookForTesting,
                                   [step, from, to, moved = std::make_shared<std::atomic<bool>>()](std::string_view at) {
                                       std::error_code ec;
                                       if (at == step && !moved->exchange(true))
                                           fs::rename(from, to, ec);
                                       return 0;
                                   });
        typeText(*document, 0, "Saved as it moved at " + step);
        auto failure = autosave(*document);
        EXPECT_FALSE(fs::exists(from)) << step;
        return failure;
    };
    for (const std::string step : {"stage", "exchange"}) {
        const fs::path to = folder / ("Moved/At " + step + ".korvelx");
        auto failure = moveWhileSaving(step, to);
        ASSERT_FALSE(failure) << step << ": " << failure->localizedDescription;
        EXPECT_EQ(document->fileURL(), to);
        EXPECT_NE(storedDocument(to).find("Saved as it moved at " + step), std::string::npos) << step;
    }
    auto failure = moveWhileSaving("stage", trash / "Project.korvelx");
    ASSERT_TRUE(failure);
    EXPECT_NE(failure->localizedDescription.find("was moved to the Trash"), std::string::npos) << failure->localizedDescription;

    // Ctrl+S with the file in the Trash says why before it asks where to save (here nobody
    // answers).
    auto outcome = std::make_shared<Outcome>();
    document->saveDocument([outcome](std::optional<kx::Error> error) { outcome->end(error); });
    auto why = waitForAlert();
    ASSERT_TRUE(why);
    EXPECT_NE(why->messageText().find("was moved to the Trash"), std::string::npos) << why->messageText();
    EXPECT_TRUE(panelRequests.empty());
    ASSERT_TRUE(answer("OK"));
    ASSERT_TRUE(spinUntil([&] { return outcome->done; }, editorTimeout));
    EXPECT_EQ(panelRequests.size(), 1u);
    EXPECT_FALSE(fs::exists(folder / "Moved/At exchange.korvelx"));
    // Autosaves keep the work in a draft, which the next launch would open.
    typeText(*document, 0, "Not in the Trash");
    failure = autosave(*document);
    ASSERT_FALSE(failure) << failure->localizedDescription;
    EXPECT_FALSE(fs::exists(folder / "Moved/At exchange.korvelx"));
    EXPECT_TRUE(document->isDocumentEdited());
    const auto draft = document->autosavedContentsFileURL();
    ASSERT_TRUE(draft && controller->isInDraftsDirectory(*draft));
    EXPECT_NE(storedDocument(*draft).find("Not in the Trash"), std::string::npos);
    EXPECT_NE(readFile(controller->restorationStateFile()).find(draft->string()), std::string::npos);
    // An explicit save asks where to put it, and goes there.
    choose(folder / "Rescued.korvelx");
    outcome = std::make_shared<Outcome>();
    document->saveDocument([outcome](std::optional<kx::Error> error) { outcome->end(error); });
    ASSERT_TRUE(answer("OK"));
    ASSERT_TRUE(spinUntil([&] { return outcome->done; }, editorTimeout));
    ASSERT_FALSE(outcome->failure) << outcome->failure->localizedDescription;
    ASSERT_FALSE(panelRequests.empty());
    EXPECT_NE(storedDocument(folder / "Rescued.korvelx").find("Not in the Trash"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder / "Moved/At exchange.korvelx"));
    EXPECT_FALSE(fs::exists(*draft));

    // Trashed while an autosave starts: the save finds it gone just before it writes, and
    // writes a draft instead. Put back, it is the document's file again: the next autosave
    // writes it there, and the draft goes.
    typeText(*document, 0, "Rescued, edited");
    fs::rename(folder / "Rescued.korvelx", trash / "Rescued.korvelx");
    failure = autosave(*document);
    ASSERT_FALSE(failure) << failure->localizedDescription;
    EXPECT_FALSE(fs::exists(folder / "Rescued.korvelx"));
    const auto second = document->autosavedContentsFileURL();
    ASSERT_TRUE(second && fs::exists(*second));
    fs::rename(trash / "Rescued.korvelx", folder / "Rescued.korvelx");
    typeText(*document, 0, "Rescued, put back");
    failure = autosave(*document);
    ASSERT_FALSE(failure) << failure->localizedDescription;
    EXPECT_EQ(document->fileURL(), folder / "Rescued.korvelx");
    EXPECT_NE(storedDocument(folder / "Rescued.korvelx").find("Rescued, put back"), std::string::npos);
    EXPECT_FALSE(fs::exists(*second));
    EXPECT_EQ(readFile(controller->restorationStateFile()).find(second->string()), std::string::npos);
}

TEST_F(KVDocumentWorkKeptGui, AFolderPutBackOutOfTheTrashKeepsItsWorkingCopyAndDraftUntilASaveWroteTheWorkThere)
{
    kxtest::ScopedSetting timeout(kx::NimbetViewController::setPageAnswerTimeoutForTesting, 500ms);
    auto document = openVersionedFolder("Ours");
    ASSERT_TRUE(document);
    const fs::path project = folder / "Project";
    trashAndEditWhileAway(*document, project);
    const auto draft = document->autosavedContentsFileURL();
    const fs::path copy = document->container()->uuidDirectory();
    fs::rename(trash() / "Project", project);
    ASSERT_TRUE(spinUntil([&] { return !document->isFileGone(); }));
    EXPECT_TRUE(document->isDocumentEdited());
    // Without the page's document (a page that hangs, or reloads after its process ended) an
    // autosave writes nothing there, and both copies of the work stay.
    evaluate(*document, "window._answering = window._ipc.emit; window._ipc.emit = () => {}; true");
    EXPECT_TRUE(autosave(*document));
    EXPECT_EQ(onDisk(project).find("While away"), std::string::npos) << onDisk(project);
    EXPECT_TRUE(draft && fs::exists(*draft) && fs::exists(copy));
    ASSERT_TRUE(spinUntil([&] { return !document->documentJSONSource()->isAwaitingProvider(); }, 5s));
    evaluate(*document, "window._ipc.emit = window._answering; true");
    const auto failure = autosave(*document);
    ASSERT_FALSE(failure) << failure->localizedDescription;
    EXPECT_NE(onDisk(project).find("While away"), std::string::npos) << onDisk(project);
    EXPECT_EQ(readFile(project / "design/images" / awayImage), imagefixtures::png(8, 8));
    EXPECT_TRUE(fs::exists(project / ".git") && document->container()->projectDirectoryIsOrigin());
    EXPECT_FALSE(fs::exists(*draft) || fs::exists(copy) || document->isDocumentEdited());
}

TEST_F(KVDocumentWorkKeptGui, AFolderThatGoesAgainBeforeItHeldTheWorkLeavesTheDocumentWithItsWorkingCopy)
{
    auto document = putBackAfterEditsAway("Ours");
    ASSERT_TRUE(document && !document->isFileGone());
    const fs::path project = folder / "Project";
    fs::remove_all(project);
    ASSERT_TRUE(spinUntil([&] { return document->isFileGone(); }));
    ASSERT_FALSE(saveAs(*document, folder / "Kept.korvelx"));
    EXPECT_NE(storedDocument(folder / "Kept.korvelx").find("While away"), std::string::npos);
    EXPECT_EQ(runProgram({"unzip", "-p", (folder / "Kept.korvelx").string(), "design/images/" + awayImage}).output, imagefixtures::png(8, 8));
}

TEST_F(KVDocumentWorkKeptGui, AFolderAwaySaysWhatItsDraftKeepsAndWhyItCannotBeUsedOnceBack)
{
    kxtest::ScopedSetting timeout(kx::NimbetViewController::setPageAnswerTimeoutForTesting, 500ms);
    auto document = openVersionedFolder("Ours");
    ASSERT_TRUE(document);
    const fs::path project = folder / "Project";
    trashAndEditWhileAway(*document, project);
    // The page does not answer: the draft keeps what the working copy holds, and says so; so
    // does quitting.
    typeText(*document, 0, "Only in the page");
    evaluate(*document, "window._answering = window._ipc.emit; window._ipc.emit = () => {}; true");
    const auto failure = autosave(*document);
    ASSERT_TRUE(failure);
    EXPECT_NE(failure->localizedDescription.find("Trash. Its draft keeps your work without the latest changes: "), std::string::npos)
        << failure->localizedDescription;
    std::vector<std::string> asked;
    EXPECT_FALSE(quit({"Don't Quit"}, asked));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].find("the draft written earlier is kept and opens at the next launch"), std::string::npos) << asked[0];
    ASSERT_TRUE(spinUntil([&] { return !document->documentJSONSource()->isAwaitingProvider(); }, 5s));
    evaluate(*document, "window._ipc.emit = window._answering; true");
    // Answering again, it is waited for as usual: a page that was silent gets a tenth of 500 ms.
    kxtest::ScopedSetting usual(kx::NimbetViewController::setPageAnswerTimeoutForTesting, std::nullopt);
    // Put back while another instance holds it: said so; let go, the next save writes there.
    {
        SecondInstance other({"hold-folder", (trash() / "Project").string()});
        fs::rename(trash() / "Project", project);
        document->saveDocument([](std::optional<kx::Error>) {});
        auto why = waitForAlert();
        ASSERT_TRUE(why);
        EXPECT_NE(why->messageText().find("is back at \u201C" + project.string() + "\u201D, but cannot be used yet: "), std::string::npos)
            << why->messageText();
        ASSERT_TRUE(answer("OK"));
    }
    const auto saved = autosave(*document);
    ASSERT_FALSE(saved) << saved->localizedDescription;
    EXPECT_NE(onDisk(project).find("Only in the page"), std::string::npos) << onDisk(project);
}

TEST_F(KVDocumentWorkKeptGui, APackagePutBackWhileItsDraftIsWrittenLeavesNoDraftBehindItsNextSave)
{
    auto document = openProject("Kept");
    ASSERT_TRUE(document);
    const fs::path package = *document->fileURL();
    fs::create_directories(trash());
    fs::rename(package, trash() / package.filename());
    ASSERT_TRUE(spinUntil([&] { return document->isFileGone(); }));
    // The draft's autosave waits for the page; the package comes back meanwhile.
    typeText(*document, 0, "Drafted as it came back");
    evaluate(*document, "const emit = window._ipc.emit; window._ipc.emit = (...a) => setTimeout(() => emit(...a), 1500); true");
    auto puttingBack = kx::MainQueue::after(300ms, [from = trash() / package.filename(), to = package] {
        std::error_code ec;
        fs::rename(from, to, ec);
    });
    ASSERT_FALSE(autosave(*document));
    puttingBack->cancel();
    const auto draft = document->autosavedContentsFileURL();
    ASSERT_TRUE(!document->isFileGone() && draft && fs::exists(*draft));
    typeText(*document, 0, "Saved in place");
    ASSERT_FALSE(autosave(*document));
    EXPECT_NE(storedDocument(package).find("Saved in place"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(controller->draftsDirectory()));
}

TEST_F(KVDocumentWorkKeptGui, AFolderRenamedWhileASaveWaitsForThePageIsSavedWhereItWentNeverIntoANewFolderAtItsName)
{
    auto document = openVersionedFolder("Ours");
    ASSERT_TRUE(document);
    const fs::path project = folder / "Project";
    typeText(*document, 0, "Renamed");
    evaluate(*document, "const emit = window._ipc.emit; window._ipc.emit = (...a) => setTimeout(() => emit(...a), 1500); true");
    // Renamed, and a folder made at the old name at once, as a sync client may.
    auto renaming = kx::MainQueue::after(300ms, [from = project, to = folder / "Renamed"] {
        std::error_code ec;
        fs::rename(from, to, ec);
        fs::create_directories(from, ec);
    });
    const auto failure = autosave(*document);
    renaming->cancel();
    ASSERT_FALSE(failure) << failure->localizedDescription;
    EXPECT_EQ(document->fileURL(), folder / "Renamed");
    EXPECT_NE(onDisk(folder / "Renamed").find("Renamed"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(project));
}

TEST_F(KVDocumentWorkKeptGui, QuittingSaysWhatBecomesOfWhatCouldNotBeWrittenOverAnotherProgramsFile)
{
    auto document = openProject("Ours");
    ASSERT_TRUE(document);
    const fs::path url = *document->fileURL();
    typeText(*document, 0, "Typed before quitting");
    // Another program writes the file meanwhile.
    makeProject(folder / "Theirs.korvelx", {{"design/document.json", frameDocument("Theirs")}});
    fs::rename(folder / "Theirs.korvelx", url);
    const auto lost = "If you quit anyway, the changes made since the last save are lost.";
    const auto kept = "If you quit anyway, your changes are kept as a draft that opens at the next launch.";

    // Quitting asks whether to write over their file (no), then whether to quit all the same.
    // Where no draft can be written, it says so and why: the changes would be lost.
    fs::create_directories(controller->draftsDirectory().parent_path());
    writeFile(controller->draftsDirectory(), "no folder");
    std::vector<std::string> asked;
    EXPECT_FALSE(quit({"Cancel", "Don't Quit"}, asked));
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked.back().find("Nor could your changes be kept as a draft: "), std::string::npos) << asked.back();
    EXPECT_NE(asked.back().find("choose Save As"), std::string::npos) << asked.back();
    EXPECT_NE(asked.back().find(lost), std::string::npos) << asked.back();
    EXPECT_EQ(asked.back().find(kept), std::string::npos) << asked.back();
    fs::remove(controller->draftsDirectory());
    // A draft kept: said so, and one that the user stays for goes again.
    asked.clear();
    EXPECT_FALSE(quit({"Cancel", "Don't Quit"}, asked));
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked.back().find(kept), std::string::npos) << asked.back();
    EXPECT_EQ(asked.back().find(lost), std::string::npos) << asked.back();
    EXPECT_TRUE(fs::is_empty(controller->draftsDirectory()));
    EXPECT_FALSE(document->isClosed());

    asked.clear();
    EXPECT_TRUE(quit({"Cancel", "Quit Anyway"}, asked));
    ASSERT_GE(asked.size(), 2u);
    EXPECT_NE(asked.back().find("could not be saved"), std::string::npos);
    // Their version stays in the file; ours is a draft for the next launch.
    EXPECT_NE(storedDocument(url).find("Theirs"), std::string::npos);
    std::vector<fs::path> drafts;
    for (const auto& item : fs::directory_iterator(controller->draftsDirectory()))
        drafts.push_back(item.path());
    ASSERT_EQ(drafts.size(), 1u);
    EXPECT_NE(drafts.front().filename().string().find("Project (unsaved changes)"), std::string::npos);
    EXPECT_NE(storedDocument(drafts.front()).find("Typed before quitting"), std::string::npos);
}

TEST_F(KVDocumentWorkKeptGui, AFullDiskIsToldOnceWithItsCauseAndTheEditWaitsForRoom)
{
    SmallDisk disk(folder / "disk", 4 << 20);
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a small file system here (no rights to)";
    const fs::path url = folder / "disk/Project";
    makeProject(url, {{"design/document.json", frameDocument("Before")}}, true);
    fs::create_directories(url / ".git");
    fs::create_directories(folder / "disk/data/Drafts");
    auto document = open(url);
    ASSERT_TRUE(document && waitForEditor(*document));
    disk.fill();

    typeText(*document, 0, "Typed on a full disk");
    // The autosave a minute later fails with the disk's own reason, and the user hears of it.
    clock->advance(60s);
    auto alert = waitForAlert();
    ASSERT_TRUE(alert);
    EXPECT_NE(alert->messageText().find("No space left on device"), std::string::npos) << alert->messageText();
    EXPECT_EQ(alert->informativeText().find("More changes were made"), std::string::npos) << alert->informativeText();
    ASSERT_TRUE(answer("OK"));
    EXPECT_TRUE(document->isDocumentEdited());
    EXPECT_NE(readFile(url / "design/document.json").find("Before"), std::string::npos);
    // Once: the next failures are logged, not shown again.
    clock->advance(60s);
    spinFor(500ms);
    EXPECT_TRUE(kx::Alert::shownAlerts().empty());
    // An explicit save says it too, with the cause.
    auto failure = autosave(*document);
    ASSERT_TRUE(failure);
    EXPECT_FALSE(kx::Document::isUserCancelled(*failure));
    // So does a duplicate, its draft on the same disk.
    controller->setDataDirectoryForTesting(folder / "disk/data");
    std::string told;
    try {
        document->duplicate();
    } catch (...) {
        told = kx::Document::errorFromException(std::current_exception()).localizedDescription;
    }
    EXPECT_NE(told.find("No space left on device"), std::string::npos) << told;
    controller->setDataDirectoryForTesting(folder / "data");

    // With room again the edit is saved: nothing of it was lost meanwhile.
    disk.makeRoom();
    clock->advance(60s);
    ASSERT_TRUE(spinUntil([&] { return !document->isDocumentEdited(); }, editorTimeout));
    EXPECT_NE(readFile(url / "design/document.json").find("Typed on a full disk"), std::string::npos);
}

// A page without its document for now (loading, also again after its process ended): the
// minute's autosave fails without an alert for the rounds a reload takes (one would still stand
// once the next round saved). A page that stays without it is told once, with what is kept; closing
// still asks. Once it handed its document over, losing it again is told again.
TEST_F(KVDocumentWorkKeptGui, APageWithoutItsDocumentIsToldOnceOnlyPastTheRoundsOfAReloadAndTheNextRoundWithItSaves)
{
    constexpr int rounds = KVDocument::roundsWithoutPageDocumentToTell;
    auto document = openVersionedFolder("Before");
    ASSERT_TRUE(document);
    // The page's document taken away, as a page that loads it again has none; the requests for it
    // counted from then on.
    const auto takeAway = [&] {
        evaluate(*document, "if (window.nimbet.state.document) { window._kept = window.nimbet.state.document; window.nimbet.state.document = null; }"
                            " window._asked = 0; if (!window._counting) { window._counting = true; const emit = window._ipc.emit;"
                            " window._ipc.emit = (...a) => { window._asked += a[0] === 'DocumentSave'; return emit(...a); }; } true");
    };
    // `count` rounds of the minute's autosave, each until the page was asked and the next round is
    // due: true when no alert came meanwhile.
    const auto untold = [&](int count) {
        for (int round = 1; round <= count; ++round) {
            const auto scheduled = clock->requested.size();
            clock->advance(60s);
            if (!spinUntil([&] { return evaluate(*document, "window._asked") == round && clock->requested.size() > scheduled; }, editorTimeout))
                return false;
        }
        spinFor(300ms);
        return kx::Alert::shownAlerts().empty();
    };
    const auto handBack = [&](const std::string& typed) {
        evaluate(*document, "window.nimbet.state.document = window._kept; true");
        clock->advance(60s);
        return spinUntil([&] { return !document->isDocumentEdited(); }, editorTimeout)
            && readFile(folder / "Project/design/document.json").find(typed) != std::string::npos;
    };
    const auto told = [&] {
        clock->advance(60s);
        auto alert = waitForAlert();
        return alert && alert->messageText().find("The latest changes to \u201CProject\u201D have not been saved for some time. The editor "
                                                  "could not hand over the document.") != std::string::npos
            && alert->informativeText().find("Your work is kept as it was the last time the editor handed over the document. The "
                                             "changes made since are only in the editor") != std::string::npos
            && answer("OK");
    };

    // Typed, then the rounds a reload takes without the document, in silence.
    const auto typedThenReloading = [&](const std::string& typed) {
        typeText(*document, 0, typed);
        takeAway();
        return untold(rounds - 1) && document->isDocumentEdited();
    };
    ASSERT_TRUE(typedThenReloading("Typed as it reloads"));
    ASSERT_TRUE(handBack("Typed as it reloads"));

    ASSERT_TRUE(typedThenReloading("Only in the page"));
    ASSERT_TRUE(told());
    // Not again while the page stays without it; closing still asks.
    takeAway();
    EXPECT_TRUE(untold(rounds + 1));
    document->performClose();
    auto alert = waitForAlert();
    ASSERT_TRUE(alert);
    EXPECT_NE(alert->messageText().find("could not be saved"), std::string::npos) << alert->messageText();
    ASSERT_TRUE(answer("Cancel"));
    ASSERT_FALSE(document->isClosed());
    ASSERT_TRUE(handBack("Only in the page"));

    ASSERT_TRUE(typedThenReloading("Only in the page again"));
    EXPECT_TRUE(told());
}

TEST_F(KVDocumentWorkKeptGui, ADocumentTooLargeToHandOverIsNamedWhenQuittingNotSavedWithoutIt)
{
    std::shared_ptr<KVDocument> document;
    {
        kxtest::ScopedSetting largest(kx::BaseNimbetViewController::setLargestDocumentForTesting, std::size_t(1) << 20); // for its view
        document = openVersionedFolder("Ours");
    }
    ASSERT_TRUE(document);
    typeText(*document, 0, "Edited");
    evaluate(*document, "window.nimbet.state.document.frames[0].text += 'x'.repeat(2 << 20); true");
    std::vector<std::string> asked;
    EXPECT_FALSE(quit({"Don't Quit"}, asked));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].find("The document is too large to save"), std::string::npos) << asked[0];
}


// The work done while a folder project was in the Trash goes into the folder put back: on a full
// disk, with the folder swapped at its path, or cut short by the end of the application, the
// folder stays as it was saved and the work stays offered, once.
TEST_F(KVDocumentWorkKeptGui, AFullDiskLeavesTheFolderAsSavedAndTheLatestWorkInTheDraft)
{
    SmallDisk disk(folder / "disk", 4 << 20);
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a small file system here (no rights to)";
    kxtest::ScopedSetting timeout(kx::NimbetViewController::setPageAnswerTimeoutForTesting, 2s);
    const fs::path project = folder / "disk/Project";
    makeProject(project, {{"design/document.json", frameDocument("Saved")}}, true);
    fs::create_directories(project / ".git");
    auto document = open(project);
    ASSERT_TRUE(document && waitForEditor(*document));
    const fs::path trashed = folder / "disk" / (".Trash-" + std::to_string(::getuid())) / "files";
    trashAndEditWhileAway(*document, project, trashed);
    // More than the full disk has room for.
    ASSERT_TRUE(document->nimbetDocumentDidReceiveAssetData(std::string(512 * 1024, 'a'), "large.bin"));
    fs::rename(trashed / "Project", project);
    ASSERT_TRUE(spinUntil([&] { return !document->isFileGone(); }));
    disk.fill();
    typeText(*document, 0, "Typed once it was back, with " + awayImage);

    auto failure = autosave(*document);
    ASSERT_TRUE(failure);
    EXPECT_NE(failure->localizedDescription.find("No space left on device"), std::string::npos) << failure->localizedDescription;
    EXPECT_NE(onDisk(project).find("Saved"), std::string::npos) << onDisk(project);
    EXPECT_FALSE(fs::exists(project / std::string(kx::KVFolderHandOver::stagingName)));
    // The draft (on another disk) holds the latest work meanwhile.
    const auto draft = document->autosavedContentsFileURL();
    ASSERT_TRUE(draft && fs::exists(*draft));
    EXPECT_NE(storedDocument(*draft).find("Typed once it was back"), std::string::npos);
    EXPECT_TRUE(document->isDocumentEdited());

    // Closed without saving, as the question offers: the folder is as it was saved, whole.
    std::vector<std::string> asked;
    auto answerer = answering({"Close Without Saving"}, asked);
    document->performClose();
    ASSERT_TRUE(spinUntil([&] { return document->isClosed(); }, editorTimeout));
    EXPECT_NE(onDisk(project).find("Saved"), std::string::npos);
    EXPECT_TRUE(fs::exists(project / ".git"));
    EXPECT_TRUE(spinUntil([&] { return drafts().empty() && workingFolders().empty(); }));
}

TEST_F(KVDocumentWorkKeptGui, AFolderPutAtThePathWhileTheWorkGoesBackGetsNoneOfItAndTheSaveGoesWhereTheProjectWent)
{
    auto document = putBackAfterEditsAway("Saved");
    ASSERT_TRUE(document && !document->isFileGone());
    const fs::path project = folder / "Project";
    const fs::path moved = folder / "Moved";
    kxtest::ScopedSetting swap(kx::KVFolderHandOver::setFaultHookForTesting, [&, swapped = false](std::string_view step, const std::string&) mutable {
        if ((step == "rename" || step == "last") && !std::exchange(swapped, true)) {
            fs::rename(project, moved);
            fs::create_directories(project);
        }
        return 0;
    });
    const auto failure = autosave(*document);
    ASSERT_FALSE(failure) << failure->localizedDescription;
    EXPECT_TRUE(fs::is_empty(project));
    EXPECT_NE(onDisk(moved).find("While away"), std::string::npos);
    EXPECT_EQ(readFile(moved / "design/images" / awayImage), imagefixtures::png(8, 8));
    EXPECT_TRUE(spinUntil([&] { return document->fileURL() == moved && !document->isDocumentEdited(); }));
}

TEST_F(KVDocumentWorkKeptGui, QuittingWhileTheWorkCannotGoBackKeepsItForTheFolderAtTheNextLaunchOnce)
{
    auto document = openVersionedFolder("Saved");
    ASSERT_TRUE(document);
    trashAndEditWhileAway(*document, folder / "Project");
    // Put back, then renamed: the work waits for it where it is now.
    const fs::path project = folder / "Renamed";
    fs::rename(trash() / "Project", folder / "Project");
    ASSERT_TRUE(spinUntil([&] { return !document->isFileGone(); }));
    fs::rename(folder / "Project", project);
    ASSERT_TRUE(spinUntil([&] { return document->fileURL() == project; }));
    typeText(*document, 0, "Typed once it was back, with " + awayImage);
    {
        // Every hand-over fails as on a full disk, after the images went in.
        kxtest::ScopedSetting full(kx::KVFolderHandOver::setFaultHookForTesting, [](std::string_view step, const std::string&) {
            return step == "last" ? ENOSPC : 0;
        });
        std::vector<std::string> asked;
        ASSERT_TRUE(quit({"Quit Anyway"}, asked));
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_NE(asked[0].find("your changes are kept and open with the document at the next launch"), std::string::npos) << asked[0];
    }
    EXPECT_NE(onDisk(project).find("Saved"), std::string::npos);
    EXPECT_TRUE(fs::exists(project / "design/images" / awayImage));
    document.reset();
    spinFor(200ms);

    // The next launch opens the folder once, with the work as unsaved; the next save writes it.
    const auto restored = relaunch();
    ASSERT_EQ(restored.size(), 1u);
    auto reopened = std::dynamic_pointer_cast<KVDocument>(restored.front());
    ASSERT_TRUE(reopened && waitForEditor(*reopened));
    EXPECT_EQ(reopened->fileURL(), project);
    EXPECT_TRUE(reopened->isDocumentEdited());
    EXPECT_NE(frames(*reopened)[0]["text"].get<std::string>().find("Typed once it was back"), std::string::npos);
    const auto failure = autosave(*reopened);
    ASSERT_FALSE(failure) << failure->localizedDescription;
    EXPECT_NE(onDisk(project).find("Typed once it was back"), std::string::npos);
    EXPECT_TRUE(fs::exists(project / ".git"));
    EXPECT_FALSE(reopened->isDocumentEdited());
    EXPECT_TRUE(spinUntil([&] { return drafts().empty() && workingFolders().empty(); }));
}

} // namespace
