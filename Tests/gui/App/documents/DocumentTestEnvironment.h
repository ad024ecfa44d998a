// The common ground of the document window tests: a document controller of their own over
// temporary working, data and cache folders, the stand-in editor page, the real project server
// (Node.js), a clock the test moves by hand, and the user's side: typing into the editor,
// answering alerts and panels.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "App/account/KorvelTracking.h"
#include "App/archive/KVDirectoryArchiveBacking.h"
#include "App/archive/KVDocumentArchive.h"
#include "App/documents/container/KVDocumentContainer.h"
#include "App/documents/DocumentController.h"
#include "App/documents/KVDocument.h"
#include "gui/App/editor/EditorPage.h"
#include "Platform/Documents/DocumentClock.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Workspace.h"
#include "support/ChildProcess.h"
#include "support/PageScript.h"
#include "support/ProjectServerSetup.h"
#include "support/TestPaths.h"
#include "unit/App/documents/ImageFixtures.h"

namespace kxtest {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A clock that stands still until the test moves it; its timers fire as it passes them.
class FakeDocumentClock final : public kx::DocumentClock {
public:
    class Timer final : public kx::MainQueue::Timer {
    public:
        void cancel() override { cancelled = true; }
        bool isCancelled() const override { return cancelled; }
        bool cancelled = false;
    };

    TimePoint now() const override { return now_; }
    std::shared_ptr<kx::MainQueue::Timer> after(Duration delay, std::function<void()> work) override
    {
        auto timer = std::make_shared<Timer>();
        requested.push_back(delay);
        pending_.push_back({now_ + delay, std::move(work), timer});
        return timer;
    }
    // Moves on by `duration`; timers that came due run in the order they are due.
    void advance(Duration duration)
    {
        now_ += duration;
        for (;;) {
            auto due = pending_.end();
            for (auto it = pending_.begin(); it != pending_.end(); ++it)
                if (it->at <= now_ && (due == pending_.end() || it->at < due->at))
                    due = it;
            if (due == pending_.end())
                return;
            auto entry = std::move(*due);
            pending_.erase(due);
            if (!entry.timer->cancelled) {
                entry.timer->cancelled = true;
                entry.work();
            }
        }
    }
    std::size_t pendingCount() const
    {
        std::size_t count = 0;
        for (const auto& entry : pending_)
            count += entry.timer->cancelled ? 0 : 1;
        return count;
    }
    std::vector<Duration> requested;

private:
    struct Entry {
        TimePoint at;
        std::function<void()> work;
        std::shared_ptr<Timer> timer;
    };
    TimePoint now_ = std::chrono::steady_clock::now();
    std::vector<Entry> pending_;
};

inline std::string readFile(const fs::path& path)
{
    return kx::FileSystem::readFile(path).value_or("");
}

// The document JSON of a project package (zip or folder) as stored.
inline std::string storedDocument(const fs::path& package)
{
    kx::KVDocumentArchive archive(package, fs::is_directory(package) ? "com.korvel.projectfolder" : "com.korvel.projectzip", false,
                                  std::nullopt, false);
    std::string content;
    auto reader = archive.backing()->dataReader("design/document.json");
    for (auto chunk = reader->read(); !chunk.empty(); chunk = reader->read())
        content.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    return content;
}

// A project package made from files: a zip with its manifest, or a folder.
inline void makeProject(const fs::path& package, const std::map<std::string, std::string>& files, bool asFolder = false)
{
    TemporaryDirectory staging;
    for (const auto& [path, content] : files)
        writeFile(staging / path, content);
    auto source = std::make_shared<kx::KVDocumentArchive>(std::make_shared<kx::KVDirectoryArchiveBacking>(staging.path(), false, false),
                                                          std::nullopt);
    source->regenerateManifest();
    kx::KVDocumentArchive target(package, asFolder ? "com.korvel.projectfolder" : "com.korvel.projectzip", true, std::nullopt, !asFolder);
    target.reflect(*source);
}

inline std::string frameDocument(const std::string& text, int version = 1)
{
    return nlohmann::json({{"version", version}, {"frames", {{{"id", "a"}, {"name", "Home"}, {"text", text}}}}}).dump();
}

// A second instance of the application (the test helper) holding a project until it goes.
class SecondInstance {
public:
    explicit SecondInstance(std::vector<std::string> arguments)
        : process_(withHelper(std::move(arguments)))
    {
        firstLine = process_.readLine().value_or("");
    }
    std::string firstLine;

private:
    static std::vector<std::string> withHelper(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), kxtest::testHelperProgram());
        return arguments;
    }
    kxtest::ChildProcess process_;
};

class DocumentGuiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KX_REQUIRE_PROJECT_SERVER();
        useStandInEditor();
        kx::KVDocumentContainer::setBaseDirectoryForTesting(folder / "cache");
        kx::UserDefaults::standard().setBool(kx::KorvelTracking::trackingDisabledKey, true);
        clock = std::make_shared<FakeDocumentClock>();
        kx::DocumentClock::setSharedForTesting(clock);
        makeController();
        controller->setPanelRunnerForTesting([this](const kx::DocumentControllerBase::PanelRequest& request) {
            panelRequests.push_back(request);
            kx::DocumentControllerBase::PanelResult result;
            if (!panelAnswers.empty()) {
                result = panelAnswers.front();
                panelAnswers.erase(panelAnswers.begin());
            }
            return result;
        });
        kx::Workspace::shared().setURLOpenerForTesting([this](const std::string& url) {
            opened.push_back(url);
            return true;
        });
    }

    // The application's document controller, over the test's data folder.
    void makeController()
    {
        controller = std::make_unique<kx::DocumentController>();
        controller->setDataDirectoryForTesting(folder / "data");
        controller->shouldOpenDocuments = [] { return true; };
    }
    // The next launch: a new controller restores the documents that were open.
    std::vector<std::shared_ptr<kx::Document>> relaunch()
    {
        controller.reset();
        makeController();
        std::vector<std::shared_ptr<kx::Document>> restored;
        controller->restoreDocuments([&](auto documents) { restored = documents; });
        return restored;
    }

    void TearDown() override
    {
        // Whatever alert a failed test left, and every document, go.
        for (auto& alert : kx::Alert::shownAlerts())
            if (auto* button = alert->buttons().empty() ? nullptr : alert->buttons().back())
                gtk_button_clicked(GTK_BUTTON(button->widget()));
        if (controller) {
            for (const auto& document : std::vector(controller->documents()))
                document->close();
            settle();
            controller.reset();
        }
        kx::Workspace::shared().setURLOpenerForTesting(nullptr);
        kx::DocumentClock::setSharedForTesting(nullptr);
        kx::DocumentControllerBase::setOptionKeyIsDownForTesting(std::nullopt);
        kx::KVDocumentContainer::setBaseDirectoryForTesting(std::nullopt);
    }

    std::shared_ptr<kx::KVDocument> newDocument()
    {
        return std::dynamic_pointer_cast<kx::KVDocument>(controller->openUntitledDocumentAndDisplay(true));
    }

    std::shared_ptr<kx::KVDocument> open(const fs::path& url)
    {
        struct Opening {
            bool done = false;
            std::shared_ptr<kx::Document> document;
            std::optional<kx::Error> failure;
        };
        auto opening = std::make_shared<Opening>();
        controller->openDocumentWithContentsOfURL(url, true, [opening](std::shared_ptr<kx::Document> document, bool,
                                                                       std::optional<kx::Error> error) {
            opening->document = std::move(document);
            opening->failure = std::move(error);
            opening->done = true;
        });
        EXPECT_TRUE(spinUntil([&] { return opening->done; })) << "the open did not end";
        lastOpenError = opening->failure;
        return std::dynamic_pointer_cast<kx::KVDocument>(opening->document);
    }

    // The editor page of the document, with the project shown.
    kx::WebViewController& page(kx::KVDocument& document) { return document.nimbetViewController()->webViewController(); }
    nlohmann::json evaluate(kx::KVDocument& document, const std::string& script,
                            kxtest::SourceLocation where = kxtest::SourceLocation::current())
    {
        return evaluateInPage(page(document), script, editorTimeout, where);
    }
    bool waitForEditor(kx::KVDocument& document)
    {
        return spinUntil([&] { return document.nimbetViewController()->isDocumentReady(); }, editorTimeout)
            && spinUntil([&] { return evaluate(document, "window.nimbet.state.document !== null") == true; }, editorTimeout);
    }
    nlohmann::json frames(kx::KVDocument& document) { return evaluate(document, "window.nimbet.state.document.frames"); }
    // Opens a new project of one frame with `text`, named `name`, and waits for its editor.
    std::shared_ptr<kx::KVDocument> openProject(const std::string& text, bool asFolder = false, const std::string& name = "Project")
    {
        const fs::path url = folder / (asFolder ? name : name + ".korvelx");
        makeProject(url, {{"design/document.json", frameDocument(text)}}, asFolder);
        auto document = open(url);
        EXPECT_TRUE(document) << (lastOpenError ? lastOpenError->localizedDescription : "");
        if (document) {
            EXPECT_TRUE(waitForEditor(*document));
        }
        return document;
    }
    // A folder project under version control, as one that others pull into is.
    std::shared_ptr<kx::KVDocument> openVersionedFolder(const std::string& text)
    {
        const fs::path url = folder / "Project";
        makeProject(url, {{"design/document.json", frameDocument(text)}}, true);
        fs::create_directories(url / ".git");
        auto document = open(url);
        EXPECT_TRUE(document && waitForEditor(*document));
        return document;
    }
    // Types into the text of the frame at `index`, as a user would.
    void typeText(kx::KVDocument& document, int index, const std::string& text)
    {
        evaluate(document, "(() => { const f = document.querySelectorAll('#frames textarea')[" + std::to_string(index)
                               + "]; f.focus(); f.value = " + nlohmann::json(text).dump()
                               + "; f.dispatchEvent(new Event('input')); f.blur(); })()");
        ASSERT_TRUE(spinUntil([&] { return document.isDocumentEdited() || document.isInTutorialMode(); }, editorTimeout));
    }

    fs::path trash() const { return fs::path(std::getenv("XDG_DATA_HOME")) / "Trash/files"; }
    // Puts the folder project in the Trash (the home's, or the "files" folder `trashFiles`
    // of its volume's), then adds an image (`awayImage`) and an edit that names it, kept in a
    // draft by an autosave.
    void trashAndEditWhileAway(kx::KVDocument& document, const fs::path& project, std::optional<fs::path> trashFiles = std::nullopt)
    {
        const fs::path files = trashFiles.value_or(trash());
        fs::create_directories(files);
        fs::rename(project, files / project.filename());
        ASSERT_TRUE(spinUntil([&] { return document.isFileGone() && !document.container()->projectDirectoryIsOrigin(); }));
        const auto image = document.nimbetDocumentDidReceiveImageData(imagefixtures::png(8, 8));
        ASSERT_TRUE(image);
        awayImage = *image;
        typeText(document, 0, "While away, with " + awayImage); // an image the document names
        ASSERT_FALSE(autosave(document));
    }
    std::string awayImage;
    // The folder project "Project" (see openVersionedFolder) edited while it was in the Trash,
    // then put back where it was.
    std::shared_ptr<kx::KVDocument> putBackAfterEditsAway(const std::string& text)
    {
        auto document = openVersionedFolder(text);
        if (!document)
            return nullptr;
        trashAndEditWhileAway(*document, folder / "Project");
        fs::rename(trash() / "Project", folder / "Project");
        EXPECT_TRUE(spinUntil([&] { return !document->isFileGone(); }));
        return document;
    }
    // The alert on screen, once there is one.
    std::shared_ptr<kx::Alert> waitForAlert(kxtest::SourceLocation where = kxtest::SourceLocation::current())
    {
        std::shared_ptr<kx::Alert> alert;
        const bool shown = spinUntil([&] {
            auto shown = kx::Alert::shownAlerts();
            if (!shown.empty())
                alert = shown.back();
            return alert != nullptr;
        }, std::chrono::seconds(10), where);
        if (!shown)
            ADD_FAILURE_AT(where.file_name(), int(where.line())) << "no alert came";
        return alert;
    }
    // Answers the alert on screen with the button of that title.
    bool answer(const std::string& title)
    {
        auto alert = waitForAlert();
        if (!alert)
            return false;
        for (auto* button : alert->buttons())
            if (button->title() == title) {
                gtk_button_clicked(GTK_BUTTON(button->widget()));
                EXPECT_TRUE(spinUntil([&] { return kx::Alert::shownAlerts().empty() || kx::Alert::shownAlerts().back() != alert; }))
                    << "the alert stayed after " << title;
                return true;
            }
        ADD_FAILURE() << "no button " << title << " in the alert " << alert->messageText();
        return false;
    }
    // The next save panel answers with `url` in `type`.
    void choose(const fs::path& url, const std::string& type = kx::DocumentController::projectZipTypeIdentifier)
    {
        kx::DocumentControllerBase::PanelResult result;
        result.urls = {url};
        result.type = type;
        panelAnswers.push_back(result);
    }
    // How a save ended; shared with its completion, which may come after the wait gave up.
    struct Outcome {
        bool done = false;
        std::optional<kx::Error> failure;
        void end(std::optional<kx::Error> error)
        {
            failure = std::move(error);
            done = true;
        }
    };
    // Saves and waits for the end.
    std::optional<kx::Error> saveAs(kx::KVDocument& document, const fs::path& url,
                                    const std::string& type = kx::DocumentController::projectZipTypeIdentifier)
    {
        choose(url, type);
        auto outcome = std::make_shared<Outcome>();
        document.saveDocumentAs([outcome](std::optional<kx::Error> error) { outcome->end(error); });
        EXPECT_TRUE(spinUntil([&] { return outcome->done; }, editorTimeout)) << "the save as did not end";
        return outcome->failure;
    }
    std::optional<kx::Error> autosave(kx::KVDocument& document, bool cancellable = false)
    {
        auto outcome = std::make_shared<Outcome>();
        document.autosave(cancellable, [outcome](std::optional<kx::Error> error) { outcome->end(error); });
        EXPECT_TRUE(spinUntil([&] { return outcome->done; }, editorTimeout)) << "the autosave did not end";
        return outcome->failure;
    }

    TemporaryDirectory folder;
    std::shared_ptr<FakeDocumentClock> clock;
    std::unique_ptr<kx::DocumentController> controller;
    std::vector<kx::DocumentControllerBase::PanelRequest> panelRequests;
    std::vector<kx::DocumentControllerBase::PanelResult> panelAnswers;
    std::vector<std::string> opened;
    std::optional<kx::Error> lastOpenError;
};

} // namespace kxtest
