// Sheets are alerts and panels modal to one window alone. Whoever acts for a window (its
// document) hears that one is about to show on it, to put away what would cover it.
#pragma once

#include <gtk/gtk.h>

#include "Platform/Foundation/NotificationCenter.h"

namespace kx {

// Posted with the GtkWindow as sender.
inline constexpr const char* WindowWillBeginSheetNotification = "NSWindowWillBeginSheetNotification";

inline void postWindowWillBeginSheet(GtkWindow* window)
{
    if (window)
        NotificationCenter::defaultCenter().post(WindowWillBeginSheetNotification, window);
}

} // namespace kx
