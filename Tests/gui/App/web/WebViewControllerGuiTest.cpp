// The web-view host with real pages from a local server, in a real window.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "App/account/AppServices.h"
#include "App/shell/AppAppearance.h"
#include "App/shell/RKLog.h"
#include "App/web/WebViewController.h"
#include "support/Spin.h"
#include "gui/App/web/HostedPage.h"

namespace {

using kx::WebViewController;
using nlohmann::json;

using WebViewControllerGui = kxtest::HostedPageTest;
using kxtest::pageTimeout;

TEST_F(WebViewControllerGui, OnlyTheLatestLoadCompletesAndAFailedLoadNever)
{
    int first = 0, second = 0, failed = 0;
    controller->loadURL(server.url("/ready"), [&] { ++first; });
    controller->loadURL(server.url("/second"), [&] { ++second; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return second == 1; }, pageTimeout));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(evaluate("document.title"), "second");

    std::string closed;
    {
        kxtest::HttpServer gone;
        closed = gone.url("/ready");
    }
    controller->loadURL(closed, [&] { ++failed; });
    kxtest::spinFor(std::chrono::milliseconds(1500));
    EXPECT_EQ(failed, 0);

    // A load without completion drops the pending one.
    int dropped = 0;
    controller->loadURL(server.url("/ready"), [&] { ++dropped; });
    controller->loadURL(server.url("/second"));
    ASSERT_TRUE(kxtest::spinUntil([&] { return server.requestCount("/second") == 2; }, pageTimeout));
    kxtest::spinFor(std::chrono::milliseconds(500));
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(second, 1);
}

} // namespace

TEST_F(WebViewControllerGui, ScriptsRunLaterAndInCallOrder)
{
    loadReadyPage();
    std::vector<json> results;
    for (int i = 1; i <= 3; ++i) {
        controller->evaluateJavaScript("(window.calls = (window.calls || []).concat(" + std::to_string(i) + "))",
                                       [&](std::optional<json> result, std::optional<kx::Error>) {
                                           results.push_back(result.value_or(json()));
                                       });
    }
    EXPECT_TRUE(results.empty());
    ASSERT_TRUE(kxtest::spinUntil([&] { return results.size() == 3; }, pageTimeout));
    EXPECT_EQ(results.back(), json::parse("[1,2,3]"));

    EXPECT_EQ(evaluate("undefined"), json());
    EXPECT_EQ(evaluate("throw new Error('boom')").get<std::string>().rfind("error: ", 0), 0u);
}

TEST_F(WebViewControllerGui, NamedMessagesReachTheOwnerAndMarkTheDocumentReady)
{
    std::vector<std::pair<std::string, json>> messages;
    std::vector<json> readiness;
    controller->setBridgeHandler([&](const std::string& method, const json& arguments) {
        messages.emplace_back(method, arguments);
    });
    controller->setDocumentReadyHandler([&](const json& dictionary) {
        readiness.push_back(dictionary);
        EXPECT_TRUE(messages.empty()); // before the bridge handler hears the same message
    });
    std::vector<std::string> logged;
    kx::RKLogSetWriterForTesting([&](GLogLevelFlags, std::span<const GLogField> fields) {
        logged.emplace_back(static_cast<const char*>(fields[0].value));
    });

    EXPECT_FALSE(controller->isDocumentReady());
    loadReadyPage();
    ASSERT_TRUE(kxtest::spinUntil([&] { return !messages.empty(); }, pageTimeout));
    EXPECT_TRUE(controller->isDocumentReady());
    ASSERT_EQ(readiness.size(), 1u);
    EXPECT_EQ(readiness[0], json::object());
    EXPECT_EQ(messages[0].first, "DOMContentLoaded");
    EXPECT_EQ(messages[0].second, json::parse(R"({"title":"ready"})"));

    evaluate("post('error', 1); post('ready'); post('nothing', null);"
             "window.webkit.messageHandlers._webkit.postMessage({method: 'asObject'});"
             "window.webkit.messageHandlers._webkit.postMessage('{\"method\": 5}'); post('last')");
    ASSERT_TRUE(kxtest::spinUntil([&] { return messages.back().first == "last"; }, pageTimeout));
    kx::RKLogSetWriterForTesting(nullptr);
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[1], std::make_pair(std::string("ready"), json::object()));
    EXPECT_EQ(messages[2], std::make_pair(std::string("nothing"), json()));
    EXPECT_EQ(logged, (std::vector<std::string>{"Failed parsing script message: {\"method\":\"asObject\"}",
                                                "Failed parsing method on script message: {\"method\": 5}"}));

    // A new load starts unready.
    controller->loadURL(server.url("/second"));
    EXPECT_FALSE(controller->isDocumentReady());
}

TEST_F(WebViewControllerGui, TheShellScriptsGiveThePageEndpointsAndAppearance)
{
    loadReadyPage();
    EXPECT_EQ(evaluate("window.appServicesConfig"), json::parse(kx::AppServices::endpointsJSON()));
    const bool dark = kx::AppAppearance::shared().isDark();
    EXPECT_EQ(evaluate("window.hasDarkAppearance"), dark);

    kx::AppAppearance::shared().toggleDarkAppearance();
    ASSERT_TRUE(kxtest::spinUntil([&] { return kx::AppAppearance::shared().isDark() != dark; }));
    const std::string expected = dark ? "light" : "dark";
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate("window.appearances") == json::array({expected}); }, pageTimeout));
    EXPECT_EQ(evaluate("window.hasDarkAppearance"), !dark);

    // The next document gets the new state from the start.
    loadReadyPage();
    EXPECT_EQ(evaluate("window.hasDarkAppearance"), !dark);
    EXPECT_EQ(evaluate("window.appServicesConfig.api"), kx::AppServices::currentEndpoints().api);

    kx::AppAppearance::shared().toggleDarkAppearance();
    ASSERT_TRUE(kxtest::spinUntil([&] { return kx::AppAppearance::shared().isDark() == dark; }));
}

TEST_F(WebViewControllerGui, LinksToOtherHostsGoToTheDesktop)
{
    loadReadyPage();
    evaluate("document.getElementById('away').click()");
    ASSERT_TRUE(kxtest::spinUntil([&] { return !opened.empty(); }, pageTimeout));
    EXPECT_EQ(opened, std::vector<std::string>{"http://example.invalid/elsewhere"});
    kxtest::spinFor(std::chrono::milliseconds(300));
    EXPECT_EQ(evaluate("document.title"), "ready");

    evaluate("document.getElementById('blank').click()");
    ASSERT_TRUE(kxtest::spinUntil([&] { return opened.size() == 2; }, pageTimeout));
    EXPECT_EQ(opened[1], "https://example.invalid/new");

    // A link to the local server stays in the view.
    evaluate("document.getElementById('local').click()");
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate("document.title") == "second"; }, pageTimeout));
    EXPECT_EQ(opened.size(), 2u);

    // Without the rule every link stays.
    controller->setOpenLinksInSystemBrowser(false);
    loadReadyPage();
    evaluate("document.getElementById('away').click()");
    ASSERT_TRUE(kxtest::spinUntil([&] {
        const char* uri = webkit_web_view_get_uri(controller->webView().wkWebView());
        return uri && std::string(uri) == "http://example.invalid/elsewhere";
    }, pageTimeout));
    EXPECT_EQ(opened.size(), 2u);
}

// The visible dialog that the host shows for the page, once it is there.
GtkMessageDialog* openDialog()
{
    GtkMessageDialog* found = nullptr;
    kxtest::spinUntil([&] {
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

GtkEntry* entryOf(GtkMessageDialog* dialog)
{
    GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_message_dialog_get_message_area(dialog)));
    GList* entry = g_list_find_custom(children, nullptr, [](gconstpointer child, gconstpointer) { return GTK_IS_ENTRY(child) ? 0 : 1; });
    GtkEntry* result = entry ? GTK_ENTRY(entry->data) : nullptr;
    g_list_free(children);
    return result;
}

TEST_F(WebViewControllerGui, AlertsAndPromptsAreDialogsOfTheWindow)
{
    loadReadyPage();
    std::optional<json> answer;
    // Runs the script, answers its dialog (typing `text` first, when given) and waits for the
    // script's value.
    auto answerDialog = [&](const std::string& script, int response, std::optional<std::string> text = {}) {
        answer.reset();
        controller->evaluateJavaScript(script, [&](std::optional<json> result, std::optional<kx::Error>) {
            answer = result.value_or(json("undefined"));
        });
        GtkMessageDialog* dialog = openDialog();
        EXPECT_TRUE(dialog);
        if (!dialog)
            return json("no dialog");
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), GTK_WINDOW(window));
        EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
        if (text)
            gtk_entry_set_text(entryOf(dialog), text->c_str());
        gtk_dialog_response(GTK_DIALOG(dialog), response);
        EXPECT_TRUE(kxtest::spinUntil([&] { return answer.has_value(); }, pageTimeout));
        return answer.value_or(json("no answer"));
    };
    EXPECT_EQ(answerDialog("prompt('Name?', 'Untitled')", GTK_RESPONSE_ACCEPT), "Untitled");
    EXPECT_EQ(answerDialog("prompt('Name?', 'Untitled')", GTK_RESPONSE_ACCEPT, "Poster"), "Poster");
    EXPECT_EQ(answerDialog("prompt('Name?', 'Untitled')", GTK_RESPONSE_ACCEPT, ""), "");
    EXPECT_EQ(answerDialog("prompt('Name?')", GTK_RESPONSE_CANCEL), json());
    EXPECT_EQ(answerDialog("alert('Saved'), 'after'", GTK_RESPONSE_OK), "after");

    // A host that goes while its prompt is open answers the page with no text.
    answer.reset();
    controller->evaluateJavaScript("prompt('Name?', 'x')", [&](std::optional<json>, std::optional<kx::Error>) { answer = json(); });
    ASSERT_TRUE(openDialog());
    controller.reset();
    ASSERT_TRUE(kxtest::spinUntil([&] { return answer.has_value(); }, pageTimeout));
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
    evaluate("post('late')");
    evaluate("document.getElementById('away').click()");
    kxtest::spinFor(std::chrono::milliseconds(500));
    EXPECT_EQ(messages, 1);
    EXPECT_EQ(completions, 0);
    EXPECT_TRUE(opened.empty());
}
