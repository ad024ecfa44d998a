#include <array>

#include <glib.h>

#include "App/web/AppMenu.h"

namespace kx {

namespace {

std::string utf8(gunichar c)
{
    char text[8] = {};
    return std::string(text, std::size_t(g_unichar_to_utf8(c, text)));
}

std::optional<ModifierFlags> modifierNamed(std::string_view token)
{
    static constexpr std::array<std::pair<std::string_view, ModifierFlags>, 11> names{{
        {"Super", ModifierFlags::command},
        {"CommandOrControl", ModifierFlags::command},
        {"CmdOrCtrl", ModifierFlags::command},
        {"Command", ModifierFlags::command},
        {"Cmd", ModifierFlags::command},
        {"Ctrl", ModifierFlags::control},
        {"Control", ModifierFlags::control},
        {"Alt", ModifierFlags::option},
        {"AltGr", ModifierFlags::option},
        {"Option", ModifierFlags::option},
        {"Shift", ModifierFlags::shift},
    }};
    for (auto& [name, flag] : names) {
        if (name == token)
            return flag;
    }
    return std::nullopt;
}

std::optional<gunichar> keyNamed(std::string_view token)
{
    static constexpr std::array<std::pair<std::string_view, gunichar>, 17> names{{
        {"Plus", '+'},
        {"Space", ' '},
        {"Tab", 0x09},
        {"Backspace", 0x08},
        {"Delete", 0x08},
        {"Insert", 0xF727},
        {"Return", 0x0A},
        {"Enter", 0x0A},
        {"Up", 0xF700},
        {"Down", 0xF701},
        {"Left", 0xF702},
        {"Right", 0xF703},
        {"Home", 0xF729},
        {"End", 0xF72B},
        {"PageUp", 0xF72C},
        {"PageDown", 0xF72D},
        {"PrintScreen", 0xF72E},
    }};
    for (auto& [name, key] : names) {
        if (name == token)
            return key;
    }
    for (int n = 1; n <= 24; ++n) {
        if (token == "F" + std::to_string(n))
            return gunichar(0xF703 + n);
    }
    return std::nullopt;
}

std::string lowercased(std::string_view token)
{
    if (!g_utf8_validate(token.data(), gssize(token.size()), nullptr)) {
        std::string ascii(token);
        for (char& c : ascii)
            c = g_ascii_tolower(c);
        return ascii;
    }
    gchar* lower = g_utf8_strdown(token.data(), gssize(token.size()));
    std::string result = lower ? lower : std::string(token);
    g_free(lower);
    return result;
}

} // namespace

AppMenu::KeyEquivalent AppMenu::keyEquivalentAndModifierMask(std::string_view accelerator)
{
    KeyEquivalent result;
    // A plain split: "Command++" gives "Command" and two empty pieces, which add nothing.
    std::size_t start = 0;
    while (true) {
        const std::size_t end = accelerator.find('+', start);
        const std::string_view token = accelerator.substr(start, end == std::string_view::npos ? end : end - start);
        if (auto flag = modifierNamed(token))
            result.modifierMask |= *flag;
        else if (auto key = keyNamed(token))
            result.keyEquivalent += utf8(*key);
        else
            result.keyEquivalent += lowercased(token);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return result;
}

std::optional<GtkAccelerator> AppMenu::gtkAccelerator(std::string_view accelerator)
{
    const KeyEquivalent key = keyEquivalentAndModifierMask(accelerator);
    return GtkAccelerator::from(key.keyEquivalent, key.modifierMask);
}

} // namespace kx
