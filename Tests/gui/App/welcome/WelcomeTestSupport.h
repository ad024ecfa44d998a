// Helpers of the start-window and About-window tests: pictures of one window, colours on
// screen, and the day/night switch.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "App/shell/AppAppearance.h"
#include "App/shell/Color.h"
#include "App/shell/widgets/View.h"
#include "Platform/Foundation/GObjectRef.h"
#include "gui/App/shell/widgets/WidgetTestWindow.h"
#include "support/Spin.h"

namespace kxtest {

// The screen's colour at (x, y) of `widget`.
inline kx::Color screenColorAt(GtkWidget* widget, double x, double y)
{
    const kx::Point root = onScreen(widget, x, y);
    auto pixbuf = kx::GObjectRef<GdkPixbuf>::adopt(
        gdk_pixbuf_get_from_window(gdk_get_default_root_window(), int(root.x), int(root.y), 1, 1));
    if (!pixbuf)
        return {};
    const guchar* pixel = gdk_pixbuf_get_pixels(pixbuf.get());
    return {pixel[0] / 255.0, pixel[1] / 255.0, pixel[2] / 255.0, 1};
}

inline bool nearColor(const kx::Color& a, const kx::Color& b, double tolerance = 0.03)
{
    return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance
           && std::abs(a.blue - b.blue) <= tolerance;
}

// With KX_SCREENSHOT_DIR set, saves the window `widget` (a top-level) as <name>.png there.
inline void saveWindowScreenshot(GtkWidget* window, const std::string& name)
{
    const char* folder = std::getenv("KX_SCREENSHOT_DIR");
    if (!folder || !*folder)
        return;
    settle();
    const kx::Point origin = onScreen(window, 0, 0);
    auto shot = kx::GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_get_from_window(
        gdk_get_default_root_window(), int(origin.x), int(origin.y), gtk_widget_get_allocated_width(window),
        gtk_widget_get_allocated_height(window)));
    if (shot)
        gdk_pixbuf_save(shot.get(), (std::string(folder) + "/" + name + ".png").c_str(), "png", nullptr, nullptr);
}

// Switches the shell between day and night and waits for the switch.
inline void setDark(bool dark)
{
    kx::AppAppearance& appearance = kx::AppAppearance::shared();
    if (appearance.isDark() == dark)
        return;
    appearance.toggleDarkAppearance();
    ASSERT_TRUE(spinUntil([&] { return appearance.isDark() == dark; }));
}

} // namespace kxtest
