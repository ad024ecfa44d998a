// Input delivered to a window through GTK's own event dispatch, as the X server would deliver
// it to the focused window.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>

namespace kxtest {

// Press and release of `keyval` with `modifiers` in `window` (a realised top-level window).
void pressKey(GtkWidget* window, guint keyval, GdkModifierType modifiers = GdkModifierType(0));

// Opens the submenu of `item` in `window`'s menu bar from the keyboard, as F10 and the arrow
// keys would, and waits until it shows; the submenu, or nullptr when it did not show.
GtkWidget* openMenuBarItem(GtkWidget* window, GtkWidget* item);

// Waits for a pop-up menu (a right click's), and activates its one item, which must be `label`;
// whether it was so.
::testing::AssertionResult activateTheOnlyMenuItem(const std::string& label);

} // namespace kxtest
