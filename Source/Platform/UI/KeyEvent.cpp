#include "Platform/UI/KeyEvent.h"

namespace kx {

KeyEvent KeyEvent::fromGdk(const GdkEventKey& event)
{
    KeyEvent key;
    // The key's own character: Shift changes the keyval ("Z" for z), not the key.
    if (const gunichar c = gdk_keyval_to_unicode(gdk_keyval_to_lower(event.keyval)); c != 0 && g_unichar_isprint(c)) {
        char text[8] = {};
        key.charactersIgnoringModifiers.assign(text, g_unichar_to_utf8(c, text));
    }
    if (event.state & GDK_SHIFT_MASK)
        key.modifierFlags |= ModifierFlags::shift;
    if (event.state & GDK_CONTROL_MASK)
        key.modifierFlags |= ModifierFlags::command | ModifierFlags::control;
    if (event.state & GDK_MOD1_MASK)
        key.modifierFlags |= ModifierFlags::option;
    return key;
}

} // namespace kx
