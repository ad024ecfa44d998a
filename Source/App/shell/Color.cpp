#include "App/shell/Color.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include <glib.h>

#include "App/shell/StringExtras.h"
#include "Platform/Foundation/Text.h"

namespace kx {

namespace {

// An unsigned 32-bit hex number from the start of `text`, saturating; 0 when there is none.
std::uint32_t scanHex(std::string_view text)
{
    std::size_t i = std::min(text.find_first_not_of(whiteSpace), text.size());
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')
        && hexDigitValue(text[i + 2]) >= 0)
        i += 2;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = hexDigitValue(text[i]);
        if (digit < 0)
            break;
        value = value * 16 + static_cast<std::uint64_t>(digit);
        if (value > UINT32_MAX)
            value = UINT64_C(0x100000000); // keeps saturating however many digits follow
    }
    return value > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(value);
}

// Length in UTF-16 code units, the length the seven-character rule counts.
std::size_t utf16Length(std::string_view text)
{
    if (!g_utf8_validate_len(text.data(), text.size(), nullptr))
        return text.size();
    std::size_t units = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80)
            units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

// A component scaled to 0...255 for hex text; a component that is no number counts as 0.
unsigned long hexComponent(double value)
{
    if (std::isnan(value))
        return 0;
    return static_cast<unsigned long>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
}

std::string formatted(double value, const char* format)
{
    char buffer[G_ASCII_DTOSTR_BUF_SIZE];
    return g_ascii_formatd(buffer, sizeof buffer, format, std::isnan(value) ? 0.0 : value);
}

std::uint64_t fnv1a64(std::string_view bytes)
{
    std::uint64_t hash = UINT64_C(0xcbf29ce484222325);
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= UINT64_C(0x100000001b3);
    }
    return hash;
}

} // namespace

Color Color::colorWithHexColorString(std::string_view text)
{
    if (utf16Length(text) == 7) {
        const auto* first = reinterpret_cast<const unsigned char*>(text.data());
        const std::size_t skip = g_utf8_validate_len(text.data(), text.size(), nullptr)
            ? static_cast<std::size_t>(g_utf8_skip[*first])
            : 1;
        text.remove_prefix(skip);
    }
    const std::uint32_t value = scanHex(text);
    return {((value >> 16) & 0xFF) / 255.0, ((value >> 8) & 0xFF) / 255.0, (value & 0xFF) / 255.0, 1.0};
}

std::string Color::hexColorString() const
{
    char buffer[8];
    g_snprintf(buffer, sizeof buffer, "#%02lX%02lX%02lX", hexComponent(red), hexComponent(green),
               hexComponent(blue));
    return buffer;
}

std::string Color::RGBAColorString() const
{
    return "(" + formatted(red * 255, "%.0f") + ", " + formatted(green * 255, "%.0f") + ", "
        + formatted(blue * 255, "%.0f") + ", " + formatted(alpha, "%.2f") + ")";
}

Color Color::blendedColorWithFraction(double fraction, const Color& ofColor) const
{
    auto mix = [fraction](double from, double to) { return from + (to - from) * fraction; };
    return {mix(red, ofColor.red), mix(green, ofColor.green), mix(blue, ofColor.blue), mix(alpha, ofColor.alpha)};
}

Color Color::randomColorWithAlpha(float alpha)
{
    const double r = (std::rand() % 255) / 255.0;
    const double g = (std::rand() % 255) / 255.0;
    const double b = (std::rand() % 255) / 255.0;
    return {r, g, b, alpha};
}

Color Color::randomColorWithSeed(std::string_view seed, float andAlpha)
{
    const std::string h = MD5String(MD5String(seed));
    auto component = [&h](const char* prefix) { return (fnv1a64(prefix + h) % 255) / 255.0; };
    return {component("R"), component("G"), component("B"), andAlpha};
}

} // namespace kx
