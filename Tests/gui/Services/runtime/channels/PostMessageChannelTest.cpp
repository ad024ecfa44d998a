// The channel over a real web view and a real page (Tests/gui/pages/service-page.*): the
// page's announcement, its calls to a native service, native calls to the page's services,
// and a malformed message from the page.
#include <gtest/gtest.h>

#include <map>

#include <gtk/gtk.h>
#include <nlohmann/json.hpp>
#include <webkit2/webkit2.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Services/generated/ColorSampler.h"
#include "Services/generated/GestureEventTarget.h"
#include "Services/generated/MenuActionTarget.h"
#include "Services/runtime/ServiceManager.h"
#include "Services/runtime/channels/PostMessageChannel.h"
#include "support/Spin.h"
#include "support/StdoutCapture.h"
#include "support/TestPaths.h"

namespace {

using namespace kx;

class FixedSampler final : public ColorSampler::Interface {
public:
    void sampleColor(CompletionHandler<KorvelServices::Color> completionHandler) override
    {
        ++calls;
        completionHandler(Result<KorvelServices::Color, ServiceError>::success({"rgba(1, 2, 3, 1)"}));
    }
    int calls = 0;
};

class PostMessageChannelPage : public testing::Test {
protected:
    void SetUp() override
    {
        WebKitUserContentManager* content = webkit_user_content_manager_new();
        view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content));
        g_object_unref(content);
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window), 400, 300);
        gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
        gtk_widget_show_all(window);

        channel = PostMessageChannel::make();
        manager = std::make_unique<ServiceManager>(std::make_shared<ServiceDebugging::Logger>("📮"));
        router = manager->addRouter(channel);
        manager->registerService(ColorSampler::service(), channel, sampler);
        channel->setWebView(view);
        ASSERT_EQ(channel->webView(), view);

        const auto page = kxtest::testSourceDir() / "gui" / "pages" / "service-page.html";
        gchar* uri = g_filename_to_uri(page.c_str(), nullptr, nullptr);
        webkit_web_view_load_uri(view, uri);
        g_free(uri);
        ASSERT_TRUE(kxtest::spinUntil([&] { return router->latestDiscoveryInfo().has_value(); }, std::chrono::seconds(30)))
            << "the page never announced its services";
    }

    void TearDown() override
    {
        if (window)
            gtk_widget_destroy(window);
    }

    // The value of a script, as JSON, once the page has evaluated it.
    nlohmann::json evaluate(const std::string& script)
    {
        struct State {
            std::string text;
            bool done = false;
        } state;
        webkit_web_view_evaluate_javascript(
            view, ("JSON.stringify(" + script + ")").c_str(), -1, nullptr, nullptr, nullptr,
            +[](GObject* object, GAsyncResult* result, gpointer data) {
                auto* s = static_cast<State*>(data);
                if (JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(object), result, nullptr)) {
                    char* text = jsc_value_to_string(value);
                    s->text = text;
                    g_free(text);
                    g_object_unref(value);
                }
                s->done = true;
            },
            &state);
        EXPECT_TRUE(kxtest::spinUntil([&] { return state.done; }));
        // JSON.stringify of undefined is undefined, not text.
        return nlohmann::json::parse(state.text, nullptr, false);
    }

    nlohmann::json pageResultsWhenThereAre(std::size_t count)
    {
        nlohmann::json results;
        // Callers compare what came in time.
        (void)kxtest::spinUntil([&] {
            results = evaluate("window.pageResults");
            return results.size() >= count;
        });
        return results;
    }

    GtkWidget* window = nullptr;
    WebKitWebView* view = nullptr;
    std::shared_ptr<PostMessageChannel> channel;
    std::unique_ptr<ServiceManager> manager;
    std::shared_ptr<Router> router;
    std::shared_ptr<FixedSampler> sampler = std::make_shared<FixedSampler>();
};

TEST_F(PostMessageChannelPage, PageAndNativeCallEachOther)
{
    const auto& services = router->latestDiscoveryInfo()->services;
    EXPECT_EQ(services.at("__MenuActionTarget__").fingerprint, MenuActionTarget::service().fingerprint);

    // The page asks what native code offers, then calls it.
    evaluate(R"(kxPage.callAndRecord("", "#discover"))");
    evaluate(R"(kxPage.callAndRecord("__ColorSampler__", "sampleColor", {"ignored": true}))");
    evaluate(R"(kxPage.callAndRecord("__Missing__", "anything"))");
    const auto results = pageResultsWhenThereAre(3);
    ASSERT_EQ(results.size(), 3u) << results.dump();
    EXPECT_EQ(results[0]["result"]["services"]["__ColorSampler__"]["fingerprint"], ColorSampler::service().fingerprint);
    EXPECT_EQ(results[1], nlohmann::json::parse(R"j({"method":"sampleColor","result":{"color":"rgba(1, 2, 3, 1)"}})j"));
    EXPECT_EQ(results[2]["error"], nlohmann::json::parse(R"({"code":400})"));
    EXPECT_EQ(sampler->calls, 1);

    // Native code calls the page's services through their interfaces.
    auto menus = manager->expect(MenuActionTarget::service(), channel);
    std::optional<Result<KorvelServices::MenuValidationResult, ServiceError>> validation;
    std::optional<Result<KorvelServices::MenuDispatchResult, ServiceError>> dispatch;
    menus->validate({"copy \"quoted\"\n"}, [&](auto result) { validation = std::move(result); });
    menus->dispatch({"fail"}, [&](auto result) { dispatch = std::move(result); });
    ASSERT_TRUE(kxtest::spinUntil([&] { return validation && dispatch; }));
    ASSERT_TRUE(validation->isSuccess());
    EXPECT_EQ(validation->value().states.at(0).label, "Label of copy \"quoted\"\n");
    ASSERT_TRUE(dispatch->isSuccess());
    EXPECT_FALSE(dispatch->value().success);

    auto gestures = manager->expect(GestureEventTarget::service(), channel);
    std::optional<bool> dispatched;
    gestures->dispatchMagnificationEvent({KorvelServices::MagnificationEventType::magnificationChanged, 0.125, {0.5, 0.25}},
                                         [&](auto result) { dispatched = result.isSuccess(); });
    ASSERT_TRUE(kxtest::spinUntil([&] { return dispatched.has_value(); }));
    EXPECT_TRUE(*dispatched);
    EXPECT_EQ(pageResultsWhenThereAre(4).back(), nlohmann::json::parse(R"({"magnified":0.125})"));
    EXPECT_EQ(router->waitingRequestCount(), 0u);
}

TEST_F(PostMessageChannelPage, WhatNativeCodePostsArrivesAsItWasSaveWhatHasNoJavaScriptForm)
{
    auto post = [&](std::string id, std::optional<std::string> body) {
        ServiceChannel::Message message{ServiceChannel::MessageType::response, std::move(id), "edge", "m", std::nullopt};
        if (body)
            message.body = ServiceChannel::MessageBody{*body};
        channel->postMessage(std::move(message));
    };
    const std::string awkward = "quote \" back \\ line\n </script> \u00e9 \U0001F600 \u2028";
    post(awkward, R"({"a":[1,"\u00fc",null],"b":"\u2028"})");
    post("no body", std::nullopt);
    post("not JSON", "{not json");
    post("\xff not UTF-8", "[2]");
    post("a string", R"("text")");
    const std::string received = R"((window.received.filter(m => m.serviceId === "edge")))";
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate(received + ".length").get<int>() >= 4; }));
    kxtest::settle();
    EXPECT_EQ(evaluate(received), nlohmann::json::parse(R"([
        {"type": "response", "id": ")" + nlohmann::json(awkward).dump().substr(1) + R"(, "serviceId": "edge", "method": "m", "body": {"a": [1, "\u00fc", null], "b": "\u2028"}},
        {"type": "response", "id": "no body", "serviceId": "edge", "method": "m"},
        {"type": "response", "serviceId": "edge", "method": "m", "body": [2]},
        {"type": "response", "id": "a string", "serviceId": "edge", "method": "m", "body": "text"}
    ])"));
}

TEST_F(PostMessageChannelPage, MalformedMessagesAreLoggedAndAnsweredWithNothing)
{
    kxtest::StdoutCapture output;
    evaluate(R"(kxPage.postRaw({type: "Request", id: "bad-1", serviceId: "__ColorSampler__", method: "sampleColor"}))");
    evaluate(R"(kxPage.postRaw("just text"))");
    // A good message after the bad ones proves the channel still works and orders the replies.
    evaluate(R"(kxPage.callAndRecord("__ColorSampler__", "sampleColor"))");
    pageResultsWhenThereAre(1);
    const std::string& log = output.text();
    EXPECT_NE(log.find("✉️ PostMessageChannel received unexpected or malformed message: {\"type\":\"Request\",\"id\":\"bad-1\""),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("✉️ PostMessageChannel received unexpected or malformed message: \"just text\""), std::string::npos) << log;
    const auto received = evaluate("window.received.map(m => m.id)");
    for (const auto& id : received)
        EXPECT_NE(id, "bad-1");
    EXPECT_EQ(sampler->calls, 1);
}

TEST_F(PostMessageChannelPage, ALargeMessageIsDecodedAsideAndEverythingStillArrivesInOrder)
{
    // The listeners stay with the channel until the view goes, after the test.
    auto heardList = std::make_shared<std::vector<std::string>>();
    auto& heard = *heardList;
    channel->addMessageListener([heardList](ServiceChannel::Message message) {
        heardList->push_back(message.id + (message.body ? ":" + std::to_string(message.body->json.size()) : ""));
    });
    channel->addResetListener([heardList] { heardList->push_back("reset"); });

    // A megabyte, then two small ones, then the page goes: the small ones and the reset wait for
    // the large one, which is decoded off the main loop.
    evaluate(R"((() => {
        const big = {type: "response", id: "big", serviceId: "__Other__", method: "m", body: {text: "x".repeat(1 << 20)}};
        kxPage.postRaw(big);
        kxPage.postRaw({type: "response", id: "small-1", serviceId: "__Other__", method: "m"});
        kxPage.postRaw({type: "response", id: "small-2", serviceId: "__Other__", method: "m", body: [1, 2]});
        // After this script's own answer, which a page that goes would never give.
        setTimeout(() => location.reload(), 0);
    })())");
    ASSERT_TRUE(kxtest::spinUntil([&] { return heard.size() >= 4; }, std::chrono::seconds(30)));
    const std::string bigBody = R"({"text":")" + std::string(1 << 20, 'x') + R"("})";
    // The reloaded page announces itself after the reset: only the first four are the old page's.
    EXPECT_EQ(std::vector<std::string>(heard.begin(), heard.begin() + 4),
              (std::vector<std::string>{"big:" + std::to_string(bigBody.size()), "small-1", "small-2:5", "reset"}));
    ASSERT_TRUE(kxtest::spinUntil([&] { return router->latestDiscoveryInfo().has_value(); }, std::chrono::seconds(30)));
}

TEST_F(PostMessageChannelPage, ALongTextComesInPartsAndArrivesWholeBeforeWhatFollowsIt)
{
    auto heardList = std::make_shared<std::vector<std::string>>();
    auto& heard = *heardList;
    auto bodies = std::make_shared<std::vector<std::string>>();
    channel->addMessageListener([heardList, bodies](ServiceChannel::Message message) {
        heardList->push_back(message.id);
        bodies->push_back(message.body ? message.body->json : "");
    });
    // Parts, each cut where a surrogate pair would be split if the cut fell by
    // length alone ("a" first puts every high half at an odd place), then small ones at once.
    evaluate(R"((() => {
        const text = "a" + "\u{1F600}".repeat(400000);
        kxPage.postRaw({type: "response", id: "long", serviceId: "__Other__", method: "m", body: {text}});
        kxPage.postRaw({type: "response", id: "after-1", serviceId: "__Other__", method: "m"});
        kxPage.postRaw("not an object");
        kxPage.postRaw({type: "response", id: "after-2", serviceId: "__Other__", method: "m", body: [2]});
    })())");
    ASSERT_TRUE(kxtest::spinUntil([&] { return heard.size() >= 3; }, std::chrono::seconds(30)));
    EXPECT_EQ(heard, (std::vector<std::string>{"long", "after-1", "after-2"}));
    std::string smiles;
    for (int i = 0; i < 400000; ++i)
        smiles += "\xF0\x9F\x98\x80";
    EXPECT_TRUE(bodies->at(0) == R"({"text":"a)" + smiles + R"("})") << "the long text arrived changed, " << bodies->at(0).size() << " bytes";
}

TEST_F(PostMessageChannelPage, PartsComeAFewATurnEvenWhenTheMainLoopWasBusyAndOnlyPartsAreTakenAsSuch)
{
    auto heardList = std::make_shared<std::vector<std::string>>();
    auto& heard = *heardList;
    channel->addMessageListener([heardList](ServiceChannel::Message message) { heardList->push_back(message.id); });
    // Each turn of the main loop is counted; each part taken notes the turn it was taken in.
    struct Turns {
        int turn = 0;
        std::vector<int> parts;
    } turns;
    // A source that is never ready, but checked once in every turn: ahead of every other
    // source, so that a ready one never keeps it from being checked.
    struct TurnSource {
        GSource source;
        Turns* turns;
    };
    static GSourceFuncs counting = {
        +[](GSource*, gint* timeout) -> gboolean {
            *timeout = -1;
            return FALSE;
        },
        +[](GSource* source) -> gboolean {
            ++reinterpret_cast<TurnSource*>(source)->turns->turn;
            return FALSE;
        },
        nullptr, nullptr, nullptr, nullptr};
    GSource* ticker = g_source_new(&counting, sizeof(TurnSource));
    reinterpret_cast<TurnSource*>(ticker)->turns = &turns;
    g_source_set_priority(ticker, G_PRIORITY_HIGH * 10);
    g_source_attach(ticker, nullptr);
    const guint signal = g_signal_lookup("script-message-with-reply-received", WEBKIT_TYPE_USER_CONTENT_MANAGER);
    const gulong hook = g_signal_add_emission_hook(signal, g_quark_from_string(PartedTexts::partsHandlerName(channel->parentFrameMessageHandlerName()).c_str()),
        +[](GSignalInvocationHint*, guint, const GValue*, gpointer data) -> gboolean {
            auto* t = static_cast<Turns*>(data);
            t->parts.push_back(t->turn);
            return TRUE;
        }, &turns, nullptr);

    kxtest::StdoutCapture output;
    // Something else posted to the parts' handler is not a message; then a text of six parts.
    evaluate(R"((() => {
        window.webkit.messageHandlers[")" + PartedTexts::partsHandlerName(channel->parentFrameMessageHandlerName()) + R"("].postMessage(
            {type: "response", id: "beside", serviceId: "__Other__", method: "m"});
        kxPage.postRaw({type: "response", id: "long", serviceId: "__Other__", method: "m", body: {text: "y".repeat(6 * )"
                 + std::to_string(PartedTexts::partLength) + R"( - 100)}});
        kxPage.postRaw({type: "response", id: "after", serviceId: "__Other__", method: "m"});
    })())");
    // The main loop is busy for a while, as it is during a save: a page left to itself would
    // have posted every part by then, and WebKit would hand them all over in one turn.
    g_usleep(500000);
    const bool arrived = kxtest::spinUntil([&] { return heard.size() >= 2; }, std::chrono::seconds(30));
    g_signal_remove_emission_hook(signal, hook);
    g_source_destroy(ticker);
    g_source_unref(ticker);
    const std::string& log = output.text();
    ASSERT_TRUE(arrived) << log;
    EXPECT_EQ(heard, (std::vector<std::string>{"long", "after"}));
    EXPECT_NE(log.find("refused a value posted to the handler of long texts"), std::string::npos) << log;
    // The stray value, then six parts, no more in one turn than the script lets go unanswered.
    ASSERT_EQ(turns.parts.size(), 7u);
    std::map<int, std::size_t> partsInTurn;
    for (std::size_t i = 1; i < turns.parts.size(); ++i)
        ++partsInTurn[turns.parts[i]];
    for (const auto& [turn, count] : partsInTurn)
        EXPECT_LE(count, PartedTexts::partsInFlight) << "in turn " << turn;
}

// Parts of long texts as the channel's script posts them, made here so that two frames can
// interleave and a hostile frame can send what the script never would.
class PostMessageChannelParts : public testing::Test {
protected:
    void SetUp() override
    {
        // WebKit must start the process's JavaScript engine itself: started first by a bare
        // context, it leaves every later web view of the program without its pages.
        webkit_web_context_get_default();
        context = jsc_context_new();
        channel->addMessageListener([this](ServiceChannel::Message message) {
            heard.push_back(message.id + (message.body ? "=" + message.body->json : ""));
        });
    }
    void TearDown() override { g_object_unref(context); }

    using Members = std::initializer_list<std::pair<const char*, std::string>>;
    kx::GObjectRef<JSCValue> object(Members members)
    {
        auto object = kx::GObjectRef<JSCValue>::adopt(jsc_value_new_object(context, nullptr, nullptr));
        for (const auto& [key, value] : members) {
            JSCValue* string = jsc_value_new_string(context, value.c_str());
            jsc_value_object_set_property(object.get(), key, string);
            g_object_unref(string);
        }
        return object;
    }
    void post(Members members) { channel->didReceiveScriptMessage(object(members).get()); }

    JSCContext* context = nullptr;
    std::shared_ptr<PostMessageChannel> channel = PostMessageChannel::make();
    std::vector<std::string> heard;
};

TEST_F(PostMessageChannelParts, EachFramesPartsAreJoinedApartAndWhatTheScriptNeverSendsIsRefused)
{
    const std::string one = R"({"type":"response","id":"one","serviceId":"","method":"m","body":[1,1]})";
    const std::string two = R"({"type":"response","id":"two","serviceId":"","method":"m","body":[2]})";
    kxtest::StdoutCapture output;
    post({{"kx-part", one.substr(0, 20)}, {"kx-from", "frame-1"}});
    post({{"kx-part", two.substr(0, 30)}, {"kx-from", "frame-2"}});
    post({{"kx-json", R"({"type":"response","id":"between","serviceId":"","method":"m"})"}});
    post({{"kx-part", one.substr(20, 20)}, {"kx-from", "frame-1"}});
    post({{"kx-json", two.substr(30)}, {"kx-from", "frame-2"}});
    post({{"kx-json", one.substr(40)}, {"kx-from", "frame-1"}});
    // The end of a text whose beginning never came, a part without its frame's mark, and a
    // part with a key more.
    post({{"kx-json", R"({"type":"response","id":"orphan","serviceId":"","method":"m"})"}, {"kx-from", "frame-3"}});
    post({{"kx-part", R"({"type":"response","id":"unmarked","serviceId":"","method":"m"})"}});
    post({{"kx-part", "{"}, {"kx-from", "frame-4"}, {"also", "1"}});
    ASSERT_TRUE(kxtest::spinUntil([&] { return heard.size() >= 3; }));
    kxtest::settle();
    const std::string& log = output.text();
    EXPECT_EQ(heard, (std::vector<std::string>{"between", "two=[2]", "one=[1,1]"})) << log;
    EXPECT_NE(log.find("end of a long text whose beginning is missing"), std::string::npos) << log;
}

TEST_F(PostMessageChannelParts, TheOldestUnfinishedTextMakesRoomWhenTooManyFramesPostAtOnce)
{
    const std::string text = R"({"type":"response","id":"ID","serviceId":"","method":"m"})";
    kxtest::StdoutCapture output;
    const std::size_t frames = PartedTexts::maximumTexts + 1;
    for (std::size_t i = 0; i < frames; ++i)
        post({{"kx-part", text.substr(0, 10)}, {"kx-from", "frame-" + std::to_string(i)}});
    for (std::size_t i = 0; i < frames; ++i)
        post({{"kx-json", text.substr(10)}, {"kx-from", "frame-" + std::to_string(i)}});
    ASSERT_TRUE(kxtest::spinUntil([&] { return heard.size() >= frames - 1; }));
    kxtest::settle();
    const std::string& log = output.text();
    EXPECT_EQ(heard.size(), frames - 1) << log;
    EXPECT_NE(log.find("dropped a long text"), std::string::npos) << log;
}

TEST_F(PostMessageChannelParts, TheTextsOfAViewShareOneCapAndEachRefusalIsLoggedAsItHappens)
{
    // Two handlers of one view, as a page's bridge and its service channel are.
    std::vector<std::string> lines;
    const auto log = [&](const std::string& line) { lines.push_back(line); };
    auto manager = kx::GObjectRef<WebKitUserContentManager>::adopt(webkit_user_content_manager_new());
    PartedTexts bridge(log), service(log);
    bridge.connectPartsHandler(manager.get(), "bridge", [](JSCValue*) {});
    service.connectPartsHandler(manager.get(), "service", [](JSCValue*) {});
    const std::string part((PartedTexts::maximumSize * 3) / 8, 'x');
    const auto whole = [](std::optional<PartedTexts::Taken> taken) { return taken && taken->whole ? taken->whole->size() : 0; };

    // A part that would pass the cap of the two together drops the oldest unfinished text, the
    // other handler's, at once: its end finds no beginning.
    bridge.take(object({{"kx-part", part}, {"kx-from", "old"}}).get());
    service.take(object({{"kx-part", part}, {"kx-from", "kept"}}).get());
    EXPECT_TRUE(lines.empty());
    bridge.take(object({{"kx-part", part}, {"kx-from", "new"}}).get());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("dropped a long text of which only parts had come"), std::string::npos) << lines[0];
    EXPECT_EQ(whole(bridge.take(object({{"kx-json", "end"}, {"kx-from", "old"}}).get())), 0u);
    EXPECT_EQ(whole(service.take(object({{"kx-json", "end"}, {"kx-from", "kept"}}).get())), part.size() + 3);
    // One text that passes the cap by itself is refused at the part that passes it; its end is
    // dropped without a word more.
    bridge.take(object({{"kx-part", part}, {"kx-from", "new"}}).get());
    lines.clear();
    bridge.take(object({{"kx-part", part}, {"kx-from", "new"}}).get());
    EXPECT_EQ(lines, std::vector<std::string>{"refused a text of more than 16 MiB while its parts came"});
    EXPECT_EQ(whole(bridge.take(object({{"kx-json", "end"}, {"kx-from", "new"}}).get())), 0u);
    // One whose parts fit is refused when its end passes the cap.
    service.take(object({{"kx-part", part}, {"kx-from", "ends"}}).get());
    service.take(object({{"kx-part", part}, {"kx-from", "ends"}}).get());
    EXPECT_EQ(whole(service.take(object({{"kx-json", part}, {"kx-from", "ends"}}).get())), 0u);
    EXPECT_EQ(lines.back(), "refused a text of more than 16 MiB at its end");
    // A text that comes whole is held to the same cap; a view's owner may set a larger one.
    const std::string longer(PartedTexts::maximumSize + 1, 'y');
    EXPECT_EQ(whole(service.take(object({{"kx-json", longer}}).get())), 0u);
    EXPECT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines.back(), "refused a text of more than 16 MiB that came whole (17 MiB)");
    PartedTexts::setMaximumSize(manager.get(), 2 * PartedTexts::maximumSize);
    EXPECT_EQ(whole(service.take(object({{"kx-json", longer}}).get())), longer.size());
    EXPECT_EQ(lines.size(), 3u);
}

TEST_F(PostMessageChannelPage, WhatThePageCannotTurnIntoAnObjectsTextIsRefusedAsBefore)
{
    auto heardList = std::make_shared<std::vector<std::string>>();
    auto& heard = *heardList;
    channel->addMessageListener([heardList](ServiceChannel::Message message) { heardList->push_back(message.id); });
    kxtest::StdoutCapture output;
    // A message that cannot be JSON (a cycle), one that looks like the channel's own wrapping but
    // holds more, the wrapping's text of a string, and a wrapping of malformed text.
    evaluate(R"((() => {
        const cyclic = {type: "response", id: "cyclic", serviceId: "", method: "m"};
        cyclic.self = cyclic;
        kxPage.postRaw(cyclic);
        kxPage.postRaw({"kx-json": JSON.stringify({type: "response", id: "extra", serviceId: "", method: "m"}), also: 1});
        kxPage.postRaw("{\"type\":\"response\",\"id\":\"plain-text\",\"serviceId\":\"\",\"method\":\"m\"}");
        window.webkit.messageHandlers.swiftWindowParent.postMessage({type: "response", id: "good", serviceId: "", method: "m"});
    })())");
    ASSERT_TRUE(kxtest::spinUntil([&] { return !heard.empty(); }));
    kxtest::settle();
    const std::string& log = output.text();
    // Only the last is a message; a plain string never was one, whatever it says.
    EXPECT_EQ(heard, std::vector<std::string>{"good"}) << log;
    EXPECT_NE(log.find("malformed message: \"{\\\"type"), std::string::npos) << log;
}

// A call the page leaves unanswered, and how often (and with what) it completed.
struct UnansweredCall {
    std::vector<ServiceError> failures;
    int successes = 0;
};

TEST_F(PostMessageChannelPage, CallsWaitingWhenThePageReloadsOrItsProcessEndsFailOnce)
{
    auto menus = manager->expect(MenuActionTarget::service(), channel);
    const auto callUnanswered = [&](UnansweredCall& call) {
        evaluate("kxPage.silent = true");
        menus->dispatch({"undo"}, [&](auto result) {
            if (result.isSuccess())
                ++call.successes;
            else
                call.failures.push_back(result.error());
        });
        ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate("window.received.length").get<int>() > 0; }));
        EXPECT_EQ(router->waitingRequestCount(), 1u);
    };

    UnansweredCall reloaded;
    callUnanswered(reloaded);
    webkit_web_view_reload(view);
    ASSERT_TRUE(kxtest::spinUntil([&] { return !reloaded.failures.empty(); }, std::chrono::seconds(30)));
    ASSERT_TRUE(kxtest::spinUntil([&] { return router->latestDiscoveryInfo().has_value(); }, std::chrono::seconds(30)));

    UnansweredCall crashed;
    callUnanswered(crashed);
    webkit_web_view_terminate_web_process(view);
    ASSERT_TRUE(kxtest::spinUntil([&] { return !crashed.failures.empty(); }, std::chrono::seconds(30)));
    // Until a page announces itself again, calls fail at once.
    std::optional<ServiceError> early;
    menus->dispatch({"undo"}, [&](auto result) { early = result.error(); });
    EXPECT_EQ(early, ServiceError::serviceNotFound());

    kxtest::spinFor(std::chrono::milliseconds(100));
    for (const auto* call : {&reloaded, &crashed}) {
        EXPECT_EQ(call->failures, std::vector<ServiceError>{ServiceError::serviceGone()});
        EXPECT_EQ(call->successes, 0);
    }
    EXPECT_EQ(router->waitingRequestCount(), 0u);
}

TEST_F(PostMessageChannelPage, ACallWaitingWhenTheViewGoesFailsAndLaterOnesFailAtOnce)
{
    auto menus = manager->expect(MenuActionTarget::service(), channel);
    evaluate("kxPage.silent = true");
    std::vector<ServiceError> failures;
    menus->dispatch({"undo"}, [&](auto result) { failures.push_back(result.error()); });
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate("window.received.length").get<int>() > 0; }));

    gtk_widget_destroy(window);
    window = nullptr;
    EXPECT_EQ(failures, std::vector<ServiceError>{ServiceError::serviceGone()});
    ASSERT_TRUE(kxtest::spinUntil([&] { return channel->webView() == nullptr; }));
    bool called = false;
    menus->dispatch({"undo"}, [&](auto result) {
        called = true;
        EXPECT_EQ(result.error(), ServiceError::serviceNotFound());
    });
    EXPECT_TRUE(called); // nothing is parked for a page that is not there
    EXPECT_EQ(router->waitingRequestCount(), 0u);
    EXPECT_EQ(failures.size(), 1u);
}

TEST_F(PostMessageChannelPage, DetachingTheViewFailsWhatItsPageLeftUnanswered)
{
    auto menus = manager->expect(MenuActionTarget::service(), channel);
    evaluate("kxPage.silent = true");
    std::vector<ServiceError> failures;
    menus->dispatch({"undo"}, [&](auto result) { failures.push_back(result.error()); });
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate("window.received.length").get<int>() > 0; }));
    channel->setWebView(view); // the same view again changes nothing
    EXPECT_TRUE(failures.empty());
    channel->setWebView(nullptr);
    EXPECT_EQ(failures, std::vector<ServiceError>{ServiceError::serviceGone()});
    EXPECT_EQ(channel->webView(), nullptr);
}

} // namespace
