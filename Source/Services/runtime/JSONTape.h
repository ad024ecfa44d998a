// One JSON text read in a single strict pass (RFC 8259) into a flat list of its values, in
// text order: scalars with their numbers already read, strings as places in the text, and each
// object or array with its count and the place where it ends, so that a reader skips any value
// at once. Nothing is copied: the text must outlive the tape. The typed decoder walks the tape
// (JSONValue) and copies each string once, straight into the value it builds; documents for
// the untyped readers are built from it too.
//
// Refused: anything that is not exactly one JSON value with optional whitespace around it,
// raw control characters and invalid UTF-8 in strings, unpaired surrogate escapes, numbers too
// large for a double, and containers nested deeper than the given depth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

class JSONTape {
public:
    enum class Kind : std::uint8_t { null, boolean, integer, unsignedInteger, floating, string, object, array };
    enum class Failure { none, syntax, tooDeep };

    struct Entry {
        Kind kind = Kind::null;
        bool flag = false;      // a boolean's value; a string that holds escapes
        std::uint32_t size = 0; // a string's length in the text; a container's number of elements or members
        // An integer's bits or a double's; a string's offset in the text; a container's
        // index of the first entry after it.
        std::uint64_t payload = 0;
    };

    // Reads one whole JSON text. Numbers: an integer that fits 64 bits signed is an integer, a
    // larger non-negative one that fits 64 bits unsigned is unsigned, every other number is a
    // finite double. In an object, a member follows its name's string entry.
    Failure parse(std::string_view text, int maximumDepth);

    std::string_view text() const { return text_; }
    std::size_t size() const { return entries_.size(); }
    const Entry& operator[](std::size_t index) const { return entries_[index]; }
    // The index of the first entry after the value at `index`.
    std::size_t next(std::size_t index) const
    {
        const Entry& entry = entries_[index];
        return entry.kind == Kind::object || entry.kind == Kind::array ? static_cast<std::size_t>(entry.payload) : index + 1;
    }

    // A string entry's text as written, escapes included.
    std::string_view raw(const Entry& entry) const { return text_.substr(static_cast<std::size_t>(entry.payload), entry.size); }
    // Appends a string entry's text with its escapes resolved.
    void appendString(const Entry& entry, std::string& out) const { appendUnescaped(raw(entry), entry.flag, out); }

    // Checks the string whose text starts at p (after its opening quotation mark) and returns
    // its closing quotation mark, or nullptr when it is malformed; tells whether it has escapes.
    static const char* scanString(const char* p, const char* end, bool& escaped);
    // Appends the text of a checked string (as scanString found it) with its escapes resolved.
    static void appendUnescaped(std::string_view raw, bool escaped, std::string& out);

private:
    bool readString(const char*& p, const char* end);
    bool readNumber(const char*& p, const char* end);

    std::string_view text_;
    std::vector<Entry> entries_;
};

} // namespace kx
