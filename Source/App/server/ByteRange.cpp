#include "App/server/ByteRange.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "Platform/Foundation/Text.h"

namespace kx {

namespace {

constexpr std::uint64_t unbounded = std::numeric_limits<std::uint64_t>::max();

// Decimal digits only; a number too large for 64 bits saturates, which is what the range rules
// need (a start that large lies past any end, a suffix that large covers the whole file).
std::optional<std::uint64_t> number(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        unsigned digit = static_cast<unsigned>(c - '0');
        value = value > (unbounded - digit) / 10 ? unbounded : value * 10 + digit;
    }
    return value;
}

bool startsWithBytesUnit(std::string_view header)
{
    constexpr std::string_view unit = "bytes=";
    if (header.size() < unit.size())
        return false;
    for (std::size_t i = 0; i < unit.size(); ++i) {
        char c = header[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != unit[i])
            return false;
    }
    return true;
}

} // namespace

ByteRange ByteRange::select(std::string_view header, std::uint64_t size)
{
    const ByteRange whole;
    header = trimmed(header, httpWhiteSpace);
    if (size == 0 || !startsWithBytesUnit(header))
        return whole;
    header.remove_prefix(6);

    // A comma-separated list whose empty elements do not count.
    std::vector<std::string_view> specs;
    while (true) {
        auto comma = header.find(',');
        auto spec = trimmed(header.substr(0, comma), httpWhiteSpace);
        if (!spec.empty())
            specs.push_back(spec);
        if (comma == std::string_view::npos)
            break;
        header.remove_prefix(comma + 1);
    }
    if (specs.size() != 1)
        return whole;

    std::string_view spec = specs.front();
    auto dash = spec.find('-');
    if (dash == std::string_view::npos)
        return whole;
    auto firstText = spec.substr(0, dash);
    auto lastText = spec.substr(dash + 1);

    if (firstText.empty()) { // "-N": the last N bytes
        auto suffix = number(lastText);
        if (!suffix)
            return whole;
        if (*suffix == 0)
            return {Kind::unsatisfiable, 0, 0};
        std::uint64_t length = std::min(*suffix, size);
        return {Kind::partial, size - length, length};
    }

    auto first = number(firstText);
    std::optional<std::uint64_t> last = lastText.empty() ? std::optional<std::uint64_t>(unbounded) : number(lastText);
    if (!first || !last || *last < *first)
        return whole;
    if (*first >= size)
        return {Kind::unsatisfiable, 0, 0};
    std::uint64_t end = std::min(*last, size - 1);
    return {Kind::partial, *first, end - *first + 1};
}

} // namespace kx
