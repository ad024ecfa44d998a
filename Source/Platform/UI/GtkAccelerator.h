// A menu item's key equivalent and modifier mask as a GTK accelerator. Command and Control
// both become Control (this desktop's command key), Option becomes Alt. Key equivalents are a
// single character: a letter, a digit or punctuation, or one of the control and function-key
// characters (backspace U+0008, tab, line feed for Return, U+F700 and up for arrows, function
// keys, insert, home, end, page up and down, print screen).
#pragma once

#include <optional>
#include <string>

#include <gdk/gdk.h>

#include "Platform/UI/ModifierFlags.h"

namespace kx {

struct GtkAccelerator {
    guint keyval = 0;
    GdkModifierType modifiers = GdkModifierType(0);

    friend bool operator==(const GtkAccelerator&, const GtkAccelerator&) = default;

    // nullopt for an empty key equivalent, more than one character, or a character without a
    // key of its own.
    static std::optional<GtkAccelerator> from(const std::string& keyEquivalent, ModifierFlags modifierMask);
    static GdkModifierType modifiersFor(ModifierFlags modifierMask);
};

} // namespace kx
