#include "Services/runtime/channels/PostMessageChannel.h"

#include <algorithm>

#include <webkit2/webkit2.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/Foundation/WeakObject.h"

namespace kx {

struct PostMessageChannel::Attachment {
    WeakObject<WebKitWebView> view;
    // The "swiftWindowParent" handler on the content manager of every view attached so far.
    std::vector<SignalConnection> handlers;
    // The current view's page coming and going.
    std::vector<SignalConnection> pageSignals;
};

std::shared_ptr<PostMessageChannel> PostMessageChannel::make()
{
    return std::shared_ptr<PostMessageChannel>(new PostMessageChannel());
}

PostMessageChannel::PostMessageChannel()
    : attachment_(std::make_unique<Attachment>())
    , delivery_(OrderedDelivery::make())
    , partedTexts_([](const std::string& line) { debug().error("PostMessageChannel " + line); })
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
    if (attachment_->view.lock().get() == webView)
        return;
    if (attachment_->view.lock())
        pageDidGo(); // the page of the earlier view is out of reach from now on
    attachment_->pageSignals.clear();
    attachment_->view.reset(webView);
    if (!webView)
        return;
    WebKitUserContentManager* manager = webkit_web_view_get_user_content_manager(webView);
    if (!webkit_user_content_manager_register_script_message_handler(manager, parentFrameMessageHandlerName_.c_str())) {
        debug().error("PostMessageChannel could not register the script message handler", parentFrameMessageHandlerName_);
    } else {
        // The closure owns a strong reference: the content manager keeps the channel alive.
        const std::string signal = "script-message-received::" + parentFrameMessageHandlerName_;
        attachment_->handlers.push_back(SignalConnection::connect<void(WebKitUserContentManager*, WebKitJavascriptResult*)>(
            manager, signal.c_str(), [self = shared_from_this()](WebKitUserContentManager*, WebKitJavascriptResult* result) {
                self->didReceiveScriptMessage(webkit_javascript_result_get_js_value(result));
            }));
        // Long texts come in parts, a few at a time, to a handler of their own.
        attachment_->handlers.push_back(partedTexts_.connectPartsHandler(manager, parentFrameMessageHandlerName_, [self = shared_from_this()](JSCValue* value) {
            if (auto text = self->partedTexts_.takePosted(value))
                self->receiveText(std::move(*text));
        }));
        // Every frame's handler posts text from the next document on.
        const std::string source = textScript(parentFrameMessageHandlerName_);
        WebKitUserScript* script = webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                                          WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
        webkit_user_content_manager_add_script(manager, script);
        webkit_user_script_unref(script);
    }

    // Whatever the page had not answered when it goes never will be: a new document replaces
    // it (a navigation or a reload), its process ends, or the view itself goes.
    const std::weak_ptr<PostMessageChannel> weak = weak_from_this();
    auto& signals = attachment_->pageSignals;
    signals.push_back(SignalConnection::connect<void(WebKitWebView*, WebKitLoadEvent)>(
        webView, "load-changed", ifAlive(weak, [](PostMessageChannel& self, WebKitWebView*, WebKitLoadEvent event) {
            if (event == WEBKIT_LOAD_COMMITTED)
                self.pageDidGo();
        })));
    signals.push_back(SignalConnection::connect<void(WebKitWebView*, WebKitWebProcessTerminationReason)>(
        webView, "web-process-terminated",
        ifAlive(weak, [](PostMessageChannel& self, WebKitWebView*, WebKitWebProcessTerminationReason) { self.pageDidGo(); })));
    signals.push_back(SignalConnection::connect<void(GtkWidget*)>(webView, "destroy", ifAlive(weak, [](PostMessageChannel& self, GtkWidget*) {
        self.attachment_->view.reset();
        self.pageDidGo();
    })));
}

void PostMessageChannel::pageDidGo()
{
    // A text the page was posting in parts will not be finished.
    partedTexts_.clear();
    // After the messages the page sent before it went.
    delivery_->then(ifAlive(weak_from_this(), &PostMessageChannel::notifyReset));
}

WebKitWebView* PostMessageChannel::webView() const
{
    // Only a borrowed pointer is handed out; the view's owner holds it.
    return attachment_->view.lock().get();
}

void PostMessageChannel::postMessage(Message message)
{
    if (!MainQueue::isMainThread()) {
        MainQueue::async([self = shared_from_this(), message = std::move(message)]() mutable {
            self->postMessage(std::move(message));
        });
        return;
    }
    const auto view = attachment_->view.lock();
    if (!view)
        return; // the page is gone: nothing to tell
    const auto texts = postingTexts(message, parentFrameMessageHandlerName_);
    GVariantBuilder arguments;
    g_variant_builder_init(&arguments, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&arguments, "{sv}", "e", g_variant_new_take_string(g_strndup(texts.envelope.data(), texts.envelope.size())));
    g_variant_builder_add(&arguments, "{sv}", "t",
                          texts.body.empty() ? g_variant_new_string("")
                                             : g_variant_new_take_string(g_strndup(texts.body.data(), texts.body.size())));
    // WebKit does not take the arguments over (and takes nothing when it does not run the
    // function): ours to release.
    GVariant* argument = g_variant_ref_sink(g_variant_builder_end(&arguments));
    const std::string& function = postingFunction();
    webkit_web_view_call_async_javascript_function(view.get(), function.data(), static_cast<gssize>(function.size()),
                                                   argument, nullptr, nullptr, nullptr, nullptr, nullptr);
    g_variant_unref(argument);
}

void PostMessageChannel::addMessageListener(Listener listener)
{
    listeners_.push_back(std::move(listener));
}

void PostMessageChannel::didReceiveScriptMessage(JSCValue* body)
{
    if (!body)
        return didReceiveMessageText(std::nullopt, "nil");
    // The channel's own script posts {textKey: text}: one string to take, nothing to walk.
    if (auto taken = partedTexts_.take(body)) {
        if (taken->whole)
            receiveText(std::move(*taken->whole));
        return;
    }
    char* json = jsc_value_to_json(body, 0);
    if (JSCContext* context = jsc_value_get_context(body))
        jsc_context_clear_exception(context); // a value without JSON form (a function, a cycle) throws
    std::optional<std::string> text;
    std::string description;
    if (json) {
        const std::shared_ptr<char> owned(json, g_free);
        // As long as any text may be, as the channel's own texts.
        if (!partedTexts_.admit(PartedTexts::Text{{PartedTexts::Piece{owned, json}}}))
            return;
        text = json;
    } else {
        char* string = jsc_value_is_undefined(body) ? nullptr : jsc_value_to_string(body);
        description = string ? string : "nil";
        g_free(string);
    }
    // Behind any message still being decoded.
    delivery_->then(ifAlive(weak_from_this(), [text = std::move(text), description = std::move(description)](PostMessageChannel& self) {
        self.didReceiveMessageText(text ? std::optional<std::string_view>(*text) : std::nullopt, text ? *text : description);
    }));
}

void PostMessageChannel::didReceiveText(std::string text)
{
    auto owned = std::make_shared<const std::string>(std::move(text));
    receiveText(PartedTexts::Text{{PartedTexts::Piece{owned, *owned}}});
}

void PostMessageChannel::receiveText(PartedTexts::Text whole)
{
    if (whole.size() < largeTextSize) {
        delivery_->then(ifAlive(weak_from_this(), [copy = std::string(whole.whole())](PostMessageChannel& self) {
            self.didReceiveMessageText(std::string_view(copy), copy);
        }));
        return;
    }
    delivery_->async([weak = weak_from_this(), whole = std::move(whole)]() mutable -> OrderedDelivery::Deliver {
        // A text that came in parts is joined here, on the worker.
        const std::string_view text = whole.whole();
        auto message = std::make_shared<std::optional<Message>>(parseMessage(text));
        // Enough of a malformed text for the log line.
        std::string shown = message->has_value() ? std::string() : std::string(text.substr(0, 1024));
        whole = {};
        return ifAlive(std::move(weak), [message, shown = std::move(shown)](PostMessageChannel& self) {
            if (!message->has_value())
                return self.didReceiveMessageText(std::nullopt, shown);
            self.deliver(std::move(**message));
        });
    });
}

void PostMessageChannel::deliver(Message message)
{
    // The list as it stands now: a listener that adds another does not see it called for this one.
    const std::vector<Listener> listeners = listeners_;
    for (std::size_t i = 0; i < listeners.size(); ++i) {
        if (i + 1 < listeners.size())
            listeners[i](message);
        else
            listeners[i](std::move(message));
    }
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
    deliver(std::move(*message));
}

} // namespace kx
