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

// The unfinished texts of every handler of one view, oldest first, and their size.
struct PartedTexts::Unfinished {
    PartedTexts* owner;
    std::string from;
    Text text; // the parts so far, joined only once whole
    std::size_t size = 0;
    bool refused = false;
};

struct PartedTexts::Pending {
    std::vector<Unfinished> texts;
    std::size_t size = 0;
    std::size_t limit = PartedTexts::maximumSize;
};

namespace {

// Kept on the content manager, which every handler of the view shares.
constexpr const char* pendingKey = "kx-parted-texts";

std::string mebibytes(std::size_t size)
{
    return std::to_string((size + (1u << 20) - 1) >> 20) + " MiB";
}

} // namespace

PartedTexts::PartedTexts(std::function<void(const std::string&)> log, std::function<void()> lost)
    : log_(std::move(log))
    , lost_(std::move(lost))
    , pending_(std::make_shared<Pending>())
{
}

PartedTexts::~PartedTexts()
{
    clear();
}

void PartedTexts::clear()
{
    for (const auto& item : pending_->texts)
        if (item.owner == this)
            pending_->size -= item.size;
    std::erase_if(pending_->texts, [this](const Unfinished& item) { return item.owner == this; });
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
        taken.whole = admit(Text{{piece}});
    return taken;
}

std::optional<PartedTexts::Text> PartedTexts::admit(Text text) const
{
    if (text.size() <= pending_->limit)
        return text;
    log_("refused a text of more than " + mebibytes(pending_->limit) + " that came whole (" + mebibytes(text.size()) + ")");
    tellLost();
    return std::nullopt;
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
    if (auto shared = pendingOf(manager); shared != pending_) {
        clear(); // texts of an earlier view will not be finished
        pending_ = std::move(shared);
    }
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

std::shared_ptr<PartedTexts::Pending> PartedTexts::pendingOf(WebKitUserContentManager* manager)
{
    auto* shared = static_cast<std::shared_ptr<Pending>*>(g_object_get_data(G_OBJECT(manager), pendingKey));
    if (!shared) {
        shared = new std::shared_ptr<Pending>(std::make_shared<Pending>());
        g_object_set_data_full(G_OBJECT(manager), pendingKey, shared,
                               [](gpointer data) { delete static_cast<std::shared_ptr<Pending>*>(data); });
    }
    return *shared;
}

void PartedTexts::setMaximumSize(WebKitUserContentManager* manager, std::size_t size)
{
    pendingOf(manager)->limit = size;
}

void PartedTexts::disconnectPartsHandler(WebKitUserContentManager* manager, std::string_view handlerName)
{
    webkit_user_content_manager_unregister_script_message_handler(manager, partsHandlerName(handlerName).c_str());
}

PartedTexts::Unfinished* PartedTexts::find(const std::string& from)
{
    for (auto& item : pending_->texts)
        if (item.owner == this && item.from == from)
            return &item;
    return nullptr;
}

void PartedTexts::erase(const Unfinished* text)
{
    auto& texts = pending_->texts;
    pending_->size -= text->size;
    texts.erase(texts.begin() + (text - texts.data()));
}

void PartedTexts::dropOldest(const Unfinished* keep, const std::string& why)
{
    for (const auto& oldest : pending_->texts) {
        if (&oldest == keep)
            continue;
        // Said by the handler whose text it was.
        PartedTexts* owner = oldest.owner;
        owner->log_("dropped a long text of which only parts had come (" + mebibytes(oldest.size) + "): " + why);
        erase(&oldest);
        return owner->tellLost();
    }
}

void PartedTexts::refuse(Unfinished& text)
{
    log_("refused a text of more than " + mebibytes(pending_->limit) + " while its parts came");
    pending_->size -= text.size;
    text.text = {};
    text.size = 0;
    text.refused = true; // its later parts and its end are dropped without a word
    tellLost();
}

void PartedTexts::tellLost() const
{
    if (lost_)
        lost_();
}

void PartedTexts::addPart(const std::string& from, Piece part)
{
    Unfinished* text = find(from);
    if (!text) {
        if (pending_->texts.size() >= maximumTexts)
            dropOldest(nullptr, "too many frames post long texts at once");
        text = &pending_->texts.emplace_back(Unfinished{this, from, {}, 0, false});
    }
    if (text->refused)
        return;
    const std::size_t size = part.text.size();
    const std::size_t maximum = pending_->limit;
    if (text->size + size > maximum)
        return refuse(*text);
    // Room is made by the texts that have waited longest: a page that never ends its texts
    // loses them before a frame that is still posting its own.
    while (pending_->size + size > maximum) {
        dropOldest(text, "the texts still coming would pass " + mebibytes(maximum));
        text = find(from); // the list moved
    }
    // Kept as the parts came: joining them here would copy the text again and again on the
    // main thread.
    text->text.pieces.push_back(std::move(part));
    text->size += size;
    pending_->size += size;
}

std::optional<PartedTexts::Text> PartedTexts::finish(const std::string& from, Piece last)
{
    Unfinished* text = find(from);
    if (!text) {
        log_("received the end of a long text whose beginning is missing");
        return std::nullopt;
    }
    Unfinished taken = std::move(*text);
    erase(text);
    if (taken.refused)
        return std::nullopt;
    if (taken.size + last.text.size() > pending_->limit) {
        log_("refused a text of more than " + mebibytes(pending_->limit) + " at its end");
        tellLost();
        return std::nullopt;
    }
    taken.text.pieces.push_back(std::move(last));
    return std::move(taken.text);
}

} // namespace kx
