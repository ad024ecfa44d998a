#include "Services/runtime/JSONWriter.h"

#include <charconv>
#include <cmath>

#include "Platform/Foundation/Text.h"
#include "Services/runtime/JSONTextScan.h"

namespace kx {

bool isValidUTF8(std::string_view text)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    for (;;) {
        p = json_text::findNonASCII(p, end);
        if (p == end)
            return true;
        p = json_text::skipNonASCII(p, end);
        if (!p)
            return false;
    }
}

bool JSONWriter::appendQuoted(std::string& out, std::string_view text)
{
    const std::size_t start = out.size();
    // Room up front for the text and a few escapes, so that large text is copied in runs
    // without growing the output on the way.
    out.reserve(start + text.size() + text.size() / 16 + 2);
    out += '"';
    const char* p = text.data();
    const char* const end = p + text.size();
    const char* run = p; // start of the pending run of bytes copied as they are
    for (;;) {
        p = json_text::findSpecial(p, end);
        if (p == end)
            break;
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x80) {
            p = json_text::skipNonASCII(p, end);
            if (!p) {
                out.resize(start);
                return false;
            }
            continue;
        }
        out.append(run, static_cast<std::size_t>(p - run));
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default: {
            const char escape[] = {'\\', 'u', '0', '0', hexDigit(c >> 4), hexDigit(c)};
            out.append(escape, sizeof escape);
        }
        }
        run = ++p;
    }
    out.append(run, static_cast<std::size_t>(end - run));
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
