// The web-view host with real pages from a local server, in a real window.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>

#include <gtk/gtk.h>
#include <unistd.h>

#include "App/account/AppServices.h"
#include "App/server/AppServer.h"
#include "App/shell/AppAppearance.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/SignalConnection.h"
#include "gui/App/web/HostedPage.h"
#include "support/DroppedLoads.h"
#include "support/LogCapture.h"
#include "support/ScopedSetting.h"
#include "support/Spin.h"

namespace {

using kxtest::DroppedLoads;
using kxtest::json;
using kxtest::pageTimeout;
using WebViewControllerGui = kxtest::HostedPageTest;

TEST_F(WebViewControllerGui, OnlyTheLatestLoadCompletesAndAFailedLoadNever)
{
    int first = 0, second = 0, failed = 0;
    controller->loadURL(server.url("/ready"), [&] { ++first; });
    controller->loadURL(server.url("/second"), [&] { ++second; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return second == 1; }, pageTimeout));
    EXPECT_EQ(first, 0);

    auto gone = std::make_unique<kxtest::HttpServer>();
    const std::string closedPort = gone->url("/ready");
    gone.reset();
    controller->loadURL(closedPort, [&] { ++failed; });
    controller->loadURL(server.url("/second"), [&] { ++second; }); // replaces it
    ASSERT_TRUE(kxtest::spinUntil([&] { return second == 2; }, pageTimeout));
    controller->loadURL(closedPort, [&] { ++failed; });
    kxtest::spinFor(std::chrono::milliseconds(1000));
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(first, 0);

    // Two fresh views asking the local web server in one turn, as windows opened together do.
    kxtest::TemporaryDirectory site;
    kxtest::writeFile(site / "index.html", kxtest::readyPage);
    kx::AppServer local(site.path());
    ASSERT_TRUE(local.listen().isSuccess());
    auto left = kx::WebViewController::make(), right = kx::WebViewController::make();
    int loaded = 0;
    left->loadURL(local.url() + "index.html", [&] { ++loaded; });
    right->loadURL(local.url() + "index.html", [&] { ++loaded; });
    EXPECT_TRUE(kxtest::spinUntil([&] { return loaded == 2; }, pageTimeout)) << loaded << " of the two views loaded";
}

// The web processes of this program.
std::vector<pid_t> webProcesses()
{
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string name, stat;
        std::getline(std::ifstream(entry.path() / "comm"), name);
        std::getline(std::ifstream(entry.path() / "stat"), stat);
        const auto end = stat.rfind(") "); // then the state and the parent
        if (name == "WebKitWebProces" && end != std::string::npos && std::atoi(stat.c_str() + end + 4) == getpid())
            found.push_back(std::atoi(entry.path().filename().c_str()));
    }
    return found;
}

// A load still loads, and completes once, when its web process cannot run for a while (a busy
// machine: its time-out counts from its start, while one whose server does not answer is still
// stopped 10 seconds after its start), and when WebKit drops it without a word. Asked for again,
// and reloaded, it keeps its headers; a page that cannot be loaded names itself, and the page
// still shown then comes back when its process ends.
TEST_F(WebViewControllerGui, ALoadThatStartsLateOrIsDroppedStillCompletesOnce)
{
    loadReadyPage();
    server.handle("/unanswered", [](SoupServerMessage* message) { soup_server_message_pause(message); });
    auto other = kx::WebViewController::make();
    other->loadURL(server.url("/unanswered"));
    ASSERT_TRUE(kxtest::spinUntil([&] { return server.requestCount("/unanswered") == 1; }, pageTimeout));
    struct Held {
        std::vector<pid_t> processes = webProcesses();
        Held() { for (pid_t pid : processes) ::kill(pid, SIGSTOP); }
        ~Held() { release(); }
        void release() { for (pid_t pid : std::exchange(processes, {})) ::kill(pid, SIGCONT); }
    } held;
    ASSERT_FALSE(held.processes.empty());
    kxtest::LogCapture log;
    int completions = 0;
    controller->loadURL(server.url("/second"), [&] { ++completions; });
    kxtest::spinFor(std::chrono::seconds(11));
    const int whileHeld = completions;
    held.release();
    const bool loadedLate = kxtest::spinUntil([&] { return completions == 1; }, pageTimeout);
    const auto loggedLate = log.take();

    DroppedLoads drops;
    std::string cacheControl;
    server.handle("/headers", [&](SoupServerMessage* message) {
        const char* value = soup_message_headers_get_one(soup_server_message_get_request_headers(message), "Cache-Control");
        cacheControl = value ? value : "";
        soup_server_message_set_status(message, 200, nullptr);
    });
    DroppedLoads::count = 2;
    controller->loadURL(server.url("/headers?token=x"), [&] { ++completions; }, "no-cache");
    const bool loadedDropped = kxtest::spinUntil([&] { return completions == 2; }, pageTimeout);
    const auto droppedTwice = log.take();
    // A reload is asked for as the page was loaded, also when dropped.
    cacheControl.clear();
    DroppedLoads::count = 1;
    controller->reload([&] { ++completions; });
    const bool reloaded = kxtest::spinUntil([&] { return completions == 3; }, pageTimeout);
    const auto droppedReload = log.take();
    // Its web process ended before it started.
    controller->loadURL(server.url("/second"), [&] { ++completions; });
    webkit_web_view_terminate_web_process(controller->webView().wkWebView());
    const bool loadedAfterEnd = kxtest::spinUntil([&] { return completions == 4; }, pageTimeout);
    const auto loggedAtEnd = log.take();
    DroppedLoads::count = 3;
    controller->loadURL(server.url("/ready"), [&] { ++completions; });
    const bool gaveUp = kxtest::spinUntil([&] { return log.lines().size() == 3; }, pageTimeout);
    kxtest::spinFor(std::chrono::milliseconds(300));
    const auto logged = log.take();
    // The page still shown comes back when its process ends after that.
    const int shown = server.requestCount("/second");
    webkit_web_view_terminate_web_process(controller->webView().wkWebView());
    const bool shownAgain = kxtest::spinUntil([&] { return server.requestCount("/second") > shown; }, pageTimeout);

    EXPECT_EQ(whileHeld, 0) << "the web process was not held";
    EXPECT_TRUE(loadedLate && loadedDropped && reloaded && loadedAfterEnd && gaveUp && shownAgain)
        << loadedLate << loadedDropped << reloaded << loadedAfterEnd << gaveUp << shownAgain;
    EXPECT_EQ(completions, 4);
    EXPECT_EQ(loggedLate, std::vector<std::string>{"The load of " + server.url("/unanswered") + " was stopped: its server did not answer in time"});
    EXPECT_EQ(cacheControl, "no-cache");
    EXPECT_EQ(server.requestCount("/headers"), 2);
    const std::string again = "The web engine dropped the load of " + server.url("/headers") + "; loading it again";
    EXPECT_EQ(droppedTwice, (std::vector<std::string>{again, again}));
    EXPECT_EQ(droppedReload, std::vector<std::string>{again});
    ASSERT_EQ(loggedAtEnd.size(), 2u);
    EXPECT_EQ(loggedAtEnd[1], "The web engine dropped the load of " + server.url("/second") + "; loading it again");
    EXPECT_EQ(logged.back(), "The load of " + server.url("/ready") + " failed: the web engine dropped it 3 times");
    EXPECT_EQ(log.lines(), std::vector<std::string>{"The web process of " + server.url("/second") + " was terminated; reloading the page"});
}

// Loads of ours that the engine never starts are no drops: one that the owner's policy takes,
// spelt otherwise than the engine spells it, and a move to a fragment of the page shown, which
// completes and keeps the page as it is.
TEST_F(WebViewControllerGui, ALoadTakenByTheOwnerOrMovingInsideThePageIsNoDrop)
{
    loadReadyPage();
    evaluate("window.kept = 1");
    kxtest::LogCapture log;
    int taken = 0, moved = 0;
    controller->loadURL(server.url("/ready#part"), [&] { ++moved; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return moved == 1; }, pageTimeout));
    EXPECT_TRUE(controller->isDocumentReady());
    controller->setNavigationPolicyHandler([&](const std::string& url) { return url.find("/taken") != std::string::npos && ++taken; });
    controller->loadURL("HTTP" + server.url("/taken").substr(4));
    ASSERT_TRUE(kxtest::spinUntil([&] { return taken == 1; }, pageTimeout));
    kxtest::spinFor(std::chrono::milliseconds(1500)); // past the wait after which a load counts as dropped
    EXPECT_EQ(taken, 1);
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(evaluate("window.kept"), 1);
    EXPECT_EQ(server.requestCount("/ready"), 1);
    EXPECT_TRUE(log.lines().empty()) << log.lines().front();
}

TEST_F(WebViewControllerGui, ScriptsRunLaterAndInCallOrder)
{
    loadReadyPage();
    std::vector<json> results;
    for (int i = 1; i <= 3; ++i) {
        controller->evaluateJavaScript("(window.calls = (window.calls || []).concat(" + std::to_string(i) + "))",
                                       [&](std::optional<json> result, auto) { results.push_back(result.value_or(json())); });
    }
    EXPECT_TRUE(results.empty());
    ASSERT_TRUE(kxtest::spinUntil([&] { return results.size() == 3; }, pageTimeout));
    EXPECT_EQ(results.back(), json::parse("[1,2,3]"));
    EXPECT_EQ(evaluate("undefined"), json());
    EXPECT_EQ(evaluate("throw new Error('boom')").get<std::string>().rfind("error: ", 0), 0u);
}

TEST_F(WebViewControllerGui, NamedMessagesReachTheOwnerAndMarkTheDocumentReady)
{
    std::vector<std::string> heard; // in order, from both handlers
    controller->setBridgeHandler([&](const std::string& method, const json& arguments) {
        heard.push_back(method + " " + arguments.dump());
    });
    controller->setDocumentReadyHandler([&](const json& dictionary) { heard.push_back("ready " + dictionary.dump()); });
    kxtest::LogCapture log;

    loadReadyPage();
    ASSERT_TRUE(kxtest::spinUntil([&] { return heard.size() == 2; }, pageTimeout));
    EXPECT_TRUE(controller->isDocumentReady());
    evaluate("post('error', 1); post('nothing', null); window.webkit.messageHandlers._webkit.postMessage({method: 'x'});"
             "post('last')");
    ASSERT_TRUE(kxtest::spinUntil([&] { return heard.back() == "last {}"; }, pageTimeout));
    EXPECT_EQ(heard, (std::vector<std::string>{"ready {}", R"(DOMContentLoaded {"title":"ready"})", "nothing null", "last {}"}));
    EXPECT_EQ(log.lines(), std::vector<std::string>{R"(Failed parsing script message: {"method":"x"})"});
    // A text longer than any message, posted past the script that would cut it into parts.
    evaluate("const h = window.webkit.messageHandlers._webkit;"
             "Object.getPrototypeOf(h).postMessage.call(h, 'x'.repeat(" + std::to_string(kx::PartedTexts::maximumSize + 1) + "))");
    ASSERT_TRUE(kxtest::spinUntil([&] { return log.lines().size() == 2; }, pageTimeout));
    EXPECT_EQ(log.lines().back(), "The page's script message: refused a text of more than 16 MiB that came whole (17 MiB)");

    controller->loadURL(server.url("/second"));
    EXPECT_FALSE(controller->isDocumentReady());
}

TEST_F(WebViewControllerGui, TheShellScriptsGiveThePageEndpointsAndAppearance)
{
    loadReadyPage();
    EXPECT_EQ(evaluate("window.appServicesConfig"), json::parse(kx::AppServices::endpointsJSON()));
    const bool dark = kx::AppAppearance::shared().isDark();
    EXPECT_EQ(evaluate("window.hasDarkAppearance"), dark);

    // Another back end (chosen while the application runs) reaches the scripts made from then on.
    const json elsewhere = {{"api", "https://api.elsewhere.example/"}};
    kxtest::ScopedSetting endpoints(kx::WebViewController::setEndpointsJSONSource, [&] { return elsewhere.dump(); },
                                    [] { return kx::AppServices::endpointsJSON(); });
    EXPECT_EQ(evaluate("window.appServicesConfig"), json::parse(kx::AppServices::endpointsJSON()));

    kx::AppAppearance::shared().toggleDarkAppearance();
    const json expected = json::array({dark ? "light" : "dark"});
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate("window.appearances") == expected; }, pageTimeout));
    loadReadyPage(); // the next document has the new state from its start
    EXPECT_EQ(evaluate("window.hasDarkAppearance"), !dark);
    EXPECT_EQ(evaluate("window.appServicesConfig"), elsewhere);

    kx::AppAppearance::shared().toggleDarkAppearance();
    ASSERT_TRUE(kxtest::spinUntil([&] { return kx::AppAppearance::shared().isDark() == dark; }));
}

TEST_F(WebViewControllerGui, LinksToOtherHostsGoToTheDesktop)
{
    loadReadyPage();
    evaluate("document.getElementById('away').click(); document.getElementById('blank').click()");
    ASSERT_TRUE(kxtest::spinUntil([&] { return opened.size() == 2; }, pageTimeout));
    EXPECT_EQ(opened, (std::vector<std::string>{"http://example.invalid/elsewhere", "https://example.invalid/new"}));
    evaluate("document.getElementById('local').click()");
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate("document.title") == "second"; }, pageTimeout));
    EXPECT_EQ(opened.size(), 2u);

    // In an embedded frame, a link that loads in a frame stays in the view whatever its host,
    // also where the server sends it on; one that loads in the top frame goes to the desktop.
    server.route("/inner", R"(<a id="here" href="http://example.invalid/inframe">here</a>
        <iframe name="nested" src="about:blank"></iframe><a id="named" href="http://example.invalid/named" target="nested">n</a>
        <a id="moved" href="/moved">moved</a><a id="top" href="http://example.invalid/top" target="_top">top</a>)");
    server.route("/framed", R"(<title>framed</title><iframe src="/inner"></iframe>)");
    server.handle("/moved", [](SoupServerMessage* message) { soup_server_message_set_redirect(message, 302, "http://example.invalid/moved"); });
    std::vector<std::string> requested; // by the view, redirections included
    auto loads = kx::SignalConnection::connect<void(WebKitWebView*, WebKitWebResource*, WebKitURIRequest*)>(
        controller->webView().wkWebView(), "resource-load-started", [&](WebKitWebView*, WebKitWebResource* resource, WebKitURIRequest*) {
            g_signal_connect(resource, "sent-request", G_CALLBACK(+[](WebKitWebResource*, WebKitURIRequest* request, WebKitURIResponse*, gpointer list) {
                static_cast<std::vector<std::string>*>(list)->emplace_back(webkit_uri_request_get_uri(request));
            }), &requested);
        });
    const auto wasRequested = [&](const char* url) { return std::count(requested.begin(), requested.end(), url); };
    controller->loadURL(server.url("/framed"));
    const std::string frame = "document.querySelector('iframe').contentDocument";
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate(frame + ".getElementById('top') !== null") == true; }, pageTimeout));
    evaluate(frame + ".getElementById('named').click(); " + frame + ".getElementById('here').click()");
    ASSERT_TRUE(kxtest::spinUntil([&] { return wasRequested("http://example.invalid/inframe"); }, pageTimeout));
    EXPECT_EQ(wasRequested("http://example.invalid/named"), 1);
    evaluate(frame + ".getElementById('moved').click()");
    ASSERT_TRUE(kxtest::spinUntil([&] { return wasRequested("http://example.invalid/moved"); }, pageTimeout));
    EXPECT_EQ(opened.size(), 2u);
    controller->loadURL(server.url("/framed"));
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate(frame + ".getElementById('top') !== null") == true; }, pageTimeout));
    evaluate(frame + ".getElementById('top').click()");
    ASSERT_TRUE(kxtest::spinUntil([&] { return opened.size() == 3; }, pageTimeout));
    EXPECT_EQ(opened.back(), "http://example.invalid/top");
    EXPECT_EQ(evaluate("document.title"), "framed");
}

// The visible dialog that the host shows for the page, once it is there.
GtkMessageDialog* openDialog()
{
    GtkMessageDialog* found = nullptr;
    // Callers see none in time as no dialog.
    (void)kxtest::spinUntil([&] {
        GList* windows = gtk_window_list_toplevels();
        for (GList* item = windows; item; item = item->next) {
            if (GTK_IS_MESSAGE_DIALOG(item->data) && gtk_widget_get_visible(GTK_WIDGET(item->data)))
                found = GTK_MESSAGE_DIALOG(item->data);
        }
        g_list_free(windows);
        return found != nullptr;
    }, pageTimeout);
    return found;
}

TEST_F(WebViewControllerGui, AlertsAndPromptsAreDialogsOfTheWindow)
{
    loadReadyPage();
    std::optional<json> answer;
    // Runs the script, answers its dialog (typing `text` first, when given) and waits for the
    // script's value.
    auto answerDialog = [&](const std::string& script, int response, std::optional<std::string> text = {}) {
        answer.reset();
        controller->evaluateJavaScript(script, [&](std::optional<json> result, auto) { answer = result.value_or("?"); });
        GtkMessageDialog* dialog = openDialog();
        if (!dialog)
            return json("no dialog");
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), GTK_WINDOW(window));
        EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
        // Modal to its window only: other windows (the default group) stay usable.
        EXPECT_EQ(gtk_window_get_group(GTK_WINDOW(dialog)), gtk_window_get_group(GTK_WINDOW(window)));
        EXPECT_NE(gtk_window_get_group(GTK_WINDOW(dialog)), gtk_window_get_group(nullptr));
        if (text) {
            GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_message_dialog_get_message_area(dialog)));
            gtk_entry_set_text(GTK_ENTRY(g_list_last(children)->data), text->c_str());
            g_list_free(children);
        }
        gtk_dialog_response(GTK_DIALOG(dialog), response);
        EXPECT_TRUE(kxtest::spinUntil([&] { return answer.has_value(); }, pageTimeout));
        return answer.value_or("no answer");
    };
    EXPECT_EQ(answerDialog("prompt('Name?', 'Untitled')", GTK_RESPONSE_ACCEPT), "Untitled");
    EXPECT_EQ(answerDialog("prompt('Name?', 'Untitled')", GTK_RESPONSE_ACCEPT, "Poster"), "Poster");
    EXPECT_EQ(answerDialog("prompt('Name?', 'Untitled')", GTK_RESPONSE_ACCEPT, ""), "");
    EXPECT_EQ(answerDialog("prompt('Name?')", GTK_RESPONSE_CANCEL), json());
    EXPECT_EQ(answerDialog("alert('Saved'), 'after'", GTK_RESPONSE_OK), "after");

    // A host that goes while its prompt is open still lets the page go on.
    answer.reset();
    controller->evaluateJavaScript("prompt('Name?', 'x')", [&](auto, auto) { answer = json(); });
    ASSERT_TRUE(openDialog());
    controller.reset();
    ASSERT_TRUE(kxtest::spinUntil([&] { return answer.has_value(); }, pageTimeout));
}

TEST_F(WebViewControllerGui, ADialogGoneWithItsWindowAnswersThePage)
{
    loadReadyPage();
    bool answered = false;
    controller->evaluateJavaScript("alert('Saved')", [&](auto, auto) { answered = true; });
    ASSERT_TRUE(openDialog());
    // The page moves to another window; the dialog goes with the first one.
    GtkWidget* view = controller->webView().widget();
    GtkWidget* other = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref(view);
    gtk_container_remove(GTK_CONTAINER(window), view);
    gtk_container_add(GTK_CONTAINER(other), view);
    g_object_unref(view);
    gtk_widget_show_all(other);
    gtk_widget_destroy(window);
    window = other;
    EXPECT_TRUE(kxtest::spinUntil([&] { return answered; }, pageTimeout));

    // A window destroyed with its dialog open, then its host: nothing touches the dialog again.
    controller->evaluateJavaScript("prompt('Name?')");
    ASSERT_TRUE(openDialog());
    gtk_widget_destroy(window);
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    controller.reset();
}

TEST_F(WebViewControllerGui, ALargeMessageIsParsedAsideAndTheOnesAfterItWaitForIt)
{
    std::vector<std::string> heard;
    std::string large;
    controller->setBridgeHandler([&](const std::string& method, json arguments) {
        heard.push_back(method);
        if (method == "large")
            large = arguments["text"].get<std::string>();
    });
    loadReadyPage();
    ASSERT_TRUE(kxtest::spinUntil([&] { return heard.size() == 1; }, pageTimeout));
    // Posted in one go; a page that is not JSON after the large one still only logs. The large
    // one goes in parts, and its message's text puts each pair's high half where a part would
    // end by length alone.
    evaluate("post('before'); post('large', {text: '\\u{1F600}'.repeat(1 << 20)}); post('after');"
             "window.webkit.messageHandlers._webkit.postMessage('not json'); post('last')");
    ASSERT_TRUE(kxtest::spinUntil([&] { return heard.size() == 5; }, pageTimeout));
    EXPECT_EQ(heard, (std::vector<std::string>{"DOMContentLoaded", "before", "large", "after", "last"}));
    std::string expected;
    for (int i = 0; i < (1 << 20); ++i)
        expected += "\xF0\x9F\x98\x80";
    EXPECT_TRUE(large == expected) << "the large text arrived changed, " << large.size() << " bytes";
}

TEST_F(WebViewControllerGui, NothingArrivesAfterCleanup)
{
    int messages = 0, completions = 0;
    controller->setBridgeHandler([&](const std::string&, const json&) { ++messages; });
    loadReadyPage();
    ASSERT_TRUE(kxtest::spinUntil([&] { return messages == 1; }, pageTimeout));

    controller->loadURL(server.url("/ready"), [&] { ++completions; });
    controller->cleanup();
    ASSERT_TRUE(kxtest::spinUntil([&] { return server.requestCount("/ready") == 2; }, pageTimeout));
    evaluate("post('late'); document.getElementById('away').click()");
    // Nor is a page asked for again whose process ended just before its host was detached.
    auto other = kx::WebViewController::make();
    other->loadURL(server.url("/second"), [&] { ++completions; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return completions == 1; }, pageTimeout));
    webkit_web_view_terminate_web_process(other->webView().wkWebView());
    other->cleanup();
    kxtest::spinFor(std::chrono::milliseconds(500));
    EXPECT_EQ(messages, 1);
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(server.requestCount("/second"), 1);
}

TEST_F(WebViewControllerGui, AfterItsProcessEndsThePageIsReloadedAndWhatItOwedFailsOnce)
{
    loadServicePage();
    auto router = controller->webView().serviceManager().addRouter(controller->webView().serviceChannel());
    ASSERT_TRUE(kxtest::spinUntil([&] { return router->latestDiscoveryInfo().has_value(); }, pageTimeout));
    evaluate("kxPage.silent = true");
    std::vector<kx::ServiceError> failures;
    int successes = 0;
    controller->webView().menuActionTarget()->validate({"copy"}, [&](auto result) {
        if (result.isSuccess())
            ++successes;
        else
            failures.push_back(result.error());
    });
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate("window.received.length") == 1; }, pageTimeout));
    kxtest::LogCapture log;

    DroppedLoads drops; // the reload in a new web process, as a first load may be
    DroppedLoads::count = 1;
    webkit_web_view_terminate_web_process(controller->webView().wkWebView());
    EXPECT_EQ(failures, std::vector<kx::ServiceError>{kx::ServiceError::serviceGone()});
    // The page comes back by itself and answers again.
    ASSERT_TRUE(kxtest::spinUntil([&] { return router->latestDiscoveryInfo().has_value(); }, pageTimeout));
    const auto logged = log.lines();
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_NE(logged[0].find("was terminated; reloading the page"), std::string::npos) << logged[0];
    EXPECT_NE(logged[0].find("service-page.html"), std::string::npos) << logged[0];
    EXPECT_NE(logged[1].find("dropped the load of file:///"), std::string::npos) << logged[1];
    std::optional<std::string> label;
    controller->webView().menuActionTarget()->validate({"copy"}, [&](auto result) { label = result.value().states.at(0).label; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return label.has_value(); }, pageTimeout));
    EXPECT_EQ(*label, "Label of copy");

    kxtest::spinFor(std::chrono::milliseconds(100));
    EXPECT_EQ(failures.size(), 1u);
    EXPECT_EQ(successes, 0);
}

TEST_F(WebViewControllerGui, APageWhoseProcessKeepsEndingIsNotReloadedForEver)
{
    loadServicePage();
    auto router = controller->webView().serviceManager().addRouter(controller->webView().serviceChannel());
    kxtest::LogCapture log;
    for (int end = 1; end <= 4; ++end) {
        ASSERT_TRUE(kxtest::spinUntil([&] { return router->latestDiscoveryInfo().has_value(); }, pageTimeout)) << end;
        webkit_web_view_terminate_web_process(controller->webView().wkWebView());
        EXPECT_FALSE(router->latestDiscoveryInfo().has_value());
    }
    kxtest::spinFor(std::chrono::milliseconds(500));
    EXPECT_FALSE(router->latestDiscoveryInfo().has_value()); // no page announced itself again
    const auto logged = log.lines();
    ASSERT_EQ(logged.size(), 4u);
    EXPECT_NE(logged[3].find("again; the page is not reloaded"), std::string::npos) << logged[3];
}

} // namespace
