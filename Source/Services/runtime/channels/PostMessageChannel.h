// The service channel of one web view. Outbound, each message is handed to one fixed function
// of the page (the same text every time, so nothing new is compiled per message), which posts
// it as a plain object to the page's own window; inbound, the page posts plain objects to the
// script-message handler "swiftWindowParent", which the channel checks and hands on as
// messages. A script of the channel's, run before the page's own, turns what the page posts
// into JSON text in the page's process (`textScript`), so that no large object is rebuilt and
// walked on the main thread; large texts are decoded on a worker, and every message (and
// every reset) still reaches the listeners in the order the page sent it. What is posted and
// the inbound parsing are pure functions (postingFunction, postingTexts, parseMessage), so
// that they are tested and fuzzed without a web view.
//
// Lifetime: attaching a web view registers the channel as that view's handler; the view's
// user content manager then keeps the channel alive, while the channel holds the view only
// weakly. Main thread only; messages posted from other threads hop to the main loop first.
//
// The channel's listeners hear a reset whenever the page goes: a new document is committed
// (a navigation or a reload), the page's web process ends, the view is destroyed, or another
// view (or none) is attached.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Foundation/OrderedDelivery.h"
#include "Services/runtime/ServiceChannel.h"
#include "Services/runtime/ServiceDebugging.h"
#include "Services/runtime/channels/PartedTexts.h"

typedef struct _WebKitWebView WebKitWebView;
typedef struct _JSCValue JSCValue;

namespace kx {

class PostMessageChannel final : public ServiceChannel, public std::enable_shared_from_this<PostMessageChannel> {
public:
    static std::shared_ptr<PostMessageChannel> make();
    ~PostMessageChannel() override;

    // Attaches the web view: the channel becomes the script-message handler named
    // parentFrameMessageHandlerName() of the view's own user content manager. A handler
    // installed on an earlier view stays there, but that view's page is gone for the channel;
    // attaching nullptr does nothing further.
    void setWebView(WebKitWebView* webView);
    // The attached view, or nullptr once it is gone.
    WebKitWebView* webView() const;
    const std::string& parentFrameMessageHandlerName() const { return parentFrameMessageHandlerName_; }

    void postMessage(Message message) override;
    void addMessageListener(Listener listener) override;

    // One script message from the page: its value as JSON text (nullptr when the value has no
    // JSON form), handed to every listener when it is a well-formed message, else logged.
    void didReceiveScriptMessage(JSCValue* body);
    // The page's text of one message (as the channel's script posts it), decoded and handed on
    // in order; a large one is decoded on a worker.
    void didReceiveText(std::string text);
    void didReceiveMessageText(std::optional<std::string_view> json, std::string_view description);

    // The function that posts every message into the page, the same text every time, and the
    // two texts it is called with for `message`: `e`, the envelope's fields as JSON text (with
    // "b": true when the body goes too), and `t`, the body's own JSON text, or "" when it has
    // none the page can read (no body, a body without JSON form, text that is not UTF-8). A
    // field that is not UTF-8 is left out: the page sees it undefined.
    static const std::string& postingFunction();
    struct PostingTexts {
        std::string envelope;
        std::string_view body; // the message's own text, not a copy
    };
    static PostingTexts postingTexts(const Message& message, std::string_view handlerName);
    // The script that wraps the page's handler `handlerName`: each object posted becomes
    // {textKey: its JSON text}; what JSON cannot carry is posted as it was, and refused here
    // as before. A long text goes in parts (see PartedTexts). With `Posting::strings` the
    // handler takes text, not objects: a long string goes in parts, anything else as it was.
    enum class Posting { objectsAsText, strings };
    static std::string textScript(std::string_view handlerName, Posting posting = Posting::objectsAsText);
    static constexpr const char* textKey = PartedTexts::textKey;
    // From this size on, a message's text is decoded on a worker.
    static constexpr std::size_t largeTextSize = 64 * 1024;

    // The message in the JSON text of a page object, or nothing when it is malformed. A "body"
    // that is an object or array is kept as its JSON text; any other body means none.
    static std::optional<Message> parseMessage(std::string_view json);

    // The channel's logger, prefix "✉️".
    static const ServiceDebugging::Logger& debug();

private:
    PostMessageChannel();
    void pageDidGo();
    void deliver(Message message);
    // `text` lives as long as `owner`.
    void receiveText(PartedTexts::Text text);

    struct Attachment;
    std::unique_ptr<Attachment> attachment_;
    const std::string parentFrameMessageHandlerName_ = "swiftWindowParent";
    std::vector<Listener> listeners_;
    std::shared_ptr<OrderedDelivery> delivery_;
    PartedTexts partedTexts_;
};

} // namespace kx
