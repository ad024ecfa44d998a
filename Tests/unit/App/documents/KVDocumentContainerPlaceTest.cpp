// A folder project's container that follows its folder out of the Trash, the files a working
// copy takes back into it, and the working folders that nothing names any more.
#include "unit/App/documents/ContainerTestSupport.h"
#include "unit/App/documents/ImageFixtures.h"

#include <fcntl.h>
#include <unistd.h>

#include "App/documents/container/KVContainerOriginInfo.h"
#include "Platform/Foundation/FileDescriptor.h"

using namespace containertest;

namespace {

class KVDocumentContainerPlaceTest : public ContainerTest {
protected:
    std::shared_ptr<KVDocumentContainer> inPlace(const fs::path& folder, Editor& editor)
    {
        auto archive = std::make_shared<KVDocumentArchive>(folder, "com.korvel.projectfolder", false, std::nullopt, false);
        auto container = KVDocumentContainer::make(archive);
        container->addDataSource(editor.source, "design/document.json");
        return container;
    }
    fs::path trash() const { return temp / ".local/share/Trash/files"; }
};

TEST_F(KVDocumentContainerPlaceTest, AFolderBackFromTheTrashIsWorkedInAgainWithWhatItsWorkingCopyAdded)
{
    const fs::path project = temp / "Undone";
    writeProject(project);
    Editor editor;
    auto container = inPlace(project, editor);
    container->read(*container->projectDirectoryArchive(), KVDocumentContainer::ArchiveRelation::origin(false));

    // In the Trash and back before a working copy was taken: the same container writes there
    // again, under a lock of its own.
    fs::create_directories(trash());
    fs::rename(project, trash() / "Undone");
    container->projectDirectoryDidGo(trash() / "Undone");
    fs::rename(trash() / "Undone", project);
    container->projectDirectoryDidComeBack(project);
    EXPECT_FALSE(container->projectDirectoryIsGone());
    editor.edit("{\"version\": 0, \"title\": \"back\"}");
    EXPECT_FALSE(writeChanges(*container));
    EXPECT_EQ(readFile(project / "design/document.json"), "{\"version\": 0, \"title\": \"back\"}");
    EXPECT_EQ(readFile(project / ".korvel-lock"), std::to_string(::getpid()));
    container->deleteContainer(false);
    drop(container);

    // A working copy that went on without the folder: its new image and asset, and a file it
    // changed, go into the folder; what else the folder has stays as it is, also what the copy
    // never knew of, and the document is the page's to write.
    Editor copyEditor;
    auto copy = makeContainer();
    copy->addDataSource(copyEditor.source, "design/document.json");
    copy->read(KVDocumentArchive(project, "com.korvel.projectfolder", false, std::nullopt, false), KVDocumentContainer::ArchiveRelation::copy());
    const std::string image = copy->addImage(imagefixtures::png(8, 8));
    const std::string asset = copy->addAsset("the notes", "notes.txt");
    writeFile(copy->projectDirectory() / "README.md", "# Changed in the copy\n");
    writeFile(copy->projectDirectory() / "design/document.json", "{\"version\": 0, \"title\": \"copy\"}");
    writeFile(copy->projectDirectory() / ".backups/old.json", "a backup of the copy's");
    writeFile(project / "mine.txt", "the user's");
    ASSERT_TRUE(kxtest::spinUntil([&] { return copy->pendingCachedImageJobs() == 0; }));

    const kx::FileDescriptor folder(::open(project.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    copy->handWorkOver(folder.get(), project, KVDocumentContainer::PageDocument::leftOut);
    EXPECT_EQ(readFile(project / "design/images" / image), imagefixtures::png(8, 8));
    EXPECT_EQ(readFile(project / asset), "the notes");
    EXPECT_EQ(readFile(project / "README.md"), "# Changed in the copy\n");
    EXPECT_EQ(readFile(project / "mine.txt"), "the user's");
    EXPECT_EQ(readFile(project / "design/document.json"), "{\"version\": 0, \"title\": \"back\"}");
    EXPECT_FALSE(fs::exists(project / ".backups/old.json"));
    // With the page's document, as a save writes the work there: that replaces the folder's.
    copy->handWorkOver(folder.get(), project, KVDocumentContainer::PageDocument::included);
    EXPECT_EQ(readFile(project / "design/document.json"), "{\"version\": 0, \"title\": \"copy\"}");
    EXPECT_EQ(readFile(project / "mine.txt"), "the user's");
    copy->deleteContainer(false);
    drop(copy);
}

TEST_F(KVDocumentContainerPlaceTest, WorkingFoldersThatNothingNamesGoAndTheOthersStay)
{
    const fs::path drafts = temp / "data/Drafts";
    const fs::path cache = temp / "cache";
    // A working folder that records `origin`, made for a moment so that it can be recorded.
    auto recording = [&](const fs::path& origin, bool keepOrigin) {
        const fs::path folder = cache / ("Autosave-" + kx::Uuid::make());
        writeFile(folder / "container/design/document.json", "{}");
        const bool existed = fs::exists(origin);
        if (!existed)
            writeFile(origin, "a package");
        kx::KVContainerOriginInfo info;
        info.bookmarkData = *kx::KVContainerOriginInfo::makeBookmark(origin);
        info.manifest = KVDocumentArchive::Manifest{kx::Uuid::make(), std::nullopt};
        info.modificationDate = kx::DateFormat::Clock::now();
        writeFile(folder / "info", KVDocumentArchive::encode(info.toJSON()));
        if (!existed && !keepOrigin)
            fs::remove(origin);
        return folder;
    };
    const fs::path mirrorsNothing = cache / ("Autosave-" + kx::Uuid::make());
    writeFile(mirrorsNothing / "container/design/images/a.png", "an image");
    const fs::path draftGone = recording(drafts / "Lost (1A2B3C4D).korvelx", false);
    const fs::path draftKept = recording(drafts / "Kept (1A2B3C4D).korvelx", true);
    const fs::path packageAway = recording(temp / "usb/Project.korvelx", false);
    const fs::path setAsideBefore = cache / ".Unnamed-0B6D8C55-3A2C-4E43-9D1A-5E0F5A6C7B8D";
    writeFile(setAsideBefore / "container/x", "x");
    auto live = makeContainer();
    writeFile(cache / "Autosave-not-a-uuid/x", "x");
    // The work of a folder that came back, not handed over yet: also when nothing else names it.
    const fs::path awaiting = cache / ("Autosave-" + kx::Uuid::make());
    writeFile(awaiting / "container/design/document.json", "{}");
    writeFile(awaiting / "awaits", "{\"folder\": \"/nowhere/Undone\"}");

    KVDocumentContainer::removeUnnamedWorkingFolders(drafts);
    // Removed by background work, which yields to everything else a busy machine runs.
    EXPECT_TRUE(kxtest::spinUntil([&] {
        std::error_code ec;
        for (const auto& item : fs::directory_iterator(cache, ec))
            if (item.path().filename().string().starts_with(".Unnamed-"))
                return false;
        return !fs::exists(mirrorsNothing) && !fs::exists(draftGone) && !fs::exists(setAsideBefore);
    }, std::chrono::seconds(30)));
    EXPECT_TRUE(fs::exists(draftKept / "container/design/document.json"));
    EXPECT_TRUE(fs::exists(packageAway / "container/design/document.json"));
    EXPECT_TRUE(fs::exists(live->uuidDirectory()));
    EXPECT_TRUE(fs::exists(awaiting / "container/design/document.json"));
    EXPECT_TRUE(fs::exists(cache / "Autosave-not-a-uuid/x"));
    live->deleteContainer(false);
    drop(live);
}

} // namespace
