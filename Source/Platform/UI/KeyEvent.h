// One key press as the responder chain sees it: the key's character without modifiers and the
// modifier keys held. Control on this desktop is the command key, so it sets both flags.
#pragma once

#include <string>

#include <gdk/gdk.h>

#include "Platform/UI/ModifierFlags.h"

namespace kx {

struct KeyEvent {
    std::string charactersIgnoringModifiers; // UTF-8, empty for keys without a character
    ModifierFlags modifierFlags = ModifierFlags::none;

    static KeyEvent fromGdk(const GdkEventKey& event);
};

} // namespace kx
