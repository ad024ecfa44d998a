// A window with one web-view host whose pages come from a local server, and the desktop
// opener intercepted: the common ground of the web-view GUI tests.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "App/web/WebViewController.h"
#include "Platform/UI/Workspace.h"
#include "support/HttpServer.h"
#include "support/PageScript.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace kxtest {

using kx::WebViewController;
using nlohmann::json;

inline constexpr auto pageTimeout = std::chrono::seconds(30);

// A page that reports its readiness and whatever it is asked to post.
inline const char* readyPage = R"(<!doctype html><html><head><title>ready</title><script>
function post(method, args) {
  var message = { method: method };
  if (args !== undefined) message.arguments = args;
  window.webkit.messageHandlers._webkit.postMessage(JSON.stringify(message));
}
document.addEventListener('DOMContentLoaded', function () { post('DOMContentLoaded', { title: document.title }); });
window.appearances = [];
window.addEventListener('message', function (e) { if (e.data && e.data.appearance) window.appearances.push(e.data.appearance); });
</script></head><body>
<a id="away" href="http://example.invalid/elsewhere">away</a>
<a id="local" href="/second">local</a>
<a id="blank" href="https://example.invalid/new" target="_blank">new</a>
</body></html>)";

class HostedPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.route("/ready", readyPage);
        server.route("/second", "<!doctype html><title>second</title><p>second</p>");
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window), 640, 480);
        controller = WebViewController::make(withInspectorEnabled);
        gtk_container_add(GTK_CONTAINER(window), controller->webView().widget());
        gtk_widget_show_all(window);
        kx::Workspace::shared().setURLOpenerForTesting([this](const std::string& url) {
            opened.push_back(url);
            return true;
        });
    }

    void TearDown() override
    {
        kx::Workspace::shared().setURLOpenerForTesting(nullptr);
        controller.reset();
        gtk_widget_destroy(window);
    }

    // The script's value, evaluated through the host and waited for.
    json evaluate(const std::string& script, kxtest::SourceLocation where = kxtest::SourceLocation::current())
    {
        return evaluateInPage(*controller, script, pageTimeout, where);
    }

    void loadReadyPage()
    {
        bool loaded = false;
        controller->loadURL(server.url("/ready"), [&] { loaded = true; });
        ASSERT_TRUE(spinUntil([&] { return loaded; }, pageTimeout));
    }

    // The page that speaks the service protocol (gui/pages/service-page.*).
    void loadServicePage()
    {
        bool loaded = false;
        controller->loadFile(testSourceDir() / "gui" / "pages" / "service-page.html", [&] { loaded = true; });
        ASSERT_TRUE(spinUntil([&] { return loaded; }, pageTimeout));
    }

    bool withInspectorEnabled = false;
    HttpServer server;
    GtkWidget* window = nullptr;
    std::shared_ptr<WebViewController> controller;
    std::vector<std::string> opened;
};

} // namespace kxtest
