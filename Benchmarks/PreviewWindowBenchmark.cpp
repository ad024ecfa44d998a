// The preview window from the moment its document's project server address is known until its
// preview page says "KorvelPreviewReady", beside a bare WebKitGTK window that loads the same
// preview address and waits for the same message, alternating the two in one run against one
// real project server. Prints each run, the medians and their ratio. Needs node and a display:
// run it through Benchmarks/preview-window-benchmark.
//
//   kx_preview_benchmark [runs]
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "App/preview/PreviewDocument.h"
#include "App/preview/PreviewWindowController.h"
#include "App/server/ServerController.h"
#include "App/shell/AppInfo.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/Responder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto timeout = std::chrono::seconds(30);
const fs::path resources = fs::path(KX_BENCHMARK_DIR) / ".." / "Resources";

bool spinUntil(const std::function<bool()>& done)
{
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        g_main_context_iteration(nullptr, TRUE);
    }
    return true;
}

class Document : public kx::PreviewDocument {
public:
    std::string displayName() const override { return "Benchmark"; }
    kx::ServerController* serverController() const override { return server; }
    kx::BaseNimbetViewController* nimbetViewController() const override { return nullptr; }
    GtkWindow* documentWindow() const override { return window; }
    std::optional<std::string> serverLocalUrl() const override { return server->currentServerURL(); }
    std::optional<std::string> serverURL() const override { return server->currentServerURL(); }
    void addPackage(const std::string&, bool) override {}
    kx::Responder* responder() const override { return nullptr; }

    kx::ServerController* server = nullptr;
    GtkWindow* window = nullptr;
};

// Watches a web view for the page's "KorvelPreviewReady", beside whatever else handles the
// page's messages.
class ReadyWatch {
public:
    explicit ReadyWatch(WebKitWebView* view)
    {
        connection_ = kx::SignalConnection::connect<void(WebKitUserContentManager*, WebKitJavascriptResult*)>(
            webkit_web_view_get_user_content_manager(view), "script-message-received::_webkit",
            [this](WebKitUserContentManager*, WebKitJavascriptResult* result) {
                char* text = jsc_value_to_string(webkit_javascript_result_get_js_value(result));
                const auto message = nlohmann::json::parse(text ? text : "", nullptr, false);
                g_free(text);
                if (message.is_object() && message.value("method", "") == "KorvelPreviewReady")
                    ready = true;
            });
    }
    bool ready = false;

private:
    kx::SignalConnection connection_;
};

double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

std::optional<double> shellRun(const std::shared_ptr<Document>& document)
{
    const auto start = Clock::now();
    auto controller = kx::PreviewWindowController::make(document);
    ReadyWatch watch(controller->korvelViewController()->webViewController().webView().wkWebView());
    controller->showWithMakeKey(true);
    const bool ready = spinUntil([&] { return watch.ready; });
    const auto end = Clock::now();
    controller->cleanup();
    controller.reset();
    return ready ? std::optional<double>(milliseconds(end - start)) : std::nullopt;
}

std::optional<double> bareRun(const std::string& url)
{
    const auto start = Clock::now();
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 390, 844);
    GtkWidget* view = webkit_web_view_new();
    WebKitUserContentManager* manager = webkit_web_view_get_user_content_manager(WEBKIT_WEB_VIEW(view));
    webkit_user_content_manager_register_script_message_handler(manager, "_webkit");
    ReadyWatch watch(WEBKIT_WEB_VIEW(view));
    gtk_container_add(GTK_CONTAINER(window), view);
    gtk_widget_show_all(window);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), url.c_str());
    const bool ready = spinUntil([&] { return watch.ready; });
    const auto end = Clock::now();
    webkit_user_content_manager_unregister_script_message_handler(manager, "_webkit");
    gtk_widget_destroy(window);
    return ready ? std::optional<double>(milliseconds(end - start)) : std::nullopt;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "kx_preview_benchmark: no display; run under xvfb-run\n");
        return 1;
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    kx::AppInfo::setCurrent(std::make_shared<kx::AppInfo>(kx::Bundle::main(), "Korvel X", std::nullopt, resources / "Nimbet"));

    gchar* temporary = g_dir_make_tmp("kx-preview-bench.XXXXXX", nullptr);
    const fs::path folder = temporary ? temporary : "";
    g_free(temporary);
    if (folder.empty())
        return 1;
    fs::create_directories(folder / "library");
    fs::create_directories(folder / "project" / "design");
    std::ofstream(folder / "library" / "package.json") << R"({"name": "library", "version": "1.0.0"})";
    std::ofstream(folder / "project" / "design" / "document.json")
        << R"({"version": 1, "frames": [{"id": "home", "name": "Home", "text": "Welcome"}]})";

    kx::ServerController::Configuration configuration;
    configuration.scriptPath = resources / "server" / "index.js";
    configuration.staticPath = resources;
    configuration.cachePath = folder / "cache";
    configuration.yarnLinkFolder = folder / "library";
    configuration.apiURL = "http://127.0.0.1:9/";
    configuration.discoverProxy = false;
    kx::ServerController server(configuration);
    std::optional<std::optional<std::string>> url;
    server.start("PREVIEW-BENCHMARK-TOKEN", [&](std::optional<std::string> u) { url = u; });
    if (!spinUntil([&] { return url.has_value(); }) || !*url) {
        std::fprintf(stderr, "kx_preview_benchmark: the project server did not start\n");
        return 1;
    }
    server.setProjectDir(folder / "project");
    if (!spinUntil([&] { return server.state() && server.state()->doneFirstInstall; })) {
        std::fprintf(stderr, "kx_preview_benchmark: the project server did not open the project\n");
        return 1;
    }

    GtkWidget* documentWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_move(GTK_WINDOW(documentWindow), 40, 40);
    gtk_window_set_default_size(GTK_WINDOW(documentWindow), 900, 700);
    gtk_widget_show(documentWindow);
    auto document = std::make_shared<Document>();
    document->server = &server;
    document->window = GTK_WINDOW(documentWindow);
    const auto pageURL = kx::KorvelViewController::previewPageURL(std::nullopt, **url, **url);
    if (!pageURL)
        return 1;

    // One of each first, not counted: the web process and the page's files are warm for both.
    if (!shellRun(document) || !bareRun(*pageURL)) {
        std::fprintf(stderr, "kx_preview_benchmark: the preview page did not become ready\n");
        return 1;
    }
    std::vector<double> shell, bare;
    for (int run = 0; run < runs; ++run) {
        // Alternating, and each side first in turn.
        const bool shellFirst = run % 2 == 0;
        std::optional<double> a = shellFirst ? shellRun(document) : bareRun(*pageURL);
        std::optional<double> b = shellFirst ? bareRun(*pageURL) : shellRun(document);
        const auto shellTime = shellFirst ? a : b;
        const auto bareTime = shellFirst ? b : a;
        if (!shellTime || !bareTime) {
            std::fprintf(stderr, "kx_preview_benchmark: the preview page did not become ready\n");
            return 1;
        }
        shell.push_back(*shellTime);
        bare.push_back(*bareTime);
        std::printf("run %d: preview window %.1f ms, bare window %.1f ms\n", run + 1, *shellTime, *bareTime);
    }
    const double shellMedian = median(shell);
    const double bareMedian = median(bare);
    std::printf("median: preview window %.1f ms, bare window %.1f ms, ratio %.2f (aim: 1.20 or less)\n", shellMedian,
                bareMedian, shellMedian / bareMedian);
    gtk_widget_destroy(documentWindow);
    server.stop();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
