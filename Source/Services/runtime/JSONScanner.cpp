#include "Services/runtime/JSONScanner.h"

#include <cstring>
#include <vector>

#include "Services/runtime/JSONTape.h"
#include "Services/runtime/JSONValue.h"

namespace kx {

void JSONScanner::skipWhitespace()
{
    while (pos_ < text_.size()) {
        const char c = text_[pos_];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            break;
        ++pos_;
    }
}

bool JSONScanner::consume(char expected)
{
    skipWhitespace();
    if (peek() != expected)
        return false;
    ++pos_;
    return true;
}

bool JSONScanner::readString(std::string* out)
{
    skipWhitespace();
    if (peek() != '"')
        return false;
    const char* const start = text_.data() + pos_ + 1;
    bool escaped = false;
    const char* const close = JSONTape::scanString(start, text_.data() + text_.size(), escaped);
    if (!close)
        return false;
    if (out) {
        out->clear();
        JSONTape::appendUnescaped(std::string_view(start, static_cast<std::size_t>(close - start)), escaped, *out);
    }
    pos_ = static_cast<std::size_t>(close - text_.data()) + 1;
    return true;
}

bool JSONScanner::skipValue()
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
        // After a complete value: done, the next element, or the end of a container.
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

bool JSONScanner::parseDocument(nlohmann::json& out, int maximumDepth)
{
    JSONTape tape;
    const auto failure = tape.parse(text_.substr(pos_), maximumDepth);
    tooDeep_ = failure == JSONTape::Failure::tooDeep;
    if (failure != JSONTape::Failure::none)
        return false;
    out = JSONValue(tape, 0).toDocument();
    pos_ = text_.size();
    return true;
}

bool JSONScanner::readMemberName()
{
    return readString(nullptr) && consume(':');
}

bool JSONScanner::skipScalar()
{
    for (std::string_view literal : {"true", "false", "null"}) {
        if (text_.substr(pos_, literal.size()) == literal) {
            pos_ += literal.size();
            return true;
        }
    }
    // One number, by the grammar of JSON.
    const auto digits = [&] {
        const std::size_t from = pos_;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9')
            ++pos_;
        return pos_ > from;
    };
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

} // namespace kx
