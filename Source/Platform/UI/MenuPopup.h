// A NativeMenu shown as a pop-up (a context menu) at a rectangle of a widget's window, or at
// the pointer. The completion is called exactly once: with the chosen item after its action
// was sent, or with nullptr when the menu closed without a choice (Escape, a click elsewhere,
// a pop-up that could not show). Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <gtk/gtk.h>

#include "Platform/UI/Geometry.h"
#include "Platform/UI/NativeMenu.h"

namespace kx {

class MenuPopup {
public:
    using Completion = std::function<void(std::shared_ptr<NativeMenuItem> chosen)>;

    // `rect` is in the coordinates of `widget`'s top-level window (origin top left); without
    // it, or without a widget in a window, the menu opens at the pointer. With
    // `showsKeyEquivalents` the items show their key equivalents (a window's own menu, whose
    // keys its bar fires); context menus show none.
    static void popUp(std::shared_ptr<NativeMenu> menu, GtkWidget* widget, std::optional<Rect> rect,
                      Completion completion, bool showsKeyEquivalents = false);

    // The menus on screen now, most recent last (tests choose from them as a user would).
    static std::vector<GtkMenu*> openMenus();
};

} // namespace kx
