// The editor window's large transfers with the real stand-in editor page, each beside the bare
// WebKitGTK transfer of the same size in the same run:
//   - a 10 MiB document taken from the page through the data source (page -> native), beside
//     the page posting a 10 MiB string to a script-message handler;
//   - a 1 MiB and a 20 MiB clipboard item written and read back by the page through the
//     Clipboard service, beside the native side sending as much into the page and the page
//     posting it back.
// Each reports the longest stall of the main loop during the transfer (stall_ms): the longest
// gap between the turns of a 1 ms timer.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include <gtk/gtk.h>
#include <nlohmann/json.hpp>
#include <webkit2/webkit2.h>

#include "App/documents/DocumentJSONSource.h"
#include "App/editor/NimbetViewController.h"
#include "App/server/AppServer.h"
#include "App/shell/AppInfo.h"
#include "Platform/Foundation/SignalConnection.h"
#include "StallMeter.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Editor {
    GtkWidget* window = nullptr;
    std::shared_ptr<kx::NimbetViewController> controller;
    std::string bare; // what the bare handler received last
    bool bareArrived = false;
    kx::SignalConnection bareConnection;
};

Editor* editor = nullptr;

void spinUntil(const bool& done)
{
    while (!done)
        g_main_context_iteration(nullptr, TRUE);
}

void evaluate(const std::string& script)
{
    bool done = false;
    editor->controller->webViewController().evaluateJavaScript(script, [&](auto, auto) { done = true; });
    spinUntil(done);
}

// A design of many small objects, about `bytes` long as JSON.
std::string documentScript(std::size_t bytes)
{
    return "window.makeDesign = (bytes) => { const frames = []; let size = 0; let n = 0;"
           "  while (size < bytes) { const layers = [];"
           "    for (let i = 0; i < 500; i++, n++) layers.push({id: 'layer-' + n, type: 'rect', x: n % 997 + 0.5, y: i * 2,"
           "      w: 100, h: 50, fill: '#aabbcc', name: 'Layer \"' + n + '\"'});"
           "    frames.push({id: 'frame-' + frames.length, name: 'Frame ' + frames.length, text: 'Text', layers});"
           "    size = JSON.stringify(frames).length; }"
           "  return {version: 1, frames}; };"
           "window.bigText = JSON.stringify(makeDesign(" + std::to_string(bytes) + "));"
           "window.nimbet.state.document = JSON.parse(window.bigText); window.bigText.length";
}

void reportStall(benchmark::State& state, const std::vector<double>& stalls)
{
    if (!stalls.empty())
        state.counters["stall_ms"] = *std::max_element(stalls.begin(), stalls.end());
}

void BM_BarePageToNative(benchmark::State& state)
{
    evaluate(documentScript(static_cast<std::size_t>(state.range(0))));
    std::vector<double> stalls;
    for (auto _ : state) {
        editor->bareArrived = false;
        StallMeter meter;
        const auto start = Clock::now();
        editor->controller->webViewController().evaluateJavaScript("window.webkit.messageHandlers.bare.postMessage(window.bigText)");
        spinUntil(editor->bareArrived);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        stalls.push_back(meter.longestMilliseconds());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(editor->bare.size()));
    reportStall(state, stalls);
}
BENCHMARK(BM_BarePageToNative)->Arg(10 << 20)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_DocumentFromPage(benchmark::State& state)
{
    evaluate(documentScript(static_cast<std::size_t>(state.range(0))));
    auto source = kx::makeDocumentJSONSource(editor->controller);
    std::vector<double> stalls;
    std::size_t size = 0;
    for (auto _ : state) {
        bool done = false;
        StallMeter meter;
        const auto start = Clock::now();
        source->provide([&](kx::Result<kx::KVDocumentContainerDataSource::SharedData, kx::Error> result, std::uint64_t) {
            size = result.isSuccess() ? result.value()->size() : 0;
            done = true;
        });
        spinUntil(done);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        stalls.push_back(meter.longestMilliseconds());
        if (size == 0) {
            state.SkipWithError("the page gave no document");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
    reportStall(state, stalls);
}
BENCHMARK(BM_DocumentFromPage)->Arg(10 << 20)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// A clipboard item of about `bytes`: the page's design, as copied layers.
void prepareClipboardItem(std::size_t bytes)
{
    evaluate(documentScript(bytes) + "; window.bigItem = {type: 'application/x-korvel-layers', data: JSON.parse(window.bigText)}; 0");
}

void BM_BareRoundTrip(benchmark::State& state)
{
    prepareClipboardItem(static_cast<std::size_t>(state.range(0)));
    evaluate("window.webkit.messageHandlers.bare.postMessage(window.bigText)");
    spinUntil(editor->bareArrived);
    const std::string script = "window.echoed = " + editor->bare + "; window.webkit.messageHandlers.bare.postMessage(JSON.stringify(window.echoed))";
    std::vector<double> stalls;
    for (auto _ : state) {
        editor->bareArrived = false;
        StallMeter meter;
        const auto start = Clock::now();
        editor->controller->webViewController().evaluateJavaScript(script);
        spinUntil(editor->bareArrived);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        stalls.push_back(meter.longestMilliseconds());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(editor->bare.size()) * 2);
    reportStall(state, stalls);
}
BENCHMARK(BM_BareRoundTrip)->Arg(1 << 20)->Arg(20 << 20)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ClipboardWriteAndRead(benchmark::State& state)
{
    prepareClipboardItem(static_cast<std::size_t>(state.range(0)));
    std::vector<double> stalls;
    double writing = 0, reading = 0;
    for (auto _ : state) {
        editor->bareArrived = false;
        StallMeter meter;
        const auto start = Clock::now();
        editor->controller->webViewController().evaluateJavaScript(
            "(async () => { const c = (m, b) => window.nimbetServices.call('__Clipboard__', m, b);"
            " const t0 = performance.now(); await c('write', {items: [window.bigItem]}); const t1 = performance.now();"
            " const read = await c('read', {types: ['application/x-korvel-layers']}); const t2 = performance.now();"
            " window.webkit.messageHandlers.bare.postMessage(JSON.stringify({write: t1 - t0, read: t2 - t1,"
            "   frames: read.items.length ? read.items[0].data.frames.length : 0})); })()"
            ".catch(e => window.webkit.messageHandlers.bare.postMessage(JSON.stringify({failed: e})))");
        spinUntil(editor->bareArrived);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        stalls.push_back(meter.longestMilliseconds());
        const auto answer = nlohmann::json::parse(editor->bare, nullptr, false);
        if (!answer.is_object() || answer.value("frames", 0) == 0) {
            state.SkipWithError(("the clipboard lost the item: " + editor->bare).c_str());
            break;
        }
        writing += answer["write"].get<double>();
        reading += answer["read"].get<double>();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
    if (state.iterations() > 0) {
        state.counters["write_ms"] = writing / static_cast<double>(state.iterations());
        state.counters["read_ms"] = reading / static_cast<double>(state.iterations());
    }
    reportStall(state, stalls);
}
BENCHMARK(BM_ClipboardWriteAndRead)->Arg(1 << 20)->Arg(20 << 20)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

bool openEditor()
{
    kx::AppInfo::setCurrent(std::make_shared<kx::AppInfo>(kx::Bundle::main(), "Korvel X", std::nullopt,
                                                          std::filesystem::path(KX_BENCHMARK_DIR) / ".." / "Resources" / "Nimbet"));
    kx::AppServer::start();
    if (!kx::AppServer::shared())
        return false;
    editor = new Editor;
    editor->controller = kx::NimbetViewController::make(false, "benchmark");
    editor->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(editor->window), 800, 600);
    gtk_container_add(GTK_CONTAINER(editor->window), editor->controller->view());
    gtk_widget_show_all(editor->window);

    // The bare transfer: a handler of its own, the string taken as WebKit gives it.
    WebKitUserContentManager* manager = editor->controller->webViewController().userContentController();
    webkit_user_content_manager_register_script_message_handler(manager, "bare");
    editor->bareConnection = kx::SignalConnection::connect<void(WebKitUserContentManager*, WebKitJavascriptResult*)>(
        manager, "script-message-received::bare", [](WebKitUserContentManager*, WebKitJavascriptResult* result) {
            char* text = jsc_value_to_string(webkit_javascript_result_get_js_value(result));
            editor->bare = text ? text : "";
            g_free(text);
            editor->bareArrived = true;
        });

    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!editor->controller->isDocumentReady() && Clock::now() < deadline)
        g_main_context_iteration(nullptr, FALSE);
    return editor->controller->isDocumentReady();
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "kx_editor_benchmarks: no display; run under xvfb-run\n");
        return 1;
    }
    if (!openEditor()) {
        std::fprintf(stderr, "kx_editor_benchmarks: the editor page did not become ready\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
