// The editor's menus: the accelerator notation of its menu descriptions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Platform/UI/GtkAccelerator.h"
#include "Platform/UI/ModifierFlags.h"

namespace kx {

class AppMenu {
public:
    struct KeyEquivalent {
        std::string keyEquivalent;
        ModifierFlags modifierMask = ModifierFlags::none;
        friend bool operator==(const KeyEquivalent&, const KeyEquivalent&) = default;
    };

    // Key and modifier names joined by "+" ("CmdOrCtrl+Shift+Z", "Backspace") as a menu item's
    // key equivalent and modifier mask. Names are case-sensitive; any other piece is appended
    // to the key equivalent in lower case. Never fails.
    static KeyEquivalent keyEquivalentAndModifierMask(std::string_view accelerator);
    // The same accelerator as GTK takes it; nullopt when it names no single key.
    static std::optional<GtkAccelerator> gtkAccelerator(std::string_view accelerator);
};

} // namespace kx
