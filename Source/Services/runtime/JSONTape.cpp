#include "Services/runtime/JSONTape.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "Platform/Foundation/Text.h"
#include "Services/runtime/JSONTextScan.h"

namespace kx {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

void skipWhitespace(const char*& p, const char* end)
{
    while (p < end && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t'))
        ++p;
}

// Four hex digits at p, or -1.
long readHex4(const char* p, const char* end)
{
    if (end - p < 4)
        return -1;
    long value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexDigitValue(p[i]);
        if (digit < 0)
            return -1;
        value = value << 4 | digit;
    }
    return value;
}

// Checks the escape at p (a backslash) and moves past it.
bool checkEscape(const char*& p, const char* end)
{
    if (end - p < 2)
        return false;
    switch (p[1]) {
    case '"':
    case '\\':
    case '/':
    case 'b':
    case 'f':
    case 'n':
    case 'r':
    case 't':
        p += 2;
        return true;
    case 'u':
        break;
    default:
        return false;
    }
    const long code = readHex4(p + 2, end);
    if (code < 0 || (code >= 0xDC00 && code <= 0xDFFF))
        return false;
    p += 6;
    if (code < 0xD800 || code > 0xDBFF)
        return true;
    // A high surrogate must be followed by the escape of a low one.
    if (end - p < 2 || p[0] != '\\' || p[1] != 'u')
        return false;
    const long low = readHex4(p + 2, end);
    if (low < 0xDC00 || low > 0xDFFF)
        return false;
    p += 6;
    return true;
}

void appendUTF8(std::string& out, std::uint32_t code)
{
    char bytes[4];
    std::size_t n = 0;
    if (code < 0x80) {
        bytes[n++] = static_cast<char>(code);
    } else if (code < 0x800) {
        bytes[n++] = static_cast<char>(0xC0 | (code >> 6));
        bytes[n++] = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        bytes[n++] = static_cast<char>(0xE0 | (code >> 12));
        bytes[n++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        bytes[n++] = static_cast<char>(0xF0 | (code >> 18));
        bytes[n++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | (code & 0x3F));
    }
    out.append(bytes, n);
}

} // namespace

JSONTape::Failure JSONTape::parse(std::string_view text, int maximumDepth)
{
    text_ = text;
    entries_.clear();
    const char* p = text.data();
    const char* const end = p + text.size();
    std::vector<std::size_t> open; // the entries of the containers we are inside

    // A member's name and its colon.
    const auto readKey = [&]() {
        skipWhitespace(p, end);
        if (p == end || *p != '"' || !readString(p, end))
            return false;
        skipWhitespace(p, end);
        if (p == end || *p != ':')
            return false;
        ++p;
        return true;
    };

    for (;;) {
        // A value is due.
        skipWhitespace(p, end);
        if (p == end)
            return Failure::syntax;
        const char c = *p;
        if (c == '{' || c == '[') {
            if (open.size() >= static_cast<std::size_t>(maximumDepth < 0 ? 0 : maximumDepth))
                return Failure::tooDeep;
            const bool isObject = c == '{';
            entries_.push_back({isObject ? Kind::object : Kind::array, false, 0, 0});
            ++p;
            skipWhitespace(p, end);
            if (p < end && *p == (isObject ? '}' : ']')) {
                ++p;
                entries_.back().payload = entries_.size();
            } else {
                open.push_back(entries_.size() - 1);
                entries_.back().size = 1;
                if (isObject && !readKey())
                    return Failure::syntax;
                continue;
            }
        } else if (c == '"') {
            if (!readString(p, end))
                return Failure::syntax;
        } else if (c == 't' || c == 'f' || c == 'n') {
            const std::string_view literal = c == 't' ? "true" : c == 'f' ? "false" : "null";
            if (static_cast<std::size_t>(end - p) < literal.size() || std::memcmp(p, literal.data(), literal.size()) != 0)
                return Failure::syntax;
            p += literal.size();
            entries_.push_back({c == 'n' ? Kind::null : Kind::boolean, c == 't', 0, 0});
        } else if (!readNumber(p, end)) {
            return Failure::syntax;
        }

        // A value is complete: the end, the next element, or the end of its container.
        for (;;) {
            skipWhitespace(p, end);
            if (open.empty())
                return p == end ? Failure::none : Failure::syntax;
            if (p == end)
                return Failure::syntax;
            Entry& container = entries_[open.back()];
            const bool isObject = container.kind == Kind::object;
            if (*p == ',') {
                ++p;
                if (container.size == std::numeric_limits<std::uint32_t>::max())
                    return Failure::syntax;
                ++container.size;
                if (isObject && !readKey())
                    return Failure::syntax;
                break;
            }
            if (*p != (isObject ? '}' : ']'))
                return Failure::syntax;
            ++p;
            container.payload = entries_.size();
            open.pop_back();
        }
    }
}

const char* JSONTape::scanString(const char* p, const char* end, bool& escaped)
{
    escaped = false;
    for (;;) {
        p = json_text::findSpecial(p, end);
        if (p == end)
            return nullptr;
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"')
            return p;
        if (c >= 0x80) {
            p = json_text::skipNonASCII(p, end);
            if (!p)
                return nullptr;
        } else if (c == '\\') {
            escaped = true;
            if (!checkEscape(p, end))
                return nullptr;
        } else {
            return nullptr; // a raw control character
        }
    }
}

bool JSONTape::readString(const char*& p, const char* end)
{
    const char* const start = p + 1; // past the opening quotation mark
    bool escaped = false;
    const char* const close = scanString(start, end, escaped);
    if (!close)
        return false;
    const auto length = static_cast<std::size_t>(close - start);
    if (length > std::numeric_limits<std::uint32_t>::max())
        return false;
    entries_.push_back({Kind::string, escaped, static_cast<std::uint32_t>(length),
                        static_cast<std::uint64_t>(start - text_.data())});
    p = close + 1;
    return true;
}

bool JSONTape::readNumber(const char*& p, const char* end)
{
    const char* const start = p;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    std::uint64_t magnitude = 0;
    int digits = 0;
    if (p < end && *p == '0') {
        ++p;
        digits = 1;
    } else if (p < end && isDigit(*p)) {
        for (; p < end && isDigit(*p); ++p, ++digits) {
            if (digits < 18)
                magnitude = magnitude * 10 + static_cast<std::uint64_t>(*p - '0');
        }
    } else {
        return false;
    }
    bool integer = true;
    if (p < end && *p == '.') {
        ++p;
        integer = false;
        if (p == end || !isDigit(*p))
            return false;
        while (p < end && isDigit(*p))
            ++p;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        integer = false;
        if (p < end && (*p == '+' || *p == '-'))
            ++p;
        if (p == end || !isDigit(*p))
            return false;
        while (p < end && isDigit(*p))
            ++p;
    }

    if (integer) {
        if (digits <= 18) {
            const auto value = static_cast<std::int64_t>(magnitude);
            entries_.push_back({Kind::integer, false, 0, static_cast<std::uint64_t>(negative ? -value : value)});
            return true;
        }
        std::int64_t value = 0;
        if (std::from_chars(start, p, value).ec == std::errc()) {
            entries_.push_back({Kind::integer, false, 0, static_cast<std::uint64_t>(value)});
            return true;
        }
        std::uint64_t natural = 0;
        if (!negative && std::from_chars(start, p, natural).ec == std::errc()) {
            entries_.push_back({Kind::unsignedInteger, false, 0, natural});
            return true;
        }
    }
    double number = 0;
    const auto result = std::from_chars(start, p, number);
    if (result.ec == std::errc::result_out_of_range) {
        // Underflow reads as (nearly) zero, as everywhere; overflow has no finite value.
        const std::string token(start, p);
        number = std::strtod(token.c_str(), nullptr);
        if (!std::isfinite(number))
            return false;
    } else if (result.ec != std::errc() || result.ptr != p) {
        return false;
    }
    std::uint64_t bits = 0;
    std::memcpy(&bits, &number, sizeof bits);
    entries_.push_back({Kind::floating, false, 0, bits});
    return true;
}

void JSONTape::appendUnescaped(std::string_view text, bool escaped, std::string& out)
{
    if (!escaped) {
        out.append(text);
        return;
    }
    out.reserve(out.size() + text.size());
    const char* p = text.data();
    const char* const end = p + text.size();
    // The escapes were checked when the tape was made.
    while (p < end) {
        const auto* slash = static_cast<const char*>(std::memchr(p, '\\', static_cast<std::size_t>(end - p)));
        if (!slash) {
            out.append(p, static_cast<std::size_t>(end - p));
            return;
        }
        out.append(p, static_cast<std::size_t>(slash - p));
        p = slash + 2;
        switch (slash[1]) {
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
            auto code = static_cast<std::uint32_t>(readHex4(p, end));
            p += 4;
            if (code >= 0xD800 && code <= 0xDBFF) {
                const auto low = static_cast<std::uint32_t>(readHex4(p + 2, end));
                p += 6;
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            }
            appendUTF8(out, code);
            break;
        }
        default: out += slash[1]; break; // '"', '\\' and '/'
        }
    }
}

} // namespace kx
