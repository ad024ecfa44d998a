#include "Services/runtime/JSONWriter.h"

#include <charconv>
#include <cmath>

namespace kx {

namespace {

// Length of the well-formed UTF-8 sequence starting at text[i], or 0.
std::size_t sequenceLength(std::string_view text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    const std::size_t left = text.size() - i;
    const auto continuation = [&](std::size_t k) { return (byte(k) & 0xC0) == 0x80; };
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return left >= 2 && continuation(i + 1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (left < 3 || !continuation(i + 1) || !continuation(i + 2))
            return 0;
        const unsigned char c1 = byte(i + 1);
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F))
            return 0; // overlong, or a surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (left < 4 || !continuation(i + 1) || !continuation(i + 2) || !continuation(i + 3))
            return 0;
        const unsigned char c1 = byte(i + 1);
        if ((c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F))
            return 0;
        return 4;
    }
    return 0;
}

} // namespace

bool isValidUTF8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        // Plain ASCII runs are the common case.
        while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80)
            ++i;
        if (i == text.size())
            break;
        const std::size_t n = sequenceLength(text, i);
        if (!n)
            return false;
        i += n;
    }
    return true;
}

bool JSONWriter::appendQuoted(std::string& out, std::string_view text)
{
    static constexpr char hex[] = "0123456789abcdef";
    const std::size_t start = out.size();
    out.reserve(out.size() + text.size() + 2);
    out += '"';
    std::size_t run = 0; // start of the pending run of bytes copied as they are
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\' && c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0x80) {
            const std::size_t n = sequenceLength(text, i);
            if (!n) {
                out.resize(start);
                return false;
            }
            i += n;
            continue;
        }
        out.append(text.data() + run, i - run);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
        run = ++i;
    }
    out.append(text.data() + run, text.size() - run);
    out += '"';
    return true;
}

void JSONWriter::writeInteger(std::int64_t value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, result.ptr);
}

void JSONWriter::writeDouble(double value, const CodingPathNode* path)
{
    if (!std::isfinite(value))
        throw EncodingError::invalidValue(path, "Unable to encode " + std::to_string(value) + " directly in JSON.");
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, result.ptr);
}

void JSONWriter::writeString(std::string_view text, const CodingPathNode* path)
{
    if (!appendQuoted(out_, text))
        throw EncodingError::invalidValue(path, "Unable to encode a string that is not valid UTF-8.");
}

void JSONWriter::writeKey(std::string_view plainName)
{
    out_ += '"';
    out_ += plainName;
    out_ += "\":";
}

} // namespace kx
