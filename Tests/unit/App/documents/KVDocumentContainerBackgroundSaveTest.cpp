// Saving in the background: the package is written while the main loop turns, a container
// closed meanwhile records no origin, and a failed save leaves the package as it was.
#include "unit/App/documents/ContainerTestSupport.h"

#include "App/archive/KVDocumentArchiveError.h"

using namespace kx;

namespace {

using namespace containertest;

class KVDocumentContainerBackgroundSave : public ContainerTest {
protected:
    // Saves in the background and counts the main loop's turns meanwhile.
    std::exception_ptr save(KVDocumentContainer& container, const std::shared_ptr<KVDocumentArchive>& archive, int* turns = nullptr)
    {
        // Shared with the completion, which may come after a wait that gave up.
        struct Outcome {
            int calls = 0;
            std::exception_ptr failure;
        };
        auto outcome = std::make_shared<Outcome>();
        container.saveInBackground(archive, KVDocumentContainer::ArchiveRelation::origin(false), [outcome](std::exception_ptr error) {
            outcome->failure = error;
            ++outcome->calls;
        });
        // The condition is asked once before the loop turns and once after each turn.
        int asked = 0;
        EXPECT_TRUE(kxtest::spinUntil([&] {
            ++asked;
            return outcome->calls > 0;
        }, std::chrono::seconds(60))) << "the background save did not end";
        if (turns)
            *turns = asked - 1;
        kxtest::spinFor(std::chrono::milliseconds(20));
        EXPECT_EQ(outcome->calls, 1);
        return outcome->failure;
    }
};

TEST_F(KVDocumentContainerBackgroundSave, ThePackageIsWrittenWhileTheMainLoopTurnsAndItsOriginRecorded)
{
    writeProject(temp / "project");
    for (int i = 0; i < 40; ++i)
        writeFile(temp / "project/design/images" / ("image" + std::to_string(i) + ".png"), std::string(200'000, char('a' + i % 26)));
    const auto zip = makeZip(temp / "project", temp / "project.korvelx");
    auto archive = std::make_shared<KVDocumentArchive>(zip, "com.korvel.projectzip", false, std::nullopt, true);
    Editor editor;
    auto container = makeContainer(archive->uuid(), zip);
    container->addDataSource(editor.source, "design/document.json");
    container->read(*archive, KVDocumentContainer::ArchiveRelation::origin(false));
    editor.edit("{\"version\": 0, \"title\": \"two\"}");
    ASSERT_FALSE(writeChanges(*container));

    int turns = 0;
    EXPECT_FALSE(save(*container, archive, &turns));
    EXPECT_GT(turns, 0);
    KVDocumentArchive saved(zip, "com.korvel.projectzip", false, std::nullopt, true);
    EXPECT_EQ(saved.manifest(), archive->manifest());
    EXPECT_TRUE(fs::exists(container->uuidDirectory() / "info"));
    // Opened again, the working copy is known to mirror the file.
    container->mark(false);
    EXPECT_FALSE(container->hasChanges());
    drop(container);
}

TEST_F(KVDocumentContainerBackgroundSave, AContainerClosedDuringTheSaveRecordsNoOrigin)
{
    writeProject(temp / "project");
    Editor editor;
    auto container = makeContainer();
    container->addDataSource(editor.source, "design/document.json");
    KVDocumentArchive source(temp / "project", "com.korvel.projectfolder", false, std::nullopt, false);
    container->read(source, KVDocumentContainer::ArchiveRelation::copy());
    auto archive = std::make_shared<KVDocumentArchive>(temp / "out.korvelx", "com.korvel.projectzip", true, std::nullopt, true);
    bool done = false;
    container->saveInBackground(archive, KVDocumentContainer::ArchiveRelation::origin(false), [&](std::exception_ptr) { done = true; });
    container->invalidate();
    ASSERT_TRUE(kxtest::spinUntil([&] { return done; }));
    EXPECT_FALSE(fs::exists(container->uuidDirectory() / "info"));
    drop(container);
}

TEST_F(KVDocumentContainerBackgroundSave, AFailedSaveLeavesThePackageAsItWas)
{
    writeProject(temp / "project");
    const auto zip = makeZip(temp / "project", temp / "project.korvelx");
    const auto before = readFile(zip);
    Editor editor;
    auto container = makeContainer();
    container->addDataSource(editor.source, "design/document.json");
    KVDocumentArchive source(temp / "project", "com.korvel.projectfolder", false, std::nullopt, false);
    container->read(source, KVDocumentContainer::ArchiveRelation::copy());
    // A name that no package may hold makes the writer refuse before it writes anything.
    writeFile(container->projectDirectory() / "code/back\\slash.js", "x");
    auto archive = std::make_shared<KVDocumentArchive>(zip, "com.korvel.projectzip", false, std::nullopt, true);
    auto failure = save(*container, archive);
    ASSERT_TRUE(failure);
    EXPECT_THROW(std::rethrow_exception(failure), KVDocumentArchiveError);
    EXPECT_EQ(readFile(zip), before);
    drop(container);
}

} // namespace
