// The host's user scripts and the page's named messages on the "_webkit" handler.
#include "App/web/WebViewController.h"

#include <webkit2/webkit2.h>

#include "App/shell/AppAppearance.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/ThreadPool.h"
#include "Services/runtime/channels/PostMessageChannel.h"

namespace kx {

namespace {

constexpr std::string_view appServicesConfigPlaceholder = "{{ appServicesConfig }}";
constexpr std::string_view hasDarkAppearancePlaceholder = "{{ hasDarkAppearance }}";

std::string replacingOccurrences(std::string text, std::string_view placeholder, std::string_view replacement)
{
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + replacement.size()))
        text.replace(at, placeholder.size(), replacement);
    return text;
}

// A page can post megabytes; the log needs only enough to recognise the message.
std::string shortened(std::string_view text)
{
    constexpr std::size_t shownBytes = 1024;
    if (text.size() <= shownBytes)
        return std::string(text);
    std::string shown(text.substr(0, shownBytes));
    shown.append("... (").append(std::to_string(text.size())).append(" bytes)");
    return shown;
}

// From this size on a page's message is parsed off the main thread.
constexpr std::size_t largeScriptMessageSize = 256 * 1024;

std::function<std::string()>& endpointsJSONSource()
{
    static std::function<std::string()> source;
    return source;
}

} // namespace

void WebViewController::setEndpointsJSONSource(std::function<std::string()> source)
{
    endpointsJSONSource() = std::move(source);
}

std::string WebViewController::bridgeScriptSource(std::string resource, const std::string& endpointsJSON)
{
    return replacingOccurrences(std::move(resource), appServicesConfigPlaceholder, endpointsJSON);
}

std::string WebViewController::appearanceScriptSource(std::string resource, bool isDark)
{
    return replacingOccurrences(std::move(resource), hasDarkAppearancePlaceholder, isDark ? "true" : "false");
}

std::string WebViewController::appearanceMessage(bool isDark)
{
    return std::string("window.postMessage({ appearance: '") + (isDark ? "dark" : "light") + "' }, '*');";
}

void WebViewController::reloadUserScripts()
{
    WebKitUserContentManager* manager = userContentController();
    // Only our own two are replaced: scripts that the owner added stay, ahead of the new ones.
    for (WebKitUserScript** script : {&bridgeScript_, &appearanceScript_}) {
        if (*script) {
            webkit_user_content_manager_remove_script(manager, *script);
            webkit_user_script_unref(*script);
            *script = nullptr;
        }
    }
    // The script that posts the page's long messages in parts comes first, so that the
    // bridge's own posts go through it too.
    const auto& endpoints = endpointsJSONSource();
    const std::string bridge = PostMessageChannel::textScript("_webkit", PostMessageChannel::Posting::strings)
        + bridgeScriptSource(bundledJavaScriptFileContents("bridge-script").value_or(""), endpoints ? endpoints() : "{}");
    bridgeScript_ = webkit_user_script_new(bridge.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                           WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    const std::string appearance = appearanceScriptSource(
        bundledJavaScriptFileContents("appearance-script").value_or(""), AppAppearance::shared().isDark());
    appearanceScript_ = webkit_user_script_new(appearance.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(manager, bridgeScript_);
    webkit_user_content_manager_add_script(manager, appearanceScript_);
}

void WebViewController::appearanceDidChange()
{
    // The page on screen hears of it now; documents loaded later get the new scripts.
    const std::string message = appearanceMessage(AppAppearance::shared().isDark());
    webkit_web_view_evaluate_javascript(webView_->wkWebView(), message.data(), static_cast<gssize>(message.size()),
                                        nullptr, nullptr, nullptr, nullptr, nullptr);
    reloadUserScripts();
}

WebViewController::ParsedScriptMessage WebViewController::parseScriptMessage(std::optional<std::string_view> body,
                                                                             std::string_view description)
{
    std::optional<nlohmann::json> value = fromJson(body);
    if (!value || !value->is_object())
        return {std::nullopt, "Failed parsing script message: " + shortened(description)};
    auto method = value->find("method");
    if (method == value->end() || !method->is_string())
        return {std::nullopt, "Failed parsing method on script message: " + shortened(description)};
    auto arguments = value->find("arguments");
    return {ScriptMessage{method->get<std::string>(),
                          arguments == value->end() ? std::nullopt : std::optional(std::move(*arguments))},
            {}};
}

void WebViewController::didReceiveScriptMessage(JSCValue* body, bool partsOnly)
{
    // The text the page posted, if it posted text.
    std::optional<PartedTexts::Text> text;
    std::string description;
    if (partsOnly) {
        text = partedTexts_.takePosted(body);
        if (!text)
            return;
    } else if (auto taken = partedTexts_.take(body)) {
        if (!taken->whole)
            return; // a part, or a text refused
        text = std::move(*taken->whole);
    } else if (body && jsc_value_is_string(body)) {
        std::shared_ptr<GBytes> bytes(jsc_value_to_string_as_bytes(body), g_bytes_unref);
        gsize size = 0;
        const auto* data = bytes ? static_cast<const char*>(g_bytes_get_data(bytes.get(), &size)) : nullptr;
        text = partedTexts_.admit(PartedTexts::Text{{PartedTexts::Piece{bytes, std::string_view(data ? data : "", data ? size : 0)}}});
        if (!text)
            return;
    } else if (body) {
        // Anything but text is refused; its JSON form (or its string form) goes to the log.
        char* json = jsc_value_to_json(body, 0);
        if (JSCContext* context = jsc_value_get_context(body))
            jsc_context_clear_exception(context);
        char* string = json ? nullptr : jsc_value_to_string(body);
        description = json ? json : string ? string : "";
        g_free(json);
        g_free(string);
    }

    // A large message (a whole document) is joined, if it came in parts, and parsed by a
    // worker, so that the main loop goes on; the messages after it wait for it, so that the
    // owner hears them in order.
    const bool large = text && text->size() >= largeScriptMessageSize;
    if (large) {
        scriptMessages_->async([weak = weak_from_this(), text = std::move(*text)]() mutable -> OrderedDelivery::Deliver {
            const std::string_view whole = text.whole();
            auto parsed = std::make_shared<ParsedScriptMessage>(parseScriptMessage(whole, whole));
            text = {};
            return ifAlive(std::move(weak), [parsed](WebViewController& self) { self.deliverScriptMessage(std::move(*parsed)); });
        });
        return;
    }
    std::optional<std::string> copy = text ? std::optional<std::string>(text->whole()) : std::nullopt;
    scriptMessages_->then(ifAlive(weak_from_this(), [copy = std::move(copy), description = std::move(description)](WebViewController& self) {
        self.deliverScriptMessage(parseScriptMessage(copy, copy ? std::string_view(*copy) : std::string_view(description)));
    }));
}

void WebViewController::deliverScriptMessage(ParsedScriptMessage parsed)
{
    if (!parsed.message) {
        RKLog(parsed.failure, RKLogKind::general);
        return;
    }
    auto self = shared_from_this(); // a handler may let the host go
    ScriptMessage& message = *parsed.message;
    if (message.method == "DOMContentLoaded") {
        isDocumentReady_ = true;
        if (DocumentReadyHandler handler = documentReadyHandler_)
            handler(nlohmann::json::object());
    }
    if (message.method == "error")
        return;
    if (RawBridgeHandler handler = bridgeHandler_)
        handler(message.method, std::move(message.arguments));
}

} // namespace kx
