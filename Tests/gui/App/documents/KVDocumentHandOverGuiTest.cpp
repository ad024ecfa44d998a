// The work done while a folder project was in the Trash goes into the folder put back: on a
// full disk, with the folder swapped at its path, or cut short by the end of the application,
// the folder stays as it was saved and the work stays offered, once.
#include <unistd.h>

#include "App/documents/container/KVFolderHandOver.h"
#include "gui/App/documents/DocumentTestEnvironment.h"
#include "support/ModalAnswerer.h"
#include "support/ScopedSetting.h"
#include "support/SmallDisk.h"

namespace {

using namespace kxtest;
using kx::KVDocument;

class KVDocumentHandOverGui : public DocumentGuiTest {
protected:
    std::string onDisk(const fs::path& project) { return readFile(project / "design/document.json"); }
    // What `directory` holds whose name starts with `prefix`: the drafts, the working folders.
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
};

} // namespace

TEST_F(KVDocumentHandOverGui, AFullDiskLeavesTheFolderAsSavedAndTheLatestWorkInTheDraft)
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
    kxtest::ModalAnswerer closing("the question before closing", [] {
        const auto alerts = kx::Alert::shownAlerts();
        return alerts.empty() ? nullptr : GTK_WIDGET(alerts.back()->window());
    }, [](GtkWidget*) {
        for (auto* button : kx::Alert::shownAlerts().back()->buttons())
            if (button->title() == "Close Without Saving")
                gtk_button_clicked(GTK_BUTTON(button->widget()));
    }, 1, editorTimeout);
    document->performClose();
    ASSERT_TRUE(spinUntil([&] { return document->isClosed(); }, editorTimeout));
    EXPECT_NE(onDisk(project).find("Saved"), std::string::npos);
    EXPECT_TRUE(fs::exists(project / ".git"));
    EXPECT_TRUE(spinUntil([&] { return drafts().empty() && workingFolders().empty(); }));
}

TEST_F(KVDocumentHandOverGui, AFolderPutAtThePathWhileTheWorkGoesBackGetsNoneOfItAndTheSaveGoesWhereTheProjectWent)
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

TEST_F(KVDocumentHandOverGui, QuittingWhileTheWorkCannotGoBackKeepsItForTheFolderAtTheNextLaunchOnce)
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
        kxtest::ModalAnswerer quitting("the question before quitting", [] {
            const auto alerts = kx::Alert::shownAlerts();
            return alerts.empty() ? nullptr : GTK_WIDGET(alerts.back()->window());
        }, [](GtkWidget*) {
            const auto alert = kx::Alert::shownAlerts().back();
            EXPECT_NE(alert->informativeText().find("your changes are kept and open with the document at the next launch"), std::string::npos)
                << alert->informativeText();
            for (auto* button : alert->buttons())
                if (button->title() == "Quit Anyway")
                    gtk_button_clicked(GTK_BUTTON(button->widget()));
        }, 1, editorTimeout);
        ASSERT_TRUE(controller->reviewDocumentsBeforeQuitting(true));
    }
    EXPECT_NE(onDisk(project).find("Saved"), std::string::npos);
    EXPECT_TRUE(fs::exists(project / "design/images" / awayImage));
    document.reset();
    spinFor(200ms);

    // The next launch opens the folder once, with the work as unsaved; the next save writes it.
    controller.reset();
    controller = std::make_unique<kx::DocumentController>();
    controller->setDataDirectoryForTesting(folder / "data");
    controller->shouldOpenDocuments = [] { return true; };
    std::vector<std::shared_ptr<kx::Document>> restored;
    controller->restoreDocuments([&](auto documents) { restored = documents; });
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
