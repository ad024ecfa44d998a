// Small text helpers that every layer uses.
#pragma once

#include <cstddef>
#include <span>
#include <string>
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

// Replaces each occurrence of `what` in `text`, left to right, by `with`; what was put in is
// not searched again. An empty `what` changes nothing.
inline void replaceAll(std::string& text, std::string_view what, std::string_view with)
{
    if (what.empty())
        return;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

// The start of `text`, at most `size` bytes, cut before a character rather than inside its
// UTF-8 sequence (a file name made to fit).
constexpr std::string_view utf8Prefix(std::string_view text, std::size_t size)
{
    if (text.size() <= size)
        return text;
    std::size_t cut = size;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

// ---- Hexadecimal digits ----

enum class LetterCase { lower, upper };

// The digit of `value` (its low four bits): '0' to '9', then 'a' to 'f' or 'A' to 'F'.
// Allocates nothing, so a signal handler may use it too.
constexpr char hexDigit(unsigned value, LetterCase letters = LetterCase::lower)
{
    value &= 0xF;
    if (value < 10)
        return static_cast<char>('0' + value);
    return static_cast<char>((letters == LetterCase::upper ? 'A' : 'a') + (value - 10));
}

// The value of a hexadecimal digit of either case, or -1 for any other character.
constexpr int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Each byte as two digits, the high half first (a digest as it is printed).
inline std::string hexString(std::span<const unsigned char> bytes, LetterCase letters = LetterCase::lower)
{
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const unsigned char byte : bytes) {
        text += hexDigit(byte >> 4, letters);
        text += hexDigit(byte, letters);
    }
    return text;
}

} // namespace kx
