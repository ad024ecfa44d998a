// Service calls native -> page -> native over a real web view and its PostMessageChannel: an
// echo of a clipboard read of 0 B, 1 KiB, 64 KiB and 1 MiB of text. Each of our trips is
// followed by the bare WebKitGTK trip of the same call (BareRoundTrip.h), so that both
// see the same machine at the same moment; reports the median of each and their ratio, the
// share of the route that is ours. The codec and the inbound parser are measured alone too,
// on text and on a design's many small objects.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <gtk/gtk.h>
#include <nlohmann/json.hpp>
#include <webkit2/webkit2.h>

#include "BareRoundTrip.h"
#include "Platform/Foundation/GObjectRef.h"
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
    BareRoundTrip bare;
};

Page* page = nullptr;

void spinUntil(const bool& done)
{
    while (!done)
        g_main_context_iteration(nullptr, TRUE);
}

Clipboard::Read payload(std::size_t bytes)
{
    Clipboard::Read read;
    read.items.push_back({Clipboard::DataItem::Value_textPlain{BareRoundTrip::payloadText(bytes)}});
    return read;
}

double median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// The comparison is fair only while the bare trip calls the function our channel calls, with
// the texts it passes.
bool bareTripIsOurs(std::size_t bytes)
{
    const ServiceChannel::Message request{ServiceChannel::MessageType::request, "0F9C2C6E-6C3B-4F3E-9E2A-6F1B1C3D4E5F",
                                          "__Echo__", "echo", ServiceValueHelper::toMessageBody(payload(bytes))};
    const auto texts = PostMessageChannel::postingTexts(request, "swiftWindowParent");
    return PostMessageChannel::postingFunction() == BareRoundTrip::postingFunction() &&
           texts.envelope == BareRoundTrip::envelopeText() && texts.body == BareRoundTrip::bodyText(bytes);
}

void BM_RoundTrip(benchmark::State& state)
{
    const auto bytes = static_cast<std::size_t>(state.range(0));
    const Clipboard::Read value = payload(bytes);
    const std::string bareBody = BareRoundTrip::bodyText(bytes);
    std::vector<double> latencies, bareLatencies;
    for (auto _ : state) {
        bool done = false;
        bool ok = false;
        Clipboard::Read argument = value; // the caller's value, handed over as callers do
        const auto start = std::chrono::steady_clock::now();
        page->echo->echo(std::move(argument), [&](Result<Clipboard::Read, ServiceError> result) {
            ok = result.isSuccess() && result.value().items.size() == 1;
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
        const double bare = page->bare.trip(bareBody); // outside the manual time of ours
        if (bare < 0) {
            state.SkipWithError("the bare trip failed");
            break;
        }
        bareLatencies.push_back(bare);
    }
    if (latencies.empty() || bareLatencies.empty())
        return;
    const double ours = median(latencies);
    const double floor = median(bareLatencies);
    state.counters["median_ms"] = ours * 1000;
    state.counters["bare_median_ms"] = floor * 1000;
    state.counters["ratio"] = ours / floor;
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

// A clipboard write of copied layers, about `bytes` of JSON: many small objects, as a design is.
Clipboard::Write design(std::size_t bytes)
{
    nlohmann::json layers = nlohmann::json::array();
    for (std::size_t n = 0; layers.dump().size() < bytes;) {
        for (int i = 0; i < 100; ++i, ++n)
            layers.push_back({{"id", "layer-" + std::to_string(n)}, {"type", "rect"}, {"x", n % 997 + 0.5}, {"y", i * 2},
                              {"w", 100}, {"h", 50}, {"fill", "#aabbcc"}, {"name", "Layer \"" + std::to_string(n) + "\""},
                              {"visible", true}, {"mask", nullptr}});
    }
    Clipboard::Write write;
    write.items.push_back({Clipboard::DataItem::Value_applicationXKorvelLayers{UnsafeJSON{{{"layers", std::move(layers)}}}}});
    return write;
}

void BM_EncodeDesign(benchmark::State& state)
{
    const Clipboard::Write value = design(static_cast<std::size_t>(state.range(0)));
    std::size_t size = 0;
    for (auto _ : state)
        size = ServiceValueHelper::toMessageBody(value).json.size();
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_EncodeDesign)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_DecodeDesign(benchmark::State& state)
{
    const auto body = ServiceValueHelper::toMessageBody(design(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state)
        benchmark::DoNotOptimize(ServiceValueHelper::decode<Clipboard::Write>(body));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.json.size()));
}
BENCHMARK(BM_DecodeDesign)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

bool openPage()
{
    page = new Page;
    const auto content = GObjectRef<WebKitUserContentManager>::adopt(webkit_user_content_manager_new());
    page->view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content.get()));
    page->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_container_add(GTK_CONTAINER(page->window), GTK_WIDGET(page->view));
    gtk_widget_show_all(page->window);

    page->channel = PostMessageChannel::make();
    page->manager = std::make_unique<ServiceManager>(std::make_shared<ServiceDebugging::Logger>("📮"));
    auto router = page->manager->addRouter(page->channel);
    page->echo = page->manager->expect(Echo::service(), page->channel);
    page->channel->setWebView(page->view);

    gchar* path = g_filename_to_uri(KX_BENCHMARK_DIR "/pages/echo.html", nullptr, nullptr);
    const std::string uri = path;
    g_free(path);
    webkit_web_view_load_uri(page->view, uri.c_str());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!router->latestDiscoveryInfo() && std::chrono::steady_clock::now() < deadline)
        g_main_context_iteration(nullptr, FALSE);
    if (!router->latestDiscoveryInfo())
        return false;
    return page->bare.open(uri);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "kx_service_benchmarks: no display; run under xvfb-run\n");
        return 1;
    }
    for (std::size_t bytes : {std::size_t(0), std::size_t(1) << 10, std::size_t(64) << 10, std::size_t(1) << 20}) {
        if (!bareTripIsOurs(bytes)) {
            std::fprintf(stderr, "kx_service_benchmarks: the bare call differs from ours at %zu bytes\n", bytes);
            return 1;
        }
    }
    if (!openPage()) {
        std::fprintf(stderr, "kx_service_benchmarks: the echo page did not announce its service\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
