#include "Services/runtime/channels/PartedTexts.h"

#include <algorithm>

#include <webkit2/webkit2.h>

#include "Platform/Foundation/GObjectRef.h"

namespace kx {

std::size_t PartedTexts::Text::size() const
{
    std::size_t total = 0;
    for (const auto& piece : pieces)
        total += piece.text.size();
    return total;
}

std::string_view PartedTexts::Text::whole()
{
    if (pieces.empty())
        return {};
    if (pieces.size() > 1) {
        auto joined = std::make_shared<std::string>();
        joined->reserve(size());
        for (const auto& piece : pieces)
            joined->append(piece.text);
        pieces = {Piece{joined, *joined}};
    }
    return pieces.front().text;
}

PartedTexts::PartedTexts(std::function<void(const std::string&)> log)
    : log_(std::move(log))
{
}

std::optional<PartedTexts::Taken> PartedTexts::take(JSCValue* body)
{
    if (!body || !jsc_value_is_object(body) || jsc_value_is_array(body))
        return std::nullopt;
    const bool hasText = jsc_value_object_has_property(body, textKey);
    const bool hasPart = jsc_value_object_has_property(body, partKey);
    if (hasText == hasPart)
        return std::nullopt;
    gchar** names = jsc_value_object_enumerate_properties(body);
    std::size_t count = 0;
    bool hasFrom = false;
    for (gchar** name = names; name && *name; ++name, ++count)
        hasFrom = hasFrom || std::string_view(*name) == fromKey;
    g_strfreev(names);
    // Own properties only: a key the page put on Object.prototype is not among them.
    if (count != (hasFrom ? 2u : 1u) || (hasPart && !hasFrom))
        return std::nullopt;
    std::optional<std::string> from;
    if (hasFrom) {
        auto mark = GObjectRef<JSCValue>::adopt(jsc_value_object_get_property(body, fromKey));
        if (!mark || !jsc_value_is_string(mark.get()))
            return std::nullopt;
        char* string = jsc_value_to_string(mark.get());
        from = string ? string : "";
        g_free(string);
    }
    auto value = GObjectRef<JSCValue>::adopt(jsc_value_object_get_property(body, hasPart ? partKey : textKey));
    if (!value || !jsc_value_is_string(value.get()))
        return std::nullopt;
    // Kept as WebKit hands it over: a large text is not copied again on the main thread.
    std::shared_ptr<GBytes> bytes(jsc_value_to_string_as_bytes(value.get()), g_bytes_unref);
    gsize size = 0;
    const auto* data = bytes ? static_cast<const char*>(g_bytes_get_data(bytes.get(), &size)) : nullptr;
    const Piece piece{bytes, std::string_view(data ? data : "", data ? size : 0)};

    Taken taken;
    if (hasPart)
        addPart(*from, piece);
    else if (from)
        taken.whole = finish(*from, piece);
    else
        taken.whole = Text{{piece}};
    return taken;
}

std::optional<PartedTexts::Text> PartedTexts::takePosted(JSCValue* body)
{
    if (auto taken = take(body))
        return std::move(taken->whole);
    log_("refused a value posted to the handler of long texts that is not part of one");
    return std::nullopt;
}

SignalConnection PartedTexts::connectPartsHandler(WebKitUserContentManager* manager, std::string_view handlerName,
                                                  std::function<void(JSCValue*)> received)
{
    const std::string name = partsHandlerName(handlerName);
    if (!webkit_user_content_manager_register_script_message_handler_with_reply(manager, name.c_str(), nullptr))
        return {};
    // WebKit replies (with undefined) when the handler returns without keeping the reply.
    const std::string signal = "script-message-with-reply-received::" + name;
    return SignalConnection::connect<gboolean(WebKitUserContentManager*, JSCValue*, WebKitScriptMessageReply*)>(
        manager, signal.c_str(), [received = std::move(received)](WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply*) -> gboolean {
            received(value);
            return TRUE;
        });
}

void PartedTexts::disconnectPartsHandler(WebKitUserContentManager* manager, std::string_view handlerName)
{
    webkit_user_content_manager_unregister_script_message_handler(manager, partsHandlerName(handlerName).c_str());
}

void PartedTexts::addPart(const std::string& from, Piece part)
{
    auto text = std::find_if(texts_.begin(), texts_.end(), [&](const Unfinished& item) { return item.from == from; });
    if (text == texts_.end()) {
        if (texts_.size() >= maximumTexts) {
            log_("dropped a long text of which only parts had come: too many frames post long texts at once");
            texts_.erase(texts_.begin());
        }
        texts_.push_back(Unfinished{from, {}, false});
        text = std::prev(texts_.end());
    }
    if (text->refused)
        return;
    // Kept as the parts came: joining them here would copy the text again and again on the
    // main thread.
    std::size_t total = part.text.size();
    for (const auto& item : texts_)
        total += item.text.size();
    if (total > maximumSize) {
        text->refused = true;
        text->text = {};
        return;
    }
    text->text.pieces.push_back(std::move(part));
}

std::optional<PartedTexts::Text> PartedTexts::finish(const std::string& from, Piece last)
{
    auto text = std::find_if(texts_.begin(), texts_.end(), [&](const Unfinished& item) { return item.from == from; });
    if (text == texts_.end()) {
        log_("received the end of a long text whose beginning is missing");
        return std::nullopt;
    }
    Unfinished taken = std::move(*text);
    texts_.erase(text);
    if (taken.refused || taken.text.size() + last.text.size() > maximumSize) {
        log_("refused a text of more than " + std::to_string(maximumSize >> 20) + " MiB");
        return std::nullopt;
    }
    taken.text.pieces.push_back(std::move(last));
    return std::move(taken.text);
}

} // namespace kx
