// Key presses delivered to a window through GTK's own event dispatch, as the X server would
// deliver them to the focused window.
#pragma once

#include <gtk/gtk.h>

namespace kxtest {

// Press and release of `keyval` with `modifiers` in `window` (a realised top-level window).
void pressKey(GtkWidget* window, guint keyval, GdkModifierType modifiers = GdkModifierType(0));

} // namespace kxtest
