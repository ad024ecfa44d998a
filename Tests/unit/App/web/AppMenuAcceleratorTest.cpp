#include <gtest/gtest.h>

#include "App/web/AppMenu.h"

using kx::AppMenu;
using kx::ModifierFlags;

namespace {

struct Case {
    const char* accelerator;
    std::string keyEquivalent;
    ModifierFlags mask;
};

constexpr ModifierFlags command = ModifierFlags::command;
constexpr ModifierFlags control = ModifierFlags::control;
constexpr ModifierFlags option = ModifierFlags::option;
constexpr ModifierFlags shift = ModifierFlags::shift;
constexpr ModifierFlags none = ModifierFlags::none;

} // namespace

TEST(AppMenuAccelerator, NamesKeysAndModifiersAsTheEditorWritesThem)
{
    const Case cases[] = {
        {"", "", none},
        {"CmdOrCtrl+Shift+Z", "z", command | shift},
        {"CommandOrControl+Q", "q", command}, // never control
        {"Command+Plus", "+", command},
        {"Command++", "", command},
        {"Alt+Space", " ", option},
        {"AltGr+Option+K", "k", option},
        {"Super+Control+F5", "\xEF\x9C\x88", command | control}, // U+F708
        {"Ctrl+Cmd+Ctrl+A", "a", command | control},
        {"Tab", "\t", none},
        {"Return", "\n", none},
        {"Enter", "\n", none},
        {"Delete", "\b", none},
        {"Insert", "\xEF\x9C\xA7", none},   // U+F727
        {"Up", "\xEF\x9C\x80", none},       // U+F700
        {"Right", "\xEF\x9C\x83", none},    // U+F703
        {"PageDown", "\xEF\x9C\xAD", none}, // U+F72D
        {"PrintScreen", "\xEF\x9C\xAE", none},
        {"F1", "\xEF\x9C\x84", none},  // U+F704
        {"F24", "\xEF\x9C\x9B", none}, // U+F71B
        {"F25", "f25", none},
        {"F01", "f01", none},
        {"command+z", "commandz", none}, // names are case-sensitive
        {"Shift+A", "a", shift},          // the key is always lowered
        {"A+B", "ab", none},
        {"Shift+Ä", "ä", shift},
        {"Command+Z", "z", command},
        {"Command+Shift+Z", "z", command | shift},
        {"Backspace", "\b", none},
    };
    for (const auto& c : cases) {
        const auto result = AppMenu::keyEquivalentAndModifierMask(c.accelerator);
        EXPECT_EQ(result.keyEquivalent, c.keyEquivalent) << c.accelerator;
        EXPECT_EQ(result.modifierMask, c.mask) << c.accelerator;
    }
    // Bytes that are not UTF-8 are taken as they stand, never read past.
    EXPECT_EQ(AppMenu::keyEquivalentAndModifierMask("Shift+\xC3").keyEquivalent, "\xC3");
}

TEST(AppMenuAccelerator, MapsToGtkWithCommandOrControlAsControl)
{
    using kx::GtkAccelerator;
    EXPECT_EQ(AppMenu::gtkAccelerator("CmdOrCtrl+Shift+Z"),
              (GtkAccelerator{GDK_KEY_z, GdkModifierType(GDK_CONTROL_MASK | GDK_SHIFT_MASK)}));
    // Both together stay apart from Command alone.
    EXPECT_EQ(AppMenu::gtkAccelerator("Super+Control+N"),
              (GtkAccelerator{GDK_KEY_n, GdkModifierType(GDK_CONTROL_MASK | GDK_MOD1_MASK)}));
    EXPECT_EQ(AppMenu::gtkAccelerator("Cmd+N"), (GtkAccelerator{GDK_KEY_n, GDK_CONTROL_MASK}));
    EXPECT_EQ(AppMenu::gtkAccelerator("Option+Left"), (GtkAccelerator{GDK_KEY_Left, GDK_MOD1_MASK}));
    EXPECT_EQ(AppMenu::gtkAccelerator("Backspace"), (GtkAccelerator{GDK_KEY_BackSpace, GdkModifierType(0)}));
    EXPECT_EQ(AppMenu::gtkAccelerator("Cmd+Plus"), (GtkAccelerator{GDK_KEY_plus, GDK_CONTROL_MASK}));
    // No single key: nothing to bind.
    EXPECT_EQ(AppMenu::gtkAccelerator(""), std::nullopt);
    EXPECT_EQ(AppMenu::gtkAccelerator("Command+"), std::nullopt);
    EXPECT_EQ(AppMenu::gtkAccelerator("F25"), std::nullopt);
    EXPECT_EQ(AppMenu::gtkAccelerator("A+B"), std::nullopt);
}
