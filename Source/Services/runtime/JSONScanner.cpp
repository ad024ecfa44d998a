#include "Services/runtime/JSONScanner.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "Services/runtime/JSONWriter.h"

namespace kx {

namespace {

bool endsRun(unsigned char c)
{
    return c == '"' || c == '\\' || c < 0x20;
}

} // namespace

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
    ++pos_;
    if (out)
        out->clear();
    while (pos_ < text_.size()) {
        const std::size_t runStart = pos_;
        while (pos_ < text_.size() && !endsRun(static_cast<unsigned char>(text_[pos_])))
            ++pos_;
        if (pos_ > runStart) {
            // Runs end only at ASCII bytes, so no UTF-8 sequence is ever split between two.
            const auto run = text_.substr(runStart, pos_ - runStart);
            if (!isValidUTF8(run))
                return false;
            if (out)
                out->append(run);
        }
        if (pos_ == text_.size())
            return false;
        const unsigned char c = static_cast<unsigned char>(text_[pos_]);
        if (c == '"') {
            ++pos_;
            return true;
        }
        if (c < 0x20 || !readEscape(out))
            return false;
    }
    return false;
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
    maximumDepth_ = maximumDepth;
    tooDeep_ = false;
    if (!readValue(out, 0))
        return false;
    skipWhitespace();
    return atEnd();
}

bool JSONScanner::readValue(nlohmann::json& out, int depth)
{
    skipWhitespace();
    const char c = peek();
    if (c == '{' || c == '[') {
        if (depth >= maximumDepth_) {
            tooDeep_ = true;
            return false;
        }
        ++pos_;
        if (c == '{') {
            out = nlohmann::json::object();
            auto& object = out.get_ref<nlohmann::json::object_t&>();
            if (consume('}'))
                return true;
            std::string key;
            do {
                if (!readString(&key) || !consume(':'))
                    return false;
                nlohmann::json value;
                if (!readValue(value, depth + 1))
                    return false;
                object.insert_or_assign(std::move(key), std::move(value)); // the last of equal names wins
            } while (consume(','));
            return consume('}');
        }
        out = nlohmann::json::array();
        auto& array = out.get_ref<nlohmann::json::array_t&>();
        if (consume(']'))
            return true;
        do {
            array.emplace_back();
            if (!readValue(array.back(), depth + 1))
                return false;
        } while (consume(','));
        return consume(']');
    }
    if (c == '"') {
        std::string text;
        if (!readString(&text))
            return false;
        out = std::move(text);
        return true;
    }
    if (c == 't' || c == 'f' || c == 'n') {
        const std::string_view literal = c == 't' ? "true" : c == 'f' ? "false" : "null";
        if (text_.substr(pos_, literal.size()) != literal)
            return false;
        pos_ += literal.size();
        if (c == 'n')
            out = nullptr;
        else
            out = c == 't';
        return true;
    }
    return readNumber(out);
}

bool JSONScanner::readNumber(nlohmann::json& out)
{
    const std::size_t start = pos_;
    bool isInteger = false;
    if (!skipNumber(&isInteger))
        return false;
    const char* first = text_.data() + start;
    const char* last = text_.data() + pos_;
    if (isInteger) {
        std::int64_t integer = 0;
        if (std::from_chars(first, last, integer).ec == std::errc())
            return out = integer, true;
        std::uint64_t natural = 0;
        if (*first != '-' && std::from_chars(first, last, natural).ec == std::errc())
            return out = natural, true;
    }
    double number = 0;
    const auto result = std::from_chars(first, last, number);
    if (result.ec == std::errc::result_out_of_range) {
        // Underflow reads as (nearly) zero, as everywhere; overflow has no finite value.
        const std::string token(first, last);
        number = std::strtod(token.c_str(), nullptr);
        if (!std::isfinite(number))
            return false;
    } else if (result.ec != std::errc() || result.ptr != last) {
        return false;
    }
    out = number;
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
    return skipNumber();
}

bool JSONScanner::digits()
{
    const std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9')
        ++pos_;
    return pos_ > start;
}

bool JSONScanner::skipNumber(bool* isInteger)
{
    bool integer = true;
    if (peek() == '-')
        ++pos_;
    if (peek() == '0')
        ++pos_;
    else if (!digits())
        return false;
    if (peek() == '.') {
        ++pos_;
        integer = false;
        if (!digits())
            return false;
    }
    if (peek() == 'e' || peek() == 'E') {
        ++pos_;
        integer = false;
        if (peek() == '+' || peek() == '-')
            ++pos_;
        if (!digits())
            return false;
    }
    if (isInteger)
        *isInteger = integer;
    return true;
}

bool JSONScanner::readHex4(std::uint32_t& value)
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

bool JSONScanner::readEscape(std::string* out)
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

bool JSONScanner::readUnicodeEscape(std::string* out)
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

void JSONScanner::appendUTF8(std::string& out, std::uint32_t code)
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

} // namespace kx
