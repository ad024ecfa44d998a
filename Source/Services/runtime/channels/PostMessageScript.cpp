// The pure halves of PostMessageChannel: the outbound function and texts, the script that
// wraps the page's handler, and the inbound parser. No GTK here, so that the fuzzer builds
// them alone.
#include <cstdint>
#include <vector>

#include "Services/runtime/JSONScanner.h"
#include "Services/runtime/JSONWriter.h"
#include "Services/runtime/channels/PostMessageChannel.h"

namespace kx {

namespace {

// The JSON string literal of a field, or the script value undefined when it has none.
std::string stringLiteral(std::string_view text)
{
    std::string out;
    if (!JSONWriter::appendQuoted(out, text))
        return "undefined";
    return out;
}

// One of the four string members of the envelope: missing, present as a string, or present
// with another kind of value.
struct StringMember {
    enum class State { missing, string, other } state = State::missing;
    std::string value;
};

} // namespace

std::string PostMessageChannel::textScript(std::string_view handlerName, Posting posting)
{
    // Taken before any script of the page runs, so that the page's later changes to JSON, to
    // the handler or to the built-ins used here do not reach it. Only what JSON.stringify turns
    // into an object's text goes as text: anything else (a string, a number, a value with a
    // cycle) goes as it was.
    //
    // WebKit turns each posted text into a string of the native side on its main thread, at a
    // cost that grows with the text. A long text therefore goes in parts (PartedTexts), to the
    // handler beside this one that replies once the native side has taken a part, and no more
    // than PartedTexts::partsInFlight parts go unanswered: WebKit would otherwise hand over
    // every part that has piled up in one go, and the native main loop would stand still for
    // all of them. (Two, not one, so that this process makes the next part while ours takes
    // the one before.) A part whose reply does not come within a second counts as answered;
    // where that handler is missing, the parts go to this one, a timer turn apart. What the
    // page posts meanwhile waits behind the parts, in order, and a page that goes hands over
    // everything still waiting before it goes. A part never ends between the two halves of a
    // surrogate pair.
    const bool strings = posting == Posting::strings;
    std::string text = "(function () {\n"
                       "  var handlers = window.webkit && window.webkit.messageHandlers;\n"
                       "  var handler = handlers && handlers[";
    text += stringLiteral(handlerName);
    text += "];\n"
            "  if (!handler) return;\n"
            "  var parts = handlers[";
    text += stringLiteral(PartedTexts::partsHandlerName(handlerName));
    text += "] || handler;\n"
            "  var post = handler.postMessage, stringify = JSON.stringify, call = Function.prototype.call;\n"
            "  var then = Promise.prototype.then;\n"
            "  var slice = String.prototype.slice, charCodeAt = String.prototype.charCodeAt;\n"
            "  var push = Array.prototype.push, shift = Array.prototype.shift;\n"
            "  var from = call.call(slice, String(Math.random()), 2) + \"-\" + String(Date.now());\n"
            "  var queue = [], draining = false, later = window.setTimeout, inFlight = 0;\n"
            "  var partLength = ";
    text += std::to_string(PartedTexts::partLength);
    text += ";\n"
            "  var objectsAsText = ";
    text += strings ? "false" : "true";
    text += ";\n"
            "  function wrap(key, value, marked) {\n"
            "    var wrapped = {};\n"
            "    wrapped[key] = value;\n"
            "    if (marked) wrapped[";
    text += stringLiteral(PartedTexts::fromKey);
    text += "] = from;\n"
            "    return wrapped;\n"
            "  }\n"
            "  function drain(all) {\n"
            "    while (queue.length) {\n"
            "      var next = queue[0], windowed = next.parted && parts !== handler;\n"
            "      if (windowed && !all && inFlight >= ";
    text += std::to_string(PartedTexts::partsInFlight);
    text += ") return;\n"
            "      call.call(shift, queue);\n"
            "      var sent;\n"
            "      try { sent = call.call(post, windowed ? parts : handler, next.value); } catch (error) {}\n"
            "      if (windowed) {\n"
            "        if (sent !== null && typeof sent === \"object\") {\n"
            "          inFlight += 1;\n"
            "          var settle = settler();\n"
            "          try { call.call(then, sent, settle, settle); } catch (error) {}\n"
            "          call.call(later, window, settle, 1000);\n"
            "        }\n"
            "      } else if (parts === handler && queue.length && !all) {\n"
            "        return void call.call(later, window, turn, 0);\n"
            "      }\n"
            "    }\n"
            "    draining = false;\n"
            "  }\n"
            "  function settler() {\n"
            "    var settled = false;\n"
            "    return function () { if (!settled) { settled = true; inFlight -= 1; turn(); } };\n"
            "  }\n"
            "  function turn() { if (draining) drain(false); }\n"
            "  window.addEventListener(\"pagehide\", function () { drain(true); }, true);\n"
            "  Object.defineProperty(handler, \"postMessage\", { value: function (message) {\n"
            "    var text;\n"
            "    if (!objectsAsText) {\n"
            "      if (typeof message === \"string\") text = message;\n"
            "    } else if (message !== null && typeof message === \"object\") {\n"
            "      try { text = stringify(message); } catch (error) { text = undefined; }\n"
            "      if (typeof text === \"string\" && text.charAt(0) !== \"{\") text = undefined;\n"
            "    }\n"
            "    var items = [];\n"
            "    if (typeof text !== \"string\" || (!objectsAsText && text.length <= partLength)) {\n"
            "      items[0] = message;\n"
            "    } else if (text.length <= partLength) {\n"
            "      items[0] = wrap(";
    text += stringLiteral(PartedTexts::textKey);
    text += ", text, false);\n"
            "    } else {\n"
            "      for (var start = 0; ;) {\n"
            "        var end = start + partLength;\n"
            "        if (end >= text.length) {\n"
            "          call.call(push, items, wrap(";
    text += stringLiteral(PartedTexts::textKey);
    text += ", call.call(slice, text, start), true));\n"
            "          break;\n"
            "        }\n"
            "        var unit = call.call(charCodeAt, text, end - 1);\n"
            "        if (unit >= 0xD800 && unit <= 0xDBFF) end -= 1;\n"
            "        call.call(push, items, wrap(";
    text += stringLiteral(PartedTexts::partKey);
    text += ", call.call(slice, text, start, end), true));\n"
            "        start = end;\n"
            "      }\n"
            "    }\n"
            "    if (!draining && items.length === 1) return call.call(post, handler, items[0]);\n"
            "    for (var i = 0; i < items.length; ++i) call.call(push, queue, { value: items[i], parted: items.length > 1 });\n"
            "    if (!draining) {\n"
            "      draining = true;\n"
            "      drain(false);\n"
            "    }\n"
            "  } });\n"
            "})();\n";
    return text;
}

const std::string& PostMessageChannel::postingFunction()
{
    // One function, the same text every time, called with the message as its arguments: the
    // page compiles nothing new per message, however large the body. Both texts are parsed
    // there: WebKit hands two strings over faster than an object of fields. A body that does
    // not parse posts nothing, as a script that did not compile did.
    static const std::string function = "const m = JSON.parse(e);\n"
                                        "let value;\n"
                                        "if (m.b) { try { value = JSON.parse(t); } catch (error) { return; } }\n"
                                        "window.postMessage({ __postMessageChannelSource: m.source, type: m.type, id: m.id,"
                                        " serviceId: m.serviceId, method: m.method, body: value }, \"*\");";
    return function;
}

PostMessageChannel::PostingTexts PostMessageChannel::postingTexts(const Message& message, std::string_view handlerName)
{
    PostingTexts texts;
    std::string& envelope = texts.envelope;
    // Appended, not assigned: GCC 12 takes a one-character literal assigned to a string for an
    // overlapping copy (GCC PR 105329), at -O2 too when this file is compiled on its own.
    envelope += '{';
    auto add = [&](const char* name, std::string_view text) {
        std::string quoted;
        if (!JSONWriter::appendQuoted(quoted, text))
            return;
        if (envelope.size() > 1)
            envelope += ',';
        envelope += '"';
        envelope += name;
        envelope += "\":";
        envelope += quoted;
    };
    add("source", handlerName);
    add("type", rawValue(message.type));
    add("id", message.id);
    add("serviceId", message.serviceId);
    add("method", message.method);
    if (message.body && message.body->json != "undefined" && isValidUTF8(message.body->json)) {
        envelope += envelope.size() > 1 ? ",\"b\":true" : "\"b\":true";
        texts.body = message.body->json;
    }
    envelope += '}';
    return texts;
}

std::optional<ServiceChannel::Message> PostMessageChannel::parseMessage(std::string_view json)
{
    JSONScanner scanner(json);
    StringMember type, id, serviceId, method;
    std::optional<std::string_view> body;
    bool bodyIsContainer = false;

    if (!scanner.consume('{'))
        return std::nullopt;
    scanner.skipWhitespace();
    if (scanner.peek() == '}') {
        scanner.consume('}');
    } else {
        for (;;) {
            std::string key;
            if (!scanner.readString(&key) || !scanner.consume(':'))
                return std::nullopt;
            StringMember* member = key == "type" ? &type
                : key == "id"                    ? &id
                : key == "serviceId"             ? &serviceId
                : key == "method"                ? &method
                                                 : nullptr;
            scanner.skipWhitespace();
            const std::size_t start = scanner.position();
            if (member && scanner.peek() == '"') {
                if (!scanner.readString(&member->value))
                    return std::nullopt;
                member->state = StringMember::State::string;
            } else {
                if (!scanner.skipValue())
                    return std::nullopt;
                if (member)
                    member->state = StringMember::State::other;
            }
            if (key == "body") {
                // Page text comes from JSON.stringify and is compact already.
                body = scanner.slice(start, scanner.position());
                bodyIsContainer = !body->empty() && (body->front() == '{' || body->front() == '[');
            }
            if (scanner.consume(','))
                continue;
            if (scanner.consume('}'))
                break;
            return std::nullopt;
        }
    }
    scanner.skipWhitespace();
    if (!scanner.atEnd())
        return std::nullopt;

    for (const StringMember* member : {&type, &id, &serviceId, &method}) {
        if (member->state != StringMember::State::string)
            return std::nullopt;
    }
    const auto messageType = enumFromRawValue<MessageType>(type.value);
    if (!messageType)
        return std::nullopt;

    Message message{*messageType, std::move(id.value), std::move(serviceId.value), std::move(method.value), std::nullopt};
    if (body && bodyIsContainer)
        message.body = MessageBody{std::string(*body)};
    return message;
}

} // namespace kx
