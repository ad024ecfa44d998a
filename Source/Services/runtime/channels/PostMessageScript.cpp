// The pure halves of PostMessageChannel: the outbound script and the inbound parser. No GTK
// here, so that the fuzzer builds them alone.
#include <cstdint>
#include <vector>

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

// A strict reader of JSON text (RFC 8259) that understands only what the envelope needs:
// strings are decoded, every other value is checked and skipped. Nesting is followed with an
// explicit stack, so hostile depth costs memory, never the call stack.
class Scanner {
public:
    explicit Scanner(std::string_view text)
        : text_(text)
    {
    }

    std::size_t position() const { return pos_; }
    bool atEnd() const { return pos_ == text_.size(); }
    std::string_view slice(std::size_t from, std::size_t to) const { return text_.substr(from, to - from); }
    char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }

    void skipWhitespace()
    {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
                break;
            ++pos_;
        }
    }

    bool consume(char expected)
    {
        skipWhitespace();
        if (peek() != expected)
            return false;
        ++pos_;
        return true;
    }

    // Reads a string token into `out` (UTF-8). False for malformed text, raw control
    // characters, invalid UTF-8 and unpaired surrogates.
    bool readString(std::string* out)
    {
        skipWhitespace();
        if (peek() != '"')
            return false;
        ++pos_;
        const std::size_t start = pos_;
        // Fast path: no escapes, as in nearly every key and id.
        while (pos_ < text_.size()) {
            const unsigned char c = static_cast<unsigned char>(text_[pos_]);
            if (c == '"' || c == '\\' || c < 0x20)
                break;
            ++pos_;
        }
        if (!isValidUTF8(text_.substr(start, pos_ - start)))
            return false;
        if (out)
            out->assign(text_.data() + start, pos_ - start);
        while (pos_ < text_.size()) {
            const unsigned char c = static_cast<unsigned char>(text_[pos_]);
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c != '\\') {
                const std::size_t runStart = pos_;
                while (pos_ < text_.size()) {
                    const unsigned char d = static_cast<unsigned char>(text_[pos_]);
                    if (d == '"' || d == '\\' || d < 0x20)
                        break;
                    ++pos_;
                }
                const auto run = text_.substr(runStart, pos_ - runStart);
                if (!isValidUTF8(run))
                    return false;
                if (out)
                    out->append(run);
                continue;
            }
            if (!readEscape(out))
                return false;
        }
        return false;
    }

    // Checks and skips one value of any kind.
    bool skipValue()
    {
        std::vector<char> open; // the closing bracket of every container we are inside
        bool expectValue = true;
        for (;;) {
            skipWhitespace();
            if (expectValue) {
                const char c = peek();
                if (c == '{' || c == '[') {
                    ++pos_;
                    skipWhitespace();
                    const char close = c == '{' ? '}' : ']';
                    if (peek() == close) {
                        ++pos_;
                    } else {
                        open.push_back(close);
                        if (close == '}' && !readMemberName())
                            return false;
                        continue;
                    }
                } else if (c == '"') {
                    if (!readString(nullptr))
                        return false;
                } else if (!skipScalar()) {
                    return false;
                }
                expectValue = false;
            }
            // After a complete value: done, next element, or close containers.
            if (open.empty())
                return true;
            skipWhitespace();
            const char c = peek();
            if (c == ',') {
                ++pos_;
                if (open.back() == '}' && !readMemberName())
                    return false;
                expectValue = true;
            } else if (c == open.back()) {
                ++pos_;
                open.pop_back();
            } else {
                return false;
            }
        }
    }

private:
    bool readMemberName()
    {
        return readString(nullptr) && consume(':');
    }

    bool skipScalar()
    {
        for (std::string_view literal : {"true", "false", "null"}) {
            if (text_.substr(pos_, literal.size()) == literal) {
                pos_ += literal.size();
                return true;
            }
        }
        return skipNumber();
    }

    bool digits()
    {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9')
            ++pos_;
        return pos_ > start;
    }

    bool skipNumber()
    {
        if (peek() == '-')
            ++pos_;
        if (peek() == '0')
            ++pos_;
        else if (!digits())
            return false;
        if (peek() == '.') {
            ++pos_;
            if (!digits())
                return false;
        }
        if (peek() == 'e' || peek() == 'E') {
            ++pos_;
            if (peek() == '+' || peek() == '-')
                ++pos_;
            if (!digits())
                return false;
        }
        return true;
    }

    bool readHex4(std::uint32_t& value)
    {
        if (text_.size() - pos_ < 4)
            return false;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_++];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    bool readEscape(std::string* out)
    {
        ++pos_; // the backslash
        if (atEnd())
            return false;
        const char c = text_[pos_++];
        char plain = 0;
        switch (c) {
        case '"': plain = '"'; break;
        case '\\': plain = '\\'; break;
        case '/': plain = '/'; break;
        case 'b': plain = '\b'; break;
        case 'f': plain = '\f'; break;
        case 'n': plain = '\n'; break;
        case 'r': plain = '\r'; break;
        case 't': plain = '\t'; break;
        case 'u': return readUnicodeEscape(out);
        default: return false;
        }
        if (out)
            *out += plain;
        return true;
    }

    bool readUnicodeEscape(std::string* out)
    {
        std::uint32_t code = 0;
        if (!readHex4(code))
            return false;
        if (code >= 0xDC00 && code <= 0xDFFF)
            return false;
        if (code >= 0xD800 && code <= 0xDBFF) {
            std::uint32_t low = 0;
            if (text_.substr(pos_, 2) != "\\u")
                return false;
            pos_ += 2;
            if (!readHex4(low) || low < 0xDC00 || low > 0xDFFF)
                return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        if (out)
            appendUTF8(*out, code);
        return true;
    }

    static void appendUTF8(std::string& out, std::uint32_t code)
    {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

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
    text += "window.postMessage({\n    __postMessageChannelSource: \"";
    text += handlerName;
    text += "\",\n    type: ";
    text += type;
    text += ",\n    id: ";
    text += id;
    text += ",\n    serviceId: ";
    text += serviceId;
    text += ",\n    method: ";
    text += method;
    text += ",\n    body: ";
    text += body;
    text += "\n}, \"*\");";
    return text;
}

std::optional<ServiceChannel::Message> PostMessageChannel::parseMessage(std::string_view json)
{
    Scanner scanner(json);
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
