#include "BareRoundTrip.h"

#include <chrono>
#include <cstdio>
#include <string_view>

#include "Platform/Foundation/GObjectRef.h"

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

BareRoundTrip::~BareRoundTrip()
{
    handler_.disconnect();
    if (window_)
        gtk_widget_destroy(window_);
}

bool BareRoundTrip::open(const std::string& pageURI)
{
    const auto manager = kx::GObjectRef<WebKitUserContentManager>::adopt(webkit_user_content_manager_new());
    WebKitUserContentManager* content = manager.get(); // the view holds it from here on
    view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content));
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
    gtk_widget_show_all(window_);

    // The page's objects come as their JSON text, made in the page's process, as our channel's
    // script sends them (PostMessageChannel::textScript, here without its long texts' parts).
    WebKitUserScript* script = webkit_user_script_new(
        "(function () {\n"
        "  var handler = window.webkit.messageHandlers.swiftWindowParent, post = handler.postMessage;\n"
        "  Object.defineProperty(handler, \"postMessage\", { value: function (message) {\n"
        "    return post.call(handler, { \"kx-json\": JSON.stringify(message) });\n"
        "  } });\n"
        "})();\n",
        WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);
    webkit_user_content_manager_register_script_message_handler(content, "swiftWindowParent");
    handler_ = kx::SignalConnection::connect<void(WebKitUserContentManager*, WebKitJavascriptResult*)>(
        content, "script-message-received::swiftWindowParent", [this](WebKitUserContentManager*, WebKitJavascriptResult* result) {
            // What our channel does first with every message: takes its text as WebKit hands it over.
            JSCValue* value = webkit_javascript_result_get_js_value(result);
            const auto text = kx::GObjectRef<JSCValue>::adopt(jsc_value_object_get_property(value, "kx-json"));
            answerWasJSON_ = text && jsc_value_is_string(text.get());
            if (answerWasJSON_)
                g_bytes_unref(jsc_value_to_string_as_bytes(text.get()));
            arrived_ = true;
            announced_ = true;
        });

    webkit_web_view_load_uri(view_, pageURI.c_str());
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!announced_ && Clock::now() < deadline)
        g_main_context_iteration(nullptr, FALSE);
    return announced_;
}

std::string BareRoundTrip::payloadText(std::size_t bytes)
{
    std::string text(bytes, 'x');
    for (std::size_t i = 0; i < bytes; ++i)
        text[i] = i % 64 == 63 ? '"' : static_cast<char>('a' + i % 26);
    return text;
}

std::string BareRoundTrip::postingFunction()
{
    return "const m = JSON.parse(e);\n"
           "let value;\n"
           "if (m.b) { try { value = JSON.parse(t); } catch (error) { return; } }\n"
           "window.postMessage({ __postMessageChannelSource: m.source, type: m.type, id: m.id,"
           " serviceId: m.serviceId, method: m.method, body: value }, \"*\");";
}

std::string BareRoundTrip::envelopeText()
{
    return R"({"source":"swiftWindowParent","type":"request","id":"0F9C2C6E-6C3B-4F3E-9E2A-6F1B1C3D4E5F",)"
           R"("serviceId":"__Echo__","method":"echo","b":true})";
}

std::string BareRoundTrip::bodyText(std::size_t payloadBytes)
{
    std::string quoted;
    for (char c : payloadText(payloadBytes)) {
        if (c == '"')
            quoted += '\\';
        quoted += c;
    }
    return R"({"items":[{"type":"text/plain","string":")" + quoted + "\"}]}";
}

double BareRoundTrip::trip(const std::string& body)
{
    static const std::string function = postingFunction();
    static const std::string envelope = envelopeText();
    arrived_ = false;
    answerWasJSON_ = false;
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&builder, "{sv}", "e", g_variant_new_string(envelope.c_str()));
    g_variant_builder_add(&builder, "{sv}", "t", g_variant_new_string(body.c_str()));
    GVariant* arguments = g_variant_ref_sink(g_variant_builder_end(&builder));
    const auto start = Clock::now();
    webkit_web_view_call_async_javascript_function(view_, function.data(), static_cast<gssize>(function.size()), arguments,
                                                   nullptr, nullptr, nullptr, nullptr, nullptr);
    while (!arrived_)
        g_main_context_iteration(nullptr, TRUE);
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    g_variant_unref(arguments);
    return answerWasJSON_ ? elapsed.count() : -1;
}
