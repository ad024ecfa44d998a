// Small text helpers that every layer uses.
#pragma once

#include <string_view>

namespace kx {

// White space as the C locale knows it.
inline constexpr std::string_view whiteSpace = " \t\n\r\v\f";

// `text` without the characters of `blanks` at either end.
constexpr std::string_view trimmed(std::string_view text, std::string_view blanks = whiteSpace)
{
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace kx
