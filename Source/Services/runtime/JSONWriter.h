// Compact JSON text, written straight into one string: no whitespace, members in the order the
// coder writes them. Refuses what JSON cannot carry: non-finite numbers and text that is not
// UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Services/runtime/CodingErrors.h"

namespace kx {

class JSONWriter {
public:
    std::string& output() { return out_; }
    std::string take() { return std::move(out_); }

    void raw(char c) { out_ += c; }
    void raw(std::string_view text) { out_ += text; }

    void writeNull() { out_ += "null"; }
    void writeBool(bool value) { out_ += value ? "true" : "false"; }
    void writeInteger(std::int64_t value);
    // Throws EncodingError for NaN and infinities.
    void writeDouble(double value, const CodingPathNode* path);
    // Throws EncodingError when the text is not valid UTF-8.
    void writeString(std::string_view text, const CodingPathNode* path);
    // A member name known to need no escaping (a field name of a value type), with its colon.
    void writeKey(std::string_view plainName);

    // An object of name -> value pairs; writeMember(value, node) writes each value.
    template <class Members, class WriteMember>
    void writeMembers(const Members& members, const CodingPathNode* path, WriteMember&& writeMember)
    {
        raw('{');
        bool first = true;
        for (const auto& [key, member] : members) {
            if (!first)
                raw(',');
            first = false;
            const CodingPathNode node{path, key};
            writeString(key, &node);
            raw(':');
            writeMember(member, &node);
        }
        raw('}');
    }

    // The JSON string literal of a text, or nothing when the text is not valid UTF-8.
    static bool appendQuoted(std::string& out, std::string_view text);

private:
    std::string out_;
};

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates, at most U+10FFFF).
bool isValidUTF8(std::string_view text);

} // namespace kx
