// The general document machinery with a plain text document: change counts and the autosave
// timer, drafts of untitled documents, writing safely, following a renamed file, closing every
// document, and the documents kept for the next launch.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "Platform/Documents/DocumentControllerBase.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/UI/Alert.h"
#include "gui/App/documents/DocumentTestEnvironment.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace {

using namespace std::chrono_literals;
using kxtest::FakeDocumentClock;
using kxtest::readFile;
using kxtest::spinFor;
using kxtest::spinUntil;
using kxtest::writeFile;
namespace fs = std::filesystem;

class TextDocument final : public kx::Document {
public:
    static std::shared_ptr<TextDocument> make() { return std::shared_ptr<TextDocument>(new TextDocument()); }
    void read(const Path& url, const std::string&) override
    {
        auto content = kx::FileSystem::readFile(url);
        if (!content)
            throw kx::Error("Test", 1, "unreadable");
        text = *content;
    }
    void write(const Path& url, const std::string&) override
    {
        if (failWrites)
            throw kx::Error("Test", 2, "The disk is full.");
        std::ofstream(url, std::ios::binary) << text;
    }
    bool autosavesInPlace() const override { return inPlace; }
    void makeWindowControllers() override
    {
        if (windows().empty())
            addWindow(std::make_shared<kx::Window>(kx::Size{300, 200}));
    }
    nlohmann::json encodeRestorableState() const override { return windowState; }
    void restoreState(const nlohmann::json& state) override { restoredState = state; }
    void edit(const std::string& newText)
    {
        text = newText;
        updateChangeCount(kx::ChangeKind::done);
    }

    std::string text;
    nlohmann::json windowState;   // what its windows keep for the next launch
    nlohmann::json restoredState; // what they were given back
    bool inPlace = true;
    bool failWrites = false;

private:
    TextDocument() = default;
};

class TextController final : public kx::DocumentControllerBase {
public:
    TextController()
        : DocumentControllerBase(kx::DocumentTypeTable({{"com.example.text", "Text", {"txt"}, kx::DocumentType::Kind::file, true, {}}}))
    {
    }
    std::shared_ptr<kx::Document> makeUntitledDocumentOfType(const std::string& type) override
    {
        auto document = TextDocument::make();
        document->setFileType(type);
        return document;
    }
    std::shared_ptr<kx::Document> makeDocumentWithContentsOfURL(const Path& url, const std::string& type) override
    {
        auto document = TextDocument::make();
        document->read(url, type);
        document->setFileType(type);
        document->setFileURL(url);
        document->setFileIdentity(kx::FileIdentity::of(url));
        return document;
    }
    std::shared_ptr<kx::Document> makeDocumentForURL(const std::optional<Path>& url, const Path& contents, const std::string& type) override
    {
        auto document = TextDocument::make();
        document->read(contents, type);
        document->setFileType(type);
        document->setFileURL(url);
        if (!url) {
            document->setAutosavedContentsFileURL(contents);
            document->updateChangeCount(kx::ChangeKind::done);
        }
        return document;
    }
};

class DocumentGui : public ::testing::Test {
protected:
    void SetUp() override
    {
        kx::DocumentClock::setSharedForTesting(clock);
        controller = std::make_unique<TextController>();
        controller->setDataDirectoryForTesting(folder / "data");
        controller->setPanelRunnerForTesting([this](const kx::DocumentControllerBase::PanelRequest&) {
            kx::DocumentControllerBase::PanelResult result;
            if (saveTo)
                result = {{*saveTo}, "com.example.text"};
            return result;
        });
    }
    void TearDown() override
    {
        for (auto& alert : kx::Alert::shownAlerts())
            gtk_button_clicked(GTK_BUTTON(alert->buttons().back()->widget()));
        for (const auto& document : std::vector(controller->documents()))
            document->close();
        controller.reset();
        kx::DocumentClock::setSharedForTesting(nullptr);
    }
    std::shared_ptr<TextDocument> untitled()
    {
        return std::static_pointer_cast<TextDocument>(controller->openUntitledDocumentAndDisplay(false));
    }
    std::shared_ptr<TextDocument> open(const fs::path& url)
    {
        std::shared_ptr<kx::Document> result;
        controller->openDocumentWithContentsOfURL(url, false, [&](auto document, bool, auto) { result = document; });
        return std::static_pointer_cast<TextDocument>(result);
    }
    std::vector<fs::path> drafts()
    {
        std::vector<fs::path> found;
        std::error_code ec;
        for (const auto& item : fs::directory_iterator(controller->draftsDirectory(), ec))
            found.push_back(item.path());
        return found;
    }
    bool answer(const std::string& title)
    {
        if (!spinUntil([] { return !kx::Alert::shownAlerts().empty(); }))
            return false;
        auto alert = kx::Alert::shownAlerts().back();
        for (auto* button : alert->buttons())
            if (button->title() == title) {
                gtk_button_clicked(GTK_BUTTON(button->widget()));
                return true;
            }
        return false;
    }

    kxtest::TemporaryDirectory folder;
    std::shared_ptr<FakeDocumentClock> clock = std::make_shared<FakeDocumentClock>();
    std::unique_ptr<TextController> controller;
    std::optional<fs::path> saveTo;
};

TEST_F(DocumentGui, AnEditedUntitledDocumentIsDraftedOnTheClockAndItsDraftGoesWhenSaved)
{
    auto document = untitled();
    EXPECT_EQ(document->displayName(), "Untitled");
    // Named as an example is, until it has a file.
    document->setDisplayName("An example");
    document->edit("draft one");
    EXPECT_TRUE(document->isDocumentEdited());
    clock->advance(59s);
    EXPECT_TRUE(drafts().empty());
    clock->advance(1s);
    ASSERT_EQ(drafts().size(), 1u);
    EXPECT_EQ(readFile(drafts()[0]), "draft one");
    EXPECT_TRUE(document->isDocumentEdited());
    EXPECT_FALSE(document->hasUnautosavedChanges());
    EXPECT_EQ(clock->pendingCount(), 0u);

    document->edit("draft two");
    clock->advance(60s);
    ASSERT_EQ(drafts().size(), 1u);
    EXPECT_EQ(readFile(drafts()[0]), "draft two");

    saveTo = folder / "Saved.txt";
    bool saved = false;
    document->saveDocument([&](std::optional<kx::Error> error) { saved = !error; });
    ASSERT_TRUE(saved);
    EXPECT_EQ(readFile(folder / "Saved.txt"), "draft two");
    EXPECT_TRUE(drafts().empty());
    EXPECT_FALSE(document->isDocumentEdited());
    EXPECT_EQ(document->displayName(), "Saved");
}

TEST_F(DocumentGui, ChangesMadeWhileSavingStayCounted)
{
    writeFile(folder / "a.txt", "one");
    auto document = open(folder / "a.txt");
    ASSERT_TRUE(document);
    document->edit("two");
    const auto token = document->changeCountToken();
    document->edit("three");
    document->updateChangeCount(token, kx::SaveOperation::save);
    EXPECT_TRUE(document->isDocumentEdited());
    document->updateChangeCount(document->changeCountToken(), kx::SaveOperation::save);
    EXPECT_FALSE(document->isDocumentEdited());
}

TEST_F(DocumentGui, AFailedAutosaveIsTriedAgainLater)
{
    writeFile(folder / "a.txt", "one");
    auto document = open(folder / "a.txt");
    document->failWrites = true;
    document->edit("two");
    clock->advance(60s);
    EXPECT_EQ(readFile(folder / "a.txt"), "one");
    EXPECT_TRUE(document->isDocumentEdited());
    EXPECT_EQ(clock->pendingCount(), 1u);
    document->failWrites = false;
    clock->advance(60s);
    EXPECT_EQ(readFile(folder / "a.txt"), "two");
    EXPECT_FALSE(document->isDocumentEdited());
    // Nothing is written the next minute: there is nothing to write.
    EXPECT_EQ(clock->pendingCount(), 0u);
}

TEST_F(DocumentGui, WritingSafelyReplacesTheFileWholeAndLeavesNoTemporaryFile)
{
    writeFile(folder / "a.txt", "old");
    auto document = open(folder / "a.txt");
    document->text = std::string(1 << 20, 'x');
    document->writeSafely(folder / "a.txt", "com.example.text", kx::SaveOperation::save);
    EXPECT_EQ(readFile(folder / "a.txt").size(), std::size_t(1) << 20);
    document->failWrites = true;
    EXPECT_THROW(document->writeSafely(folder / "a.txt", "com.example.text", kx::SaveOperation::save), kx::Error);
    EXPECT_EQ(readFile(folder / "a.txt").size(), std::size_t(1) << 20);
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder.path()))
        names.push_back(item.path().filename().string());
    EXPECT_EQ(names.size(), 2u) << "only a.txt and the data folder";
}

TEST_F(DocumentGui, ARenamedFileKeepsItsDocumentButAFileMovedOntoItIsNoRename)
{
    writeFile(folder / "a.txt", "one");
    auto document = open(folder / "a.txt");
    writeFile(folder / "other.txt", "other");
    fs::rename(folder / "other.txt", folder / "a.txt");
    spinFor(200ms);
    EXPECT_EQ(document->fileURL(), folder / "a.txt");
    fs::rename(folder / "a.txt", folder / "b.txt");
    ASSERT_TRUE(spinUntil([&] { return document->fileURL() == folder / "b.txt"; }));
    EXPECT_EQ(document->displayName(), "b");
    // It keeps following.
    fs::rename(folder / "b.txt", folder / "c.txt");
    ASSERT_TRUE(spinUntil([&] { return document->fileURL() == folder / "c.txt"; }));
}

TEST_F(DocumentGui, ClosingEveryDocumentStopsAtTheFirstThatStays)
{
    auto first = untitled();
    auto second = untitled();
    first->edit("keep me");
    bool result = true;
    bool done = false;
    controller->closeAllDocuments([&](bool allClosed) {
        result = allClosed;
        done = true;
    });
    ASSERT_TRUE(answer("Cancel"));
    ASSERT_TRUE(spinUntil([&] { return done; }));
    EXPECT_FALSE(result);
    EXPECT_FALSE(first->isClosed());
    EXPECT_FALSE(second->isClosed());

    done = false;
    controller->closeAllDocuments([&](bool allClosed) {
        result = allClosed;
        done = true;
    });
    ASSERT_TRUE(answer("Delete"));
    ASSERT_TRUE(spinUntil([&] { return done; }));
    EXPECT_TRUE(result);
    EXPECT_TRUE(controller->documents().empty());
}

TEST_F(DocumentGui, EachAnswerToTheQuestionsBeforeClosingDoesWhatItSays)
{
    std::optional<bool> result;
    auto ask = [&](kx::Document& document, const std::string& button) {
        result.reset();
        document.canClose([&](bool shouldClose) { result = shouldClose; });
        return answer(button) && spinUntil([&] { return result.has_value(); });
    };

    // A file whose edits are not autosaved in place: save them, or not.
    writeFile(folder / "a.txt", "one");
    auto titled = open(folder / "a.txt");
    titled->inPlace = false;
    titled->edit("two");
    ASSERT_TRUE(ask(*titled, "Cancel"));
    EXPECT_FALSE(*result);
    EXPECT_TRUE(titled->isDocumentEdited());
    ASSERT_TRUE(ask(*titled, "Don't Save"));
    EXPECT_TRUE(*result);
    EXPECT_EQ(readFile(folder / "a.txt"), "one");
    ASSERT_TRUE(ask(*titled, "Save"));
    EXPECT_TRUE(*result);
    EXPECT_EQ(readFile(folder / "a.txt"), "two");
    EXPECT_FALSE(titled->isDocumentEdited());

    // An untitled document with a draft: saved where the panel says, or deleted with its draft.
    auto kept = untitled();
    kept->edit("kept");
    clock->advance(60s);
    ASSERT_EQ(drafts().size(), 1u);
    saveTo = folder / "Kept.txt";
    ASSERT_TRUE(ask(*kept, "Save\u2026"));
    EXPECT_TRUE(*result);
    EXPECT_EQ(readFile(folder / "Kept.txt"), "kept");
    EXPECT_TRUE(drafts().empty());

    auto dropped = untitled();
    dropped->edit("dropped");
    clock->advance(60s);
    ASSERT_EQ(drafts().size(), 1u);
    ASSERT_TRUE(ask(*dropped, "Delete"));
    EXPECT_TRUE(*result);
    EXPECT_TRUE(drafts().empty());
    EXPECT_FALSE(dropped->autosavedContentsFileURL());
    EXPECT_FALSE(dropped->isClosed()); // the answer lets it go; closing is the caller's
}

TEST_F(DocumentGui, TheNextLaunchReopensFilesAndDraftsButNothingOutsideTheDraftsFolder)
{
    writeFile(folder / "a.txt", "file");
    auto file = open(folder / "a.txt");
    file->windowState = {{"frame", {1, 2, 3, 4}}};
    auto draft = untitled();
    draft->edit("unsaved");
    draft->windowState = {{"visible", true}};
    ASSERT_TRUE(controller->reviewDocumentsBeforeQuitting());
    ASSERT_EQ(drafts().size(), 1u);
    // A draft the list lost (a crash), and a list entry pointing elsewhere.
    writeFile(controller->draftsDirectory() / "Lost (12345678).txt", "lost");
    writeFile(folder / "outside.txt", "someone else's");
    auto state = nlohmann::json::parse(readFile(controller->restorationStateFile()));
    state["documents"].push_back({{"draft", (folder / "outside.txt").string()}, {"type", "com.example.text"}});
    kxtest::writeFile(controller->restorationStateFile(), state.dump());
    file.reset();
    draft.reset();

    controller.reset();
    controller = std::make_unique<TextController>();
    controller->setDataDirectoryForTesting(folder / "data");
    std::vector<std::shared_ptr<kx::Document>> restored;
    controller->restoreDocuments([&](auto documents) { restored = documents; });
    std::map<std::string, std::string> texts;
    std::map<std::string, nlohmann::json> windows;
    for (const auto& document : restored) {
        texts[document->displayName()] = std::static_pointer_cast<TextDocument>(document)->text;
        windows[document->displayName()] = std::static_pointer_cast<TextDocument>(document)->restoredState;
    }
    EXPECT_EQ(texts, (std::map<std::string, std::string>{{"a", "file"}, {"Untitled", "unsaved"}, {"Lost", "lost"}}));
    // Each document's windows get back what they kept, files and drafts alike.
    EXPECT_EQ(windows["a"], nlohmann::json({{"frame", {1, 2, 3, 4}}}));
    EXPECT_EQ(windows["Untitled"], nlohmann::json({{"visible", true}}));
    EXPECT_TRUE(windows["Lost"].is_null());
    EXPECT_EQ(readFile(folder / "outside.txt"), "someone else's");

    // A broken list is no reason not to start.
    kxtest::writeFile(controller->restorationStateFile(), "{ not json");
    for (const auto& document : restored)
        document->close();
    controller->restoreDocuments();
    const std::string empty = readFile(controller->restorationStateFile());
    EXPECT_EQ(nlohmann::json::parse(empty)["documents"], nlohmann::json::array());

    // A launch with nothing to bring back leaves the unchanged list as it is: not written (and
    // synced) again.
    struct stat before {};
    ASSERT_EQ(::stat(controller->restorationStateFile().c_str(), &before), 0);
    controller.reset();
    controller = std::make_unique<TextController>();
    controller->setDataDirectoryForTesting(folder / "data");
    controller->restoreDocuments();
    struct stat after {};
    ASSERT_EQ(::stat(controller->restorationStateFile().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(readFile(controller->restorationStateFile()), empty);
}

} // namespace
