#include "App/application/Appcast.h"

#include <glib.h>

#include <cctype>
#include <cstring>

#include "Platform/Foundation/Text.h"

namespace kx {

namespace {

// The local name of an element or attribute ("sparkle:version" -> "version").
std::string_view localName(const char* name)
{
    const char* colon = std::strrchr(name, ':');
    return colon ? std::string_view(colon + 1) : std::string_view(name);
}

bool isPrefixed(const char* name)
{
    return std::strchr(name, ':') != nullptr;
}

struct ParseState {
    std::vector<Appcast::Item> items;
    std::optional<Appcast::Item> item;
    std::string element; // the element inside an item whose text is collected
    std::string text;
    std::size_t seen = 0; // items, counted or not
};

void startElement(GMarkupParseContext*, const char* name, const char** attributeNames, const char** attributeValues,
                  gpointer data, GError** error)
{
    auto* state = static_cast<ParseState*>(data);
    if (std::strcmp(name, "item") == 0) {
        if (++state->seen > Appcast::maximumItems) {
            g_set_error_literal(error, G_MARKUP_ERROR, G_MARKUP_ERROR_INVALID_CONTENT, "too many items");
            return;
        }
        state->item = Appcast::Item{};
        return;
    }
    if (!state->item)
        return;
    if (std::strcmp(name, "enclosure") == 0) {
        for (int i = 0; attributeNames[i]; ++i) {
            const std::string_view attribute = localName(attributeNames[i]);
            if (std::strcmp(attributeNames[i], "url") == 0)
                state->item->downloadURL = attributeValues[i];
            else if (isPrefixed(attributeNames[i]) && attribute == "version" && state->item->version.empty())
                state->item->version = attributeValues[i];
            else if (isPrefixed(attributeNames[i]) && attribute == "shortVersionString" && state->item->shortVersion.empty())
                state->item->shortVersion = attributeValues[i];
        }
        return;
    }
    state->element = name;
    state->text.clear();
}

void endElement(GMarkupParseContext*, const char* name, gpointer data, GError**)
{
    auto* state = static_cast<ParseState*>(data);
    if (std::strcmp(name, "item") == 0) {
        if (state->item && !state->item->version.empty() && Appcast::isAcceptableDownloadURL(state->item->downloadURL))
            state->items.push_back(std::move(*state->item));
        state->item.reset();
        return;
    }
    if (!state->item || state->element != name)
        return;
    const std::string_view local = localName(name);
    if (std::strcmp(name, "title") == 0)
        state->item->title = state->text;
    else if (isPrefixed(name) && local == "version")
        state->item->version = state->text;
    else if (isPrefixed(name) && local == "shortVersionString")
        state->item->shortVersion = state->text;
    state->element.clear();
}

void textOf(GMarkupParseContext*, const char* text, gsize length, gpointer data, GError**)
{
    auto* state = static_cast<ParseState*>(data);
    if (!state->element.empty() && state->text.size() + length <= 4096)
        state->text.append(text, length);
}

} // namespace

Result<Appcast, Error> Appcast::parse(std::string_view xml)
{
    auto failure = [](const std::string& why) {
        return Result<Appcast, Error>::failure(Error("KXUpdaterErrorDomain", 1000, "The update feed could not be read.", why));
    };
    if (xml.size() > maximumSize)
        return failure("The feed is too large.");
    ParseState state;
    GMarkupParser parser{startElement, endElement, textOf, nullptr, nullptr};
    GMarkupParseContext* context = g_markup_parse_context_new(&parser, G_MARKUP_PREFIX_ERROR_POSITION, &state, nullptr);
    GError* error = nullptr;
    const bool parsed = g_markup_parse_context_parse(context, xml.data(), gssize(xml.size()), &error)
        && g_markup_parse_context_end_parse(context, &error);
    g_markup_parse_context_free(context);
    if (!parsed) {
        std::string why = error ? error->message : "The feed is not XML.";
        g_clear_error(&error);
        return failure(why);
    }
    Appcast appcast;
    for (auto& item : state.items) {
        item.title = std::string(trimmed(item.title, " \t\r\n"));
        item.version = std::string(trimmed(item.version, " \t\r\n"));
        item.shortVersion = std::string(trimmed(item.shortVersion, " \t\r\n"));
        if (item.shortVersion.empty())
            item.shortVersion = item.version;
        appcast.items_.push_back(std::move(item));
    }
    return Result<Appcast, Error>::success(std::move(appcast));
}

std::optional<Appcast::Item> Appcast::newestItemAbove(const std::string& currentVersion) const
{
    std::optional<Item> newest;
    for (const auto& item : items_) {
        if (compareVersions(item.version, currentVersion) > 0
            && (!newest || compareVersions(item.version, newest->version) > 0))
            newest = item;
    }
    return newest;
}

int Appcast::compareVersions(std::string_view a, std::string_view b)
{
    // Parts are runs of digits or of other characters; "." and "-" only separate.
    auto next = [](std::string_view& text) -> std::string_view {
        while (!text.empty() && (text.front() == '.' || text.front() == '-' || text.front() == ' '))
            text.remove_prefix(1);
        if (text.empty())
            return {};
        const bool digits = std::isdigit(static_cast<unsigned char>(text.front()));
        std::size_t length = 0;
        while (length < text.size() && text[length] != '.' && text[length] != '-' && text[length] != ' '
               && bool(std::isdigit(static_cast<unsigned char>(text[length]))) == digits)
            ++length;
        auto part = text.substr(0, length);
        text.remove_prefix(length);
        return part;
    };
    for (;;) {
        const std::string_view left = next(a);
        const std::string_view right = next(b);
        if (left.empty() && right.empty())
            return 0;
        // "1.0" and "1.0.0" are the same; "1.0b1" comes before "1.0".
        if (left.empty())
            return std::isdigit(static_cast<unsigned char>(right.front())) ? (right.find_first_not_of('0') == std::string_view::npos ? 0 : -1) : 1;
        if (right.empty())
            return std::isdigit(static_cast<unsigned char>(left.front())) ? (left.find_first_not_of('0') == std::string_view::npos ? 0 : 1) : -1;
        const bool leftNumber = std::isdigit(static_cast<unsigned char>(left.front()));
        const bool rightNumber = std::isdigit(static_cast<unsigned char>(right.front()));
        if (leftNumber && rightNumber) {
            auto strip = [](std::string_view n) {
                const auto first = n.find_first_not_of('0');
                return first == std::string_view::npos ? std::string_view() : n.substr(first);
            };
            const auto l = strip(left);
            const auto r = strip(right);
            if (l.size() != r.size())
                return l.size() < r.size() ? -1 : 1;
            if (const int order = l.compare(r); order != 0)
                return order < 0 ? -1 : 1;
        } else if (leftNumber != rightNumber) {
            return leftNumber ? 1 : -1; // a number part is newer than a tag such as "b"
        } else if (const int order = left.compare(right); order != 0) {
            return order < 0 ? -1 : 1;
        }
    }
}

bool Appcast::isAcceptableDownloadURL(const std::string& url)
{
    GUri* uri = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!uri)
        return false;
    const char* scheme = g_uri_get_scheme(uri);
    const char* host = g_uri_get_host(uri);
    const bool loopback = g_strcmp0(host, "127.0.0.1") == 0 || g_strcmp0(host, "localhost") == 0 || g_strcmp0(host, "::1") == 0;
    const bool acceptable = host && *host && !g_uri_get_userinfo(uri)
        && (g_strcmp0(scheme, "https") == 0 || (g_strcmp0(scheme, "http") == 0 && loopback));
    g_uri_unref(uri);
    return acceptable;
}

} // namespace kx
