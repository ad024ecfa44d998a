// Proves the platform: a real WebKit view in a real window runs a user script, posts a
// message to a native handler and answers an evaluated script.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>
#include <webkit2/webkit2.h>

#include "support/Spin.h"

namespace {

struct SmokeState {
    std::string received;
    std::string evaluated;
    bool evaluationDone = false;
    bool loaded = false;
};

TEST(WebKitSmoke, UserScriptMessageAndEvaluation)
{
    SmokeState state;
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    WebKitUserScript* script = webkit_user_script_new(
        "window.smokeValue = 41 + 1;"
        "document.addEventListener('DOMContentLoaded', function() {"
        "  window.webkit.messageHandlers.smoke.postMessage({title: document.title, value: window.smokeValue});"
        "});",
        WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);
    ASSERT_TRUE(webkit_user_content_manager_register_script_message_handler(content, "smoke"));
    g_signal_connect(content, "script-message-received::smoke",
                     G_CALLBACK(+[](WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
                         JSCValue* value = webkit_javascript_result_get_js_value(result);
                         char* json = jsc_value_to_json(value, 0);
                         static_cast<SmokeState*>(data)->received = json ? json : "";
                         g_free(json);
                     }),
                     &state);

    GtkWidget* view = webkit_web_view_new_with_user_content_manager(content);
    g_object_unref(content);
    g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
                         if (event == WEBKIT_LOAD_FINISHED)
                             static_cast<SmokeState*>(data)->loaded = true;
                     }),
                     &state);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 400, 300);
    gtk_container_add(GTK_CONTAINER(window), view);
    gtk_widget_show_all(window);

    webkit_web_view_load_html(WEBKIT_WEB_VIEW(view), "<html><head><title>smoke</title></head><body>hi</body></html>",
                              "http://localhost/");
    ASSERT_TRUE(kxtest::spinUntil([&] { return !state.received.empty(); }, std::chrono::seconds(30)))
        << "no message from the page";
    // The message crosses as a structured clone, so member order is the engine's own.
    EXPECT_EQ(nlohmann::json::parse(state.received), nlohmann::json::parse(R"({"title":"smoke","value":42})"));
    ASSERT_TRUE(kxtest::spinUntil([&] { return state.loaded; }));

    webkit_web_view_evaluate_javascript(
        WEBKIT_WEB_VIEW(view), "document.body.textContent + ':' + (6 * 7)", -1, nullptr, nullptr, nullptr,
        +[](GObject* object, GAsyncResult* result, gpointer data) {
            auto* s = static_cast<SmokeState*>(data);
            GError* error = nullptr;
            JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(object), result, &error);
            if (value) {
                char* text = jsc_value_to_string(value);
                s->evaluated = text;
                g_free(text);
                g_object_unref(value);
            } else {
                s->evaluated = std::string("error: ") + (error ? error->message : "?");
                g_clear_error(&error);
            }
            s->evaluationDone = true;
        },
        &state);
    ASSERT_TRUE(kxtest::spinUntil([&] { return state.evaluationDone; }));
    EXPECT_EQ(state.evaluated, "hi:42");

    gtk_widget_destroy(window);
}

} // namespace
