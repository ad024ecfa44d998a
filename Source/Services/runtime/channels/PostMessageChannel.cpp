#include "Services/runtime/channels/PostMessageChannel.h"

#include <webkit2/webkit2.h>

#include "Platform/Foundation/MainQueue.h"

namespace kx {

struct PostMessageChannel::Attachment {
    GWeakRef view;
    Attachment() { g_weak_ref_init(&view, nullptr); }
    ~Attachment() { g_weak_ref_clear(&view); }
};

namespace {

void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data)
{
    auto& channel = *static_cast<std::shared_ptr<PostMessageChannel>*>(data);
    channel->didReceiveScriptMessage(webkit_javascript_result_get_js_value(result));
}

} // namespace

std::shared_ptr<PostMessageChannel> PostMessageChannel::make()
{
    return std::shared_ptr<PostMessageChannel>(new PostMessageChannel());
}

PostMessageChannel::PostMessageChannel()
    : attachment_(std::make_unique<Attachment>())
{
}

PostMessageChannel::~PostMessageChannel() = default;

const ServiceDebugging::Logger& PostMessageChannel::debug()
{
    static const ServiceDebugging::Logger logger("✉️");
    return logger;
}

void PostMessageChannel::setWebView(WebKitWebView* webView)
{
    g_weak_ref_set(&attachment_->view, webView);
    if (!webView)
        return;
    WebKitUserContentManager* manager = webkit_web_view_get_user_content_manager(webView);
    if (!webkit_user_content_manager_register_script_message_handler(manager, parentFrameMessageHandlerName_.c_str())) {
        debug().error("PostMessageChannel could not register the script message handler", parentFrameMessageHandlerName_);
        return;
    }
    // The closure owns a strong reference: the content manager keeps the channel alive.
    const std::string signal = "script-message-received::" + parentFrameMessageHandlerName_;
    g_signal_connect_data(manager, signal.c_str(), G_CALLBACK(onScriptMessage),
                          new std::shared_ptr<PostMessageChannel>(shared_from_this()),
                          [](gpointer data, GClosure*) { delete static_cast<std::shared_ptr<PostMessageChannel>*>(data); },
                          GConnectFlags(0));
}

WebKitWebView* PostMessageChannel::webView() const
{
    gpointer view = g_weak_ref_get(&attachment_->view);
    if (view)
        g_object_unref(view); // only a borrowed pointer is handed out; the view's owner holds it
    return static_cast<WebKitWebView*>(view);
}

void PostMessageChannel::postMessage(const Message& message)
{
    if (!MainQueue::isMainThread()) {
        MainQueue::async([self = shared_from_this(), message] { self->postMessage(message); });
        return;
    }
    evaluate(script(message, parentFrameMessageHandlerName_));
}

void PostMessageChannel::evaluate(const std::string& script)
{
    auto* view = static_cast<WebKitWebView*>(g_weak_ref_get(&attachment_->view));
    if (!view)
        return; // the page is gone: nothing to tell
    webkit_web_view_evaluate_javascript(view, script.data(), static_cast<gssize>(script.size()), nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
    g_object_unref(view);
}

void PostMessageChannel::addMessageListener(Listener listener)
{
    listeners_.push_back(std::move(listener));
}

void PostMessageChannel::didReceiveScriptMessage(JSCValue* body)
{
    if (!body)
        return didReceiveMessageText(std::nullopt, "nil");
    char* json = jsc_value_to_json(body, 0);
    if (JSCContext* context = jsc_value_get_context(body))
        jsc_context_clear_exception(context); // a value without JSON form (a function, a cycle) throws
    if (json) {
        didReceiveMessageText(std::string_view(json), json);
        g_free(json);
        return;
    }
    char* text = jsc_value_is_undefined(body) ? nullptr : jsc_value_to_string(body);
    didReceiveMessageText(std::nullopt, text ? text : "nil");
    g_free(text);
}

void PostMessageChannel::didReceiveMessageText(std::optional<std::string_view> json, std::string_view description)
{
    std::optional<Message> message;
    if (json)
        message = parseMessage(*json);
    if (!message) {
        // A page can send megabytes; the line needs only enough to recognise the message.
        constexpr std::size_t shownBytes = 1024;
        std::string shown(description.substr(0, shownBytes));
        if (description.size() > shownBytes)
            shown += "... (" + std::to_string(description.size()) + " bytes)";
        debug().error("PostMessageChannel received unexpected or malformed message: " + shown);
        return;
    }
    // The list as it stands now: a listener that adds another does not see it called for this one.
    const std::vector<Listener> listeners = listeners_;
    for (const auto& listener : listeners)
        listener(*message);
}

} // namespace kx
