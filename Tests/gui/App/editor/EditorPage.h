// Editor windows with the real editor page of Resources/Nimbet, served by the application's
// local web server, and a project whose files a local test server serves as the project
// server would: the common ground of the editor's window tests.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

#include "App/documents/DocumentJSONSource.h"
#include "App/editor/NimbetViewController.h"
#include "App/server/AppServer.h"
#include "App/shell/AppInfo.h"
#include "support/HttpServer.h"
#include "support/PageScript.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace kxtest {

using nlohmann::json;

inline constexpr auto editorTimeout = std::chrono::seconds(30);

// The editor folder of the application is this repository's stand-in editor, served by the
// process's one local web server (started once, kept for the run).
inline void useStandInEditor()
{
    static const bool started = [] {
        auto info = std::make_shared<kx::AppInfo>(kx::Bundle::main(), "Korvel X", std::nullopt,
                                                  testSourceDir().parent_path() / "Resources" / "Nimbet");
        kx::AppInfo::setCurrent(info);
        kx::AppServer::start();
        return kx::AppServer::shared() != nullptr;
    }();
    ASSERT_TRUE(started);
}

// One editor window.
struct EditorWindow {
    EditorWindow(bool tutorialMode = false, const std::string& token = "token-of-the-test")
        : controller(kx::NimbetViewController::make(tutorialMode, token))
    {
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
        gtk_container_add(GTK_CONTAINER(window), controller->view());
        gtk_widget_show_all(window);
    }
    ~EditorWindow()
    {
        controller.reset();
        gtk_widget_destroy(window);
    }
    EditorWindow(const EditorWindow&) = delete;
    EditorWindow& operator=(const EditorWindow&) = delete;

    // The script's value, waited for; "error: ..." when it threw.
    json evaluate(const std::string& script, kxtest::SourceLocation where = kxtest::SourceLocation::current())
    {
        return evaluateInPage(controller->webViewController(), script, editorTimeout, where);
    }
    // Waits for an asynchronous script (a promise) and returns what it settled with.
    json evaluateAsync(const std::string& promise)
    {
        evaluate("window.kxResult = undefined; Promise.resolve().then(() => " + promise +
                 ").then(v => { window.kxResult = {value: v === undefined ? null : v}; },"
                 " e => { window.kxResult = {error: e === undefined ? null : e}; })");
        EXPECT_TRUE(spinUntil([&] { return evaluate("window.kxResult !== undefined") == true; }, editorTimeout));
        return evaluate("window.kxResult");
    }
    // A page that never says so tells where it got to: its address, and whether its scripts ran.
    void waitUntilReady()
    {
        if (spinUntil([&] { return controller->isDocumentReady(); }, editorTimeout))
            return;
        const char* uri = webkit_web_view_get_uri(controller->webViewController().webView().wkWebView());
        FAIL() << "the editor page never said it was ready, at " << (uri ? uri : "no address") << ": "
               << evaluate("({readyState: document.readyState, services: typeof window.nimbetServices})").dump();
    }
    // Waits until the page shows the project's document.
    void openProject(const std::string& projectURL)
    {
        waitUntilReady();
        controller->updateProjectWithURL(projectURL);
        ASSERT_TRUE(spinUntil([&] { return evaluate("window.nimbet.state.document !== null") == true; }, editorTimeout));
    }
    json pageDocument() { return evaluate("window.nimbet.state.document"); }
    // Types into the text field of the frame at `index`, as the user would change it.
    void typeText(int index, const std::string& text)
    {
        evaluate("(() => { const f = document.querySelectorAll('#frames textarea')[" + std::to_string(index) +
                 "]; f.focus(); f.value = " + json(text).dump() + "; f.dispatchEvent(new Event('input')); f.blur(); })()");
    }

    std::shared_ptr<kx::NimbetViewController> controller;
    // The working container's source of "design/document.json", as a document makes it.
    std::shared_ptr<kx::KVDocumentContainerDataSource> documentSource = kx::makeDocumentJSONSource(controller);
    GtkWidget* window = nullptr;
};

// Serves a project's "design/document.json" as the project server does, to the editor's origin.
class ProjectServer {
public:
    explicit ProjectServer(std::string document)
        : document_(std::move(document))
    {
        server_.handle("/design/document.json", [this](SoupServerMessage* message) {
            SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
            soup_message_headers_replace(headers, "Access-Control-Allow-Origin", "*");
            soup_server_message_set_status(message, SOUP_STATUS_OK, nullptr);
            soup_server_message_set_response(message, "application/json", SOUP_MEMORY_COPY, document_.data(), document_.size());
        });
    }
    std::string url() const { return server_.url("/"); }

private:
    std::string document_;
    HttpServer server_;
};

inline const char* twoFrames = R"({"version":1,"kept":{"by":"the page"},"frames":[)"
                               R"({"id":"a","name":"Home","text":"Welcome","extra":[1,2]},)"
                               R"({"id":"b","name":"About","text":"Who we are"}]})";

} // namespace kxtest
