// Service calls native -> page -> native over a real web view and its PostMessageChannel: an
// echo of a clipboard read of 0 B, 1 KiB, 64 KiB and 1 MiB of text. Reports the median round
// trip and round trips per second. The codec and the inbound parser are measured alone too.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "Services/generated/Clipboard.h"
#include "Services/runtime/ServiceManager.h"
#include "Services/runtime/channels/PostMessageChannel.h"

namespace {

using namespace kx;

// A service of the benchmark page only: "echo" answers its argument.
namespace Echo {

class Interface {
public:
    virtual ~Interface() = default;
    virtual void echo(Clipboard::Read value, CompletionHandler<Clipboard::Read> completionHandler) = 0;
};

class OutgoingWrapper final : public OutgoingWrapperBase<Interface> {
public:
    using OutgoingWrapperBase::OutgoingWrapperBase;
    void echo(Clipboard::Read value, CompletionHandler<Clipboard::Read> completionHandler) override
    {
        sendOutgoing<Clipboard::Read>(helper, "echo", outgoingBody(value), std::move(completionHandler));
    }
};

using Service = GeneratedService<Interface>;

const Service& service()
{
    static const Service instance("__Echo__", "0123456789abcdef0123456789abcdef", {incomingMethod<&Interface::echo>("echo")},
                                  &makeOutgoingWrapper<OutgoingWrapper, Interface>);
    return instance;
}

} // namespace Echo

struct Page {
    GtkWidget* window = nullptr;
    WebKitWebView* view = nullptr;
    std::shared_ptr<PostMessageChannel> channel;
    std::unique_ptr<ServiceManager> manager;
    std::shared_ptr<Echo::Interface> echo;
};

Page* page = nullptr;

void spinUntil(const bool& done)
{
    while (!done)
        g_main_context_iteration(nullptr, TRUE);
}

Clipboard::Read payload(std::size_t bytes)
{
    std::string text(bytes, 'x');
    for (std::size_t i = 0; i < bytes; ++i)
        text[i] = i % 64 == 63 ? '"' : static_cast<char>('a' + i % 26); // some escaping, as real text has
    Clipboard::Read read;
    read.items.push_back({Clipboard::DataItem::Value_textPlain{std::move(text)}});
    return read;
}

void BM_RoundTrip(benchmark::State& state)
{
    const Clipboard::Read value = payload(static_cast<std::size_t>(state.range(0)));
    std::vector<double> latencies;
    for (auto _ : state) {
        bool done = false;
        bool ok = false;
        const auto start = std::chrono::steady_clock::now();
        page->echo->echo(value, [&](Result<Clipboard::Read, ServiceError> result) {
            ok = result.isSuccess();
            done = true;
        });
        spinUntil(done);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        latencies.push_back(elapsed.count());
        if (!ok) {
            state.SkipWithError("the echo failed");
            break;
        }
    }
    if (latencies.empty())
        return;
    std::nth_element(latencies.begin(), latencies.begin() + latencies.size() / 2, latencies.end());
    state.counters["median_ms"] = latencies[latencies.size() / 2] * 1000;
    state.counters["round_trips_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RoundTrip)->Arg(0)->Arg(1 << 10)->Arg(64 << 10)->Arg(1 << 20)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_EncodeBody(benchmark::State& state)
{
    const Clipboard::Read value = payload(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(ServiceValueHelper::toMessageBody(value));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EncodeBody)->Arg(1 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

void BM_DecodeBody(benchmark::State& state)
{
    const auto body = ServiceValueHelper::toMessageBody(payload(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state)
        benchmark::DoNotOptimize(ServiceValueHelper::decode<Clipboard::Read>(body));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DecodeBody)->Arg(1 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

void BM_ParseInbound(benchmark::State& state)
{
    const auto body = ServiceValueHelper::toMessageBody(payload(static_cast<std::size_t>(state.range(0))));
    const std::string text = R"({"type":"response","id":"0F9C2C6E-6C3B-4F3E-9E2A-6F1B1C3D4E5F","serviceId":"__Echo__","method":"echo","body":)" +
                             body.json + "}";
    for (auto _ : state)
        benchmark::DoNotOptimize(PostMessageChannel::parseMessage(text));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseInbound)->Arg(1 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

bool openPage()
{
    page = new Page;
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    page->view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content));
    g_object_unref(content);
    page->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_container_add(GTK_CONTAINER(page->window), GTK_WIDGET(page->view));
    gtk_widget_show_all(page->window);

    page->channel = PostMessageChannel::make();
    page->manager = std::make_unique<ServiceManager>(std::make_shared<ServiceDebugging::Logger>("📮"));
    auto router = page->manager->addRouter(page->channel);
    page->echo = page->manager->expect(Echo::service(), page->channel);
    page->channel->setWebView(page->view);

    gchar* uri = g_filename_to_uri(KX_BENCHMARK_DIR "/pages/echo.html", nullptr, nullptr);
    webkit_web_view_load_uri(page->view, uri);
    g_free(uri);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!router->latestDiscoveryInfo() && std::chrono::steady_clock::now() < deadline)
        g_main_context_iteration(nullptr, FALSE);
    return router->latestDiscoveryInfo().has_value();
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "kx_service_benchmarks: no display; run under xvfb-run\n");
        return 1;
    }
    if (!openPage()) {
        std::fprintf(stderr, "kx_service_benchmarks: the echo page did not announce its service\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
