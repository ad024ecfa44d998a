// A document's preview as the window tests need it: the real project server over a project of
// the test's own, the real editor page in its window (whose selection reaches the server), and
// a document that offers both to a preview window controller.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "App/preview/PreviewDocument.h"
#include "App/preview/PreviewWindowController.h"
#include "App/server/ServerController.h"
#include "gui/App/editor/EditorPage.h"
#include "Platform/UI/Responder.h"
#include "support/PageScript.h"
#include "support/ProjectServerSetup.h"

namespace kxtest {

inline constexpr auto previewTimeout = std::chrono::seconds(30);

// The document's side of the responder chain: it counts the saves it is asked for.
class SavingResponder : public kx::Responder {
public:
    SavingResponder()
    {
        addAction("saveDocument:", [this](Sender) { ++saves; });
    }
    int saves = 0;
};

class TestPreviewDocument : public kx::PreviewDocument {
public:
    std::string displayName() const override { return name; }
    kx::ServerController* serverController() const override { return server; }
    kx::BaseNimbetViewController* nimbetViewController() const override { return editor; }
    GtkWindow* documentWindow() const override { return window; }
    std::optional<std::string> serverLocalUrl() const override { return server ? server->currentServerURL() : std::nullopt; }
    std::optional<std::string> serverURL() const override { return server ? server->currentServerURL() : std::nullopt; }
    void addPackage(const std::string& name, bool isDevDependency) override
    {
        packages.emplace_back(name, isDevDependency);
    }
    kx::Responder* responder() const override { return const_cast<SavingResponder*>(&saving); }

    std::string name = "Landing Page";
    kx::ServerController* server = nullptr;
    kx::BaseNimbetViewController* editor = nullptr;
    GtkWindow* window = nullptr;
    SavingResponder saving;
    std::vector<std::pair<std::string, bool>> packages;
};

// Frames of the test project: "home" on the phone with skin and hand, "tablet" and "watch" on
// the other stand-in devices, "broken" whose prototype throws.
inline const char* previewProject = R"json({"version": 1, "frames": [
  {"id": "home", "name": "Home", "text": "Welcome to the prototype",
   "preview": {"deviceType": "korvel-phone", "skin": "graphite", "hand": "right", "bezel": true}},
  {"id": "tablet", "name": "Tablet", "text": "A wider screen", "preview": {"deviceType": "korvel-tablet", "skin": "silver"}},
  {"id": "watch", "name": "Watch", "text": "12:00", "preview": {"deviceType": "korvel-watch", "skin": "midnight"}},
  {"id": "plain", "name": "Plain", "text": "No frame", "preview": {"deviceType": "korvel-phone", "bezel": false}},
  {"id": "broken", "name": "Broken", "text": "Throws", "script": "throw new Error('prototype failed')"}
]})json";

class PreviewFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        KX_REQUIRE_PROJECT_SERVER();
        useStandInEditor();
        std::filesystem::create_directories(folder / "project" / "design");
        std::ofstream(folder / "project" / "design" / "document.json") << previewProject;

        auto configuration = projectServerConfiguration(folder.path());
        // The editor page, served by the local web server, reads the project's files.
        configuration.corsPorts = {kx::AppServer::shared()->port()};
        server = std::make_unique<kx::ServerController>(configuration);
        std::optional<std::optional<std::string>> url;
        server->start(token, [&](std::optional<std::string> u) { url = u; });
        ASSERT_TRUE(spinUntil([&] { return url.has_value(); }, previewTimeout));
        ASSERT_TRUE(url->has_value());
        server->setProjectDir(folder / "project");
        ASSERT_TRUE(spinUntil([&] { return server->state() && server->state()->doneFirstInstall; }, previewTimeout));

        editor = std::make_unique<EditorWindow>(false, token);
        gtk_window_move(GTK_WINDOW(editor->window), 40, 40);
        gtk_window_resize(GTK_WINDOW(editor->window), 900, 700);
        editor->openProject(**url);

        document = std::make_shared<TestPreviewDocument>();
        document->server = server.get();
        document->editor = editor->controller.get();
        document->window = GTK_WINDOW(editor->window);
    }

    void TearDown() override
    {
        if (controller)
            controller->cleanup();
        controller.reset();
        editor.reset();
        if (server)
            server->stop();
    }

    // Selects a frame in the editor, which pushes the selection through the project server.
    void select(const std::string& frame)
    {
        editor->evaluate("window.nimbet.state.selectedId = " + json(frame).dump() +
                         "; window._ipc.emit('SetPreviewSelectionLock', false)");
    }
    void waitForSelection(const std::string& frame)
    {
        ASSERT_TRUE(spinUntil([&] { return controller->selectionId() == frame; }, previewTimeout)) << frame;
    }

    // Selects a frame and waits until the preview has its device.
    void selectWithDevice(const std::string& frame)
    {
        select(frame);
        waitForSelection(frame);
        ASSERT_TRUE(spinUntil([&] { return controller->deviceDescriptor() != nullptr; }, previewTimeout)) << frame;
    }

    void makeController()
    {
        controller = kx::PreviewWindowController::make(document);
    }
    kx::WebViewController& page() { return controller->korvelViewController()->webViewController(); }
    GtkWidget* pageView() { return controller->korvelViewController()->view(); }
    bool pageIsShown() { return gtk_widget_get_opacity(pageView()) >= 1.0; }
    // The page's value of `script`, waited for.
    json evaluateInPage(const std::string& script, kxtest::SourceLocation where = kxtest::SourceLocation::current())
    {
        return kxtest::evaluateInPage(page(), script, previewTimeout, where);
    }

    TemporaryDirectory folder;
    std::string token = "5B1E0C7A-PREVIEW-TOKEN";
    std::unique_ptr<kx::ServerController> server;
    std::unique_ptr<EditorWindow> editor;
    std::shared_ptr<TestPreviewDocument> document;
    std::shared_ptr<kx::PreviewWindowController> controller;
};

} // namespace kxtest
