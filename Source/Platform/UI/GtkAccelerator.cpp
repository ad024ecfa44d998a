#include "Platform/UI/GtkAccelerator.h"

#include <glib.h>

namespace kx {

namespace {

guint functionKey(gunichar c)
{
    switch (c) {
    case 0xF700: return GDK_KEY_Up;
    case 0xF701: return GDK_KEY_Down;
    case 0xF702: return GDK_KEY_Left;
    case 0xF703: return GDK_KEY_Right;
    case 0xF727: return GDK_KEY_Insert;
    case 0xF729: return GDK_KEY_Home;
    case 0xF72B: return GDK_KEY_End;
    case 0xF72C: return GDK_KEY_Page_Up;
    case 0xF72D: return GDK_KEY_Page_Down;
    case 0xF72E: return GDK_KEY_Print;
    default: break;
    }
    if (c >= 0xF704 && c <= 0xF71B)
        return GDK_KEY_F1 + (c - 0xF704);
    return 0;
}

guint keyvalFor(gunichar c)
{
    switch (c) {
    case 0x08: return GDK_KEY_BackSpace;
    case 0x09: return GDK_KEY_Tab;
    case 0x0A:
    case 0x0D: return GDK_KEY_Return;
    case 0x1B: return GDK_KEY_Escape;
    case 0x7F: return GDK_KEY_Delete;
    default: break;
    }
    if (guint key = functionKey(c))
        return key;
    if (c < 0x20 || (c >= 0xF700 && c <= 0xF8FF))
        return 0;
    return gdk_unicode_to_keyval(g_unichar_tolower(c));
}

} // namespace

GdkModifierType GtkAccelerator::modifiersFor(ModifierFlags mask)
{
    guint result = 0;
    if (contains(mask, ModifierFlags::shift))
        result |= GDK_SHIFT_MASK;
    const bool command = contains(mask, ModifierFlags::command);
    const bool control = contains(mask, ModifierFlags::control);
    if (command || control)
        result |= GDK_CONTROL_MASK;
    // Command and Control together would collapse onto Control alone and steal another item's
    // shortcut (Command-Control-N onto New's Ctrl+N): the pair becomes Ctrl+Alt instead.
    if (contains(mask, ModifierFlags::option) || (command && control))
        result |= GDK_MOD1_MASK;
    return GdkModifierType(result);
}

std::optional<GtkAccelerator> GtkAccelerator::from(const std::string& keyEquivalent, ModifierFlags modifierMask)
{
    if (keyEquivalent.empty() || !g_utf8_validate(keyEquivalent.data(), gssize(keyEquivalent.size()), nullptr))
        return std::nullopt;
    const char* text = keyEquivalent.c_str();
    if (*g_utf8_next_char(text) != '\0')
        return std::nullopt;
    const guint key = keyvalFor(g_utf8_get_char(text));
    if (key == 0)
        return std::nullopt;
    return GtkAccelerator{key, modifiersFor(modifierMask)};
}

} // namespace kx
