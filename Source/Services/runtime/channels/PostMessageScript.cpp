// The pure halves of PostMessageChannel: the outbound script and the inbound parser. No GTK
// here, so that the fuzzer builds them alone.
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

std::string PostMessageChannel::script(const Message& message, std::string_view handlerName)
{
    const bool bodyIsText = message.body && isValidUTF8(message.body->json);
    const std::string_view body = bodyIsText ? std::string_view(message.body->json) : std::string_view("undefined");
    const std::string type = stringLiteral(rawValue(message.type));
    const std::string id = stringLiteral(message.id);
    const std::string serviceId = stringLiteral(message.serviceId);
    const std::string method = stringLiteral(message.method);

    std::string text;
    text.reserve(body.size() + id.size() + serviceId.size() + method.size() + handlerName.size() + 128);
    for (std::string_view piece : {std::string_view("window.postMessage({\n    __postMessageChannelSource: \""), handlerName,
                                   std::string_view("\",\n    type: "), std::string_view(type),
                                   std::string_view(",\n    id: "), std::string_view(id),
                                   std::string_view(",\n    serviceId: "), std::string_view(serviceId),
                                   std::string_view(",\n    method: "), std::string_view(method),
                                   std::string_view(",\n    body: "), body, std::string_view("\n}, \"*\");")})
        text += piece;
    return text;
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
