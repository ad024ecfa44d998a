// The part of a file a "Range" request header asks for (RFC 9110, section 14), decided against
// the file's size. Only single ranges of bytes are answered in part: a header that is
// malformed, names another unit or lists several ranges is ignored and the whole file goes out,
// as the RFC allows.
#pragma once

#include <cstdint>
#include <string_view>

namespace kx {

// The optional white space between the parts of an HTTP header's value (RFC 9110, 5.6.3).
inline constexpr std::string_view httpWhiteSpace = " \t";

struct ByteRange {
    enum class Kind {
        whole,        // 200 with the whole file
        partial,      // 206 with `length` bytes from `first`
        unsatisfiable // 416: the range starts past the end
    };

    Kind kind = Kind::whole;
    std::uint64_t first = 0;
    std::uint64_t length = 0;

    static ByteRange select(std::string_view header, std::uint64_t size);

    friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

} // namespace kx
