// What the project document must never do: fail a second document from one template, count a
// declined autosave as saved, lose a project when a save as fails, keep working in a folder it
// saved away from or drop the images it keeps there, crash on a closed document's callbacks,
// copy files from anywhere into a project, open a program from a page's request, save over a
// link instead of its file, or take an edit made while a save wrote the package for saved.
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "App/archive/KVSaveStaging.h"
#include "support/ScopedSetting.h"

#include "gui/App/documents/DocumentTestEnvironment.h"
#include "unit/App/documents/ImageFixtures.h"

namespace {

using namespace kxtest;
using kx::DocumentController;
using kx::KVDocument;
using kx::KVDocumentArchive;
using kx::KVDocumentError;

using KVDocumentSafetyGui = DocumentGuiTest;

TEST_F(KVDocumentSafetyGui, TwoDocumentsFromOneExampleEachGetTheirOwnIdentity)
{
    const fs::path example = folder / "example-landing.korvelx";
    makeProject(example, {{"design/document.json", frameDocument("Example")}});
    auto archive = [&] { return std::make_shared<KVDocumentArchive>(example, "com.korvel.projectzip", false, std::nullopt, true); };
    std::shared_ptr<KVDocument> first;
    std::shared_ptr<KVDocument> second;
    ASSERT_NO_THROW(first = KVDocument::makeUntitled(DocumentController::projectZipTypeIdentifier, archive()));
    ASSERT_NO_THROW(second = KVDocument::makeUntitled(DocumentController::projectZipTypeIdentifier, archive()));
    EXPECT_EQ(first->container()->uuid(), archive()->uuid());
    EXPECT_NE(second->container()->uuid(), first->container()->uuid());
    EXPECT_TRUE(second->container()->isValid());
    EXPECT_NE(readFile(second->container()->projectDirectory() / "design/document.json").find("Example"), std::string::npos);
    first->close();
    second->close();
}

TEST_F(KVDocumentSafetyGui, ADeclinedAutosaveInPlaceIsNotCountedAsSaved)
{
    auto document = newDocument();
    ASSERT_TRUE(document && waitForEditor(*document));
    // A document with a file but without its archive (its file could not be followed).
    document->setFileURL(folder / "Lost.korvelx");
    ASSERT_TRUE(answer("OK"));
    ASSERT_FALSE(document->fileArchive());
    document->container()->mark(true);
    ASSERT_TRUE(document->isDocumentEdited());
    auto error = autosave(*document, true);
    ASSERT_TRUE(error);
    EXPECT_TRUE(kx::Document::isUserCancelled(*error));
    EXPECT_TRUE(document->isDocumentEdited());
    EXPECT_TRUE(document->hasUnautosavedChanges());
    EXPECT_FALSE(fs::exists(folder / "Lost.korvelx"));
}

TEST_F(KVDocumentSafetyGui, ASaveAsIntoAFolderInUseLeavesTheDocumentAsItWas)
{
    auto document = openProject("Everything of the project");
    ASSERT_TRUE(document);
    const fs::path zip = *document->fileURL();
    writeFile(document->container()->projectDirectory() / "code/index.js", "export default 1;\n");
    const fs::path target = folder / "Taken";
    makeProject(target, {{"design/document.json", frameDocument("Another instance's work")}}, true);
    SecondInstance other({"hold-folder", target.string()});
    ASSERT_EQ(other.firstLine, "held");
    const auto container = document->container();

    typeText(*document, 0, "Edited before the save as");
    kx::DocumentControllerBase::setOptionKeyIsDownForTesting(true);
    auto error = saveAs(*document, target, DocumentController::projectFolderTypeIdentifier);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, int(KVDocumentError::Code::containerAlreadyInUse));
    answer("OK");
    EXPECT_EQ(document->container(), container);
    EXPECT_TRUE(container->isValid());
    EXPECT_EQ(document->fileURL(), zip);
    EXPECT_NE(readFile(target / "design/document.json").find("Another instance's work"), std::string::npos);

    // The next autosave writes the whole project to the user's file.
    ASSERT_FALSE(autosave(*document));
    EXPECT_NE(storedDocument(zip).find("Edited before the save as"), std::string::npos);
    KVDocumentArchive saved(zip, "com.korvel.projectzip", false, std::nullopt, true);
    ASSERT_TRUE(saved.manifest() && saved.manifest()->files);
    EXPECT_TRUE(saved.manifest()->files->contains("code/index.js"));
}

TEST_F(KVDocumentSafetyGui, ASaveAsIntoAnArbitraryFolderIsRefusedAndWritesNothingThere)
{
    auto document = openProject("Mine");
    ASSERT_TRUE(document);
    const fs::path home = folder / "home";
    writeFile(home / "notes.txt", "someone's notes");
    kx::DocumentControllerBase::setOptionKeyIsDownForTesting(true);
    auto error = saveAs(*document, home, DocumentController::projectFolderTypeIdentifier);
    ASSERT_TRUE(error);
    answer("OK");
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(home))
        names.push_back(item.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"notes.txt"});
}

TEST_F(KVDocumentSafetyGui, AFolderProjectSavedAsAZipStopsWorkingInTheFolder)
{
    auto document = openProject("In the folder", true, "Shared");
    ASSERT_TRUE(document);
    const fs::path projectFolder = folder / "Shared";
    ASSERT_TRUE(document->container()->projectDirectoryIsOrigin());
    const std::string folderDocument = readFile(projectFolder / "design/document.json");

    const fs::path zip = folder / "Copy.korvelx";
    ASSERT_FALSE(saveAs(*document, zip));
    EXPECT_EQ(document->fileURL(), zip);
    EXPECT_FALSE(document->container()->projectDirectoryIsOrigin());
    EXPECT_NE(document->container()->projectDirectory(), projectFolder);
    EXPECT_TRUE(spinUntil([&] { return !fs::exists(projectFolder / ".korvel-lock"); }));

    typeText(*document, 0, "Only in the zip");
    ASSERT_FALSE(autosave(*document));
    EXPECT_NE(storedDocument(zip).find("Only in the zip"), std::string::npos);
    EXPECT_EQ(readFile(projectFolder / "design/document.json"), folderDocument);
    EXPECT_FALSE(fs::exists(projectFolder / ".korvel-lock"));
}

TEST_F(KVDocumentSafetyGui, AFolderProjectWhoseDocumentWasReadEmptyKeepsItsImagesInTheZipItIsSavedAs)
{
    const fs::path project = folder / "Emptied";
    makeProject(project, {{"design/document.json", ""}, {"design/images/logo.png", "the logo"}}, true);
    fs::create_directories(project / ".git");
    auto document = open(project);
    ASSERT_TRUE(document && waitForEditor(*document));
    evaluate(*document, "document.getElementById('add').click()");
    ASSERT_TRUE(spinUntil([&] { return document->isDocumentEdited(); }, editorTimeout));
    const fs::path zip = folder / "Copy.korvelx";
    ASSERT_FALSE(saveAs(*document, zip));
    // The zip's own saves, which name the image no more than the first one did, keep it too.
    typeText(*document, 0, "Saved again");
    ASSERT_FALSE(autosave(*document));
    EXPECT_NE(storedDocument(zip).find("Saved again"), std::string::npos);
    EXPECT_TRUE(KVDocumentArchive(zip, DocumentController::projectZipTypeIdentifier, false, std::nullopt, true).manifest()->files->contains("design/images/logo.png"));
}

TEST_F(KVDocumentSafetyGui, ACloseDocumentAnswersImageAndAssetCallbacksWithNothing)
{
    auto document = openProject("Closing");
    ASSERT_TRUE(document);
    const std::string png = imagefixtures::encoded(8, 8, "png");
    EXPECT_TRUE(document->nimbetDocumentDidReceiveImageData(png));
    document->close();
    EXPECT_FALSE(document->nimbetDocumentDidReceiveImageData(png));
    EXPECT_FALSE(document->nimbetDocumentDidReceiveAssetData("asset", "asset.bin"));
    document->nimbetReadImagesFromPasteboard({{"a.png", folder / "a.png"}});
    EXPECT_FALSE(document->projectURL());
}

TEST_F(KVDocumentSafetyGui, PastedImagesComeOnlyFromTheImagesOfAnOpenProject)
{
    auto source = openProject("Source", false, "Source");
    auto target = openProject("Target", false, "Target");
    ASSERT_TRUE(source && target);
    const std::string png = imagefixtures::encoded(8, 8, "png");
    auto name = source->nimbetDocumentDidReceiveImageData(png);
    ASSERT_TRUE(name);
    const fs::path images = source->container()->projectDirectory() / "design/images";
    const fs::path targetImages = target->container()->projectDirectory() / "design/images";

    // Through the private pasteboard, as a copy from one document and a paste into another.
    source->nimbetDocumentDidRequestCopyImagesToPasteboard({*name, "../../escape.png"});
    target->nimbetDocumentDidRequestCopyImagesFromPasteboard();
    EXPECT_EQ(readFile(targetImages / *name), png);

    writeFile(folder / "secret.png", "not for the project");
    fs::create_symlink(folder / "secret.png", images / "link.png");
    ASSERT_EQ(::mkfifo((images / "pipe.png").c_str(), 0600), 0);
    writeFile(images / "plain.png", png);
    target->nimbetReadImagesFromPasteboard({
        {"secret.png", folder / "secret.png"},
        {"link.png", images / "link.png"},
        {"pipe.png", images / "pipe.png"},
        {"dotted.png", images / ".." / "images" / "plain.png"},
        {"../escaped.png", images / "plain.png"},
        {"plain.png", images / "plain.png"},
    });
    EXPECT_FALSE(fs::exists(targetImages / "secret.png"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(targetImages / "link.png")));
    EXPECT_FALSE(fs::exists(targetImages / "pipe.png"));
    EXPECT_FALSE(fs::exists(targetImages / "dotted.png"));
    EXPECT_FALSE(fs::exists(targetImages.parent_path() / "escaped.png"));
    EXPECT_EQ(readFile(targetImages / "plain.png"), png);
    EXPECT_EQ(KVDocument::openPastedImage(folder / "secret.png"), -1);
}

TEST_F(KVDocumentSafetyGui, AProjectFileIsOpenedOnlyWhenItIsInTheProjectAndNoProgram)
{
    auto document = openProject("Files");
    ASSERT_TRUE(document);
    const fs::path project = document->container()->projectDirectory();
    writeFile(project / "notes.txt", "notes");
    writeFile(project / "run.sh", "#!/bin/sh\necho hi\n");
    fs::permissions(project / "run.sh", fs::perms::owner_exec, fs::perm_options::add);
    writeFile(project / "launcher.desktop", "[Desktop Entry]\nType=Application\nExec=xterm\n");
    writeFile(project / "Tool.Desktop", "[Desktop Entry]\n");
    writeFile(folder / "outside.txt", "outside");
    fs::create_symlink(folder / "outside.txt", project / "outside.txt");

    EXPECT_TRUE(document->openProjectFile("notes.txt"));
    for (const char* refused : {"run.sh", "launcher.desktop", "Tool.Desktop", "outside.txt", "../outside.txt", "/etc/hosts"})
        EXPECT_FALSE(document->openProjectFile(refused)) << refused;
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_NE(opened[0].find("notes.txt"), std::string::npos);
    EXPECT_EQ(opened[0].rfind("file://", 0), 0u);
}

} // namespace

TEST_F(KVDocumentSafetyGui, AProjectOpenedThroughALinkIsSavedIntoTheFileTheLinkNames)
{
    fs::create_directories(folder / "Projects");
    fs::create_directories(folder / "Desktop");
    makeProject(folder / "Projects/Real.korvelx", {{"design/document.json", frameDocument("Before")}});
    fs::create_symlink(folder / "Projects/Real.korvelx", folder / "Desktop/Shortcut.korvelx");

    auto document = open(folder / "Desktop/Shortcut.korvelx");
    ASSERT_TRUE(document) << (lastOpenError ? lastOpenError->localizedDescription : "");
    ASSERT_TRUE(waitForEditor(*document));
    typeText(*document, 0, "After");
    bool saved = false;
    std::optional<kx::Error> failure;
    document->saveDocument([&](std::optional<kx::Error> error) {
        failure = error;
        saved = true;
    });
    ASSERT_TRUE(spinUntil([&] { return saved; }, editorTimeout));
    ASSERT_FALSE(failure) << failure->localizedDescription;
    // The project itself has the change, and the link still leads to it.
    EXPECT_NE(storedDocument(folder / "Projects/Real.korvelx").find("After"), std::string::npos);
    EXPECT_TRUE(fs::is_symlink(folder / "Desktop/Shortcut.korvelx"));
    // Opened again by either name, it is the same document.
    bool alreadyOpen = false;
    controller->openDocumentWithContentsOfURL(folder / "Projects/Real.korvelx", true,
                                              [&](std::shared_ptr<kx::Document>, bool wasOpen, std::optional<kx::Error>) { alreadyOpen = wasOpen; });
    EXPECT_TRUE(alreadyOpen);
}

// Each save's last step is held back until the page reported one more edit: the save takes the
// document as it was when it began, and the edit keeps the document edited for the next one.
TEST_F(KVDocumentSafetyGui, AnEditMadeWhileASaveWritesThePackageStaysUnsaved)
{
    auto document = openProject("Before");
    ASSERT_TRUE(document);
    const auto title = [&] { return std::string(gtk_window_get_title(document->windowForSheet())); };
    for (const std::string save : {"Save", "Autosave", "Save As"}) {
        SCOPED_TRACE(save);
        typeText(*document, 0, "Saved by " + save);
        auto reached = std::make_shared<std::atomic<bool>>(false), released = std::make_shared<std::atomic<bool>>(false);
        kxtest::ScopedSetting hold(kx::KVSaveStaging::setFaultHookForTesting, [reached, released](std::string_view step) {
            if (step == "rename" || step == "exchange") {
                reached->store(true);
                while (!released->load())
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            return 0;
        });
        // The save runs the main loop while it waits: the edit comes from it, once the write
        // is held, and the write goes on once the page reported it.
        bool typed = false;
        auto editing = kx::MainQueue::repeating(10ms, [&, script = "(() => { const f = document.querySelectorAll('#frames textarea')[0]; "
                                                                 "f.value = 'Typed during the ' + " + nlohmann::json(save).dump()
                                                                 + "; f.dispatchEvent(new Event('input')); })()"] {
            if (!reached->load() || released->load())
                return;
            if (!std::exchange(typed, true))
                page(*document).evaluateJavaScript(script);
            else if (document->documentJSONSource()->dataNeedsToBeProvided())
                released->store(true);
        });
        auto outcome = std::make_shared<Outcome>();
        if (save == "Save As") {
            choose(folder / "Copy.korvelx");
            document->saveDocumentAs([outcome](std::optional<kx::Error> error) { outcome->end(error); });
        } else if (save == "Autosave") {
            document->autosave(false, [outcome](std::optional<kx::Error> error) { outcome->end(error); });
        } else {
            document->saveDocument([outcome](std::optional<kx::Error> error) { outcome->end(error); });
        }
        EXPECT_TRUE(spinUntil([&] { return released->load(); }, editorTimeout)) << "the edit was not reported during the save";
        released->store(true);
        editing->cancel();
        ASSERT_TRUE(spinUntil([&] { return outcome->done; }, editorTimeout));
        ASSERT_FALSE(outcome->failure) << outcome->failure->localizedDescription;
        const fs::path file = *document->fileURL();
        EXPECT_NE(storedDocument(file).find("Saved by " + save), std::string::npos) << storedDocument(file);
        spinFor(300ms);
        EXPECT_TRUE(document->isDocumentEdited());
        EXPECT_NE(title().find("Edited"), std::string::npos) << title();
        // The next save writes it.
        const auto failure = autosave(*document);
        ASSERT_FALSE(failure) << failure->localizedDescription;
        EXPECT_NE(storedDocument(file).find("Typed during the " + save), std::string::npos) << storedDocument(file);
        EXPECT_FALSE(document->isDocumentEdited());
    }
}
