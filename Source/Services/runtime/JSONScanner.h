// A strict reader of JSON text (RFC 8259) over one buffer, piece by piece, written for speed on
// large bodies: strings are checked sixteen bytes at a time and copied in runs, UTF-8 is
// checked as it goes, and nothing is looked at twice. The inbound parser of the web-view
// channel uses its pieces to read the envelope and skip the body without building it; whole
// documents are read by JSONTape, with the same rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace kx {

class JSONScanner {
public:
    explicit JSONScanner(std::string_view text)
        : text_(text)
    {
    }

    std::size_t position() const { return pos_; }
    bool atEnd() const { return pos_ == text_.size(); }
    std::string_view slice(std::size_t from, std::size_t to) const { return text_.substr(from, to - from); }
    char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }

    void skipWhitespace();
    // Skips whitespace, then takes `expected` if it comes next.
    bool consume(char expected);

    // Reads a string token into `out` (nullptr to check and skip it). False for malformed text,
    // raw control characters, invalid UTF-8 and unpaired surrogates.
    bool readString(std::string* out);
    // Checks and skips one value of any kind. Nesting is followed with an explicit stack, so
    // hostile depth costs memory, never the call stack.
    bool skipValue();

    // One whole JSON text as a document, or false. Containers nested deeper than `maximumDepth`
    // are refused (tooDeep() tells). Numbers: integers that fit 64 bits signed are integers,
    // larger non-negative ones unsigned, everything else a finite double; overflow is refused.
    bool parseDocument(nlohmann::json& out, int maximumDepth);
    bool tooDeep() const { return tooDeep_; }

private:
    bool readMemberName();
    bool skipScalar();

    std::string_view text_;
    std::size_t pos_ = 0;
    bool tooDeep_ = false;
};

} // namespace kx
