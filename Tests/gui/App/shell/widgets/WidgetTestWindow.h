// A titleless window on screen at a known place, with helpers that press and drag its widgets
// through the X server, as a person would.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "App/shell/Color.h"
#include "App/shell/widgets/TitlelessWindow.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/UI/Window.h"
#include "support/Spin.h"
#include "support/SyntheticInput.h"

namespace kxtest {

inline kx::Color hex(const char* text)
{
    return kx::Color::colorWithHexColorString(text);
}

// The point (x, y) of `widget` (from its top left) on the screen, in GDK's root coordinates:
// points at any scale, as warpPointer takes them.
inline kx::Point onScreen(GtkWidget* widget, double x, double y)
{
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
    int wx = 0, wy = 0, rootX = 0, rootY = 0;
    gtk_widget_translate_coordinates(widget, toplevel, int(x), int(y), &wx, &wy);
    gdk_window_get_origin(gtk_widget_get_window(toplevel), &rootX, &rootY);
    return {double(rootX + wx), double(rootY + wy)};
}

inline kx::Point centreOf(GtkWidget* widget)
{
    return onScreen(widget, gtk_widget_get_allocated_width(widget) / 2.0, gtk_widget_get_allocated_height(widget) / 2.0);
}

inline void moveTo(const kx::Point& point)
{
    // Always a motion, also when the pointer already stands there (a window that appeared under
    // it has seen none).
    warpPointer(int(point.x) + 1, int(point.y) + 1);
    warpPointer(int(point.x), int(point.y));
    // The motion has reached GTK before the next input.
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
    EXPECT_TRUE(spinUntil([&] {
        int x = 0, y = 0;
        gdk_device_get_position(pointer, nullptr, &x, &y);
        return x == int(point.x) && y == int(point.y);
    })) << "the pointer did not reach " << point.x << ", " << point.y;
    settle();
}

// Drags from `from` by (dx, dy) with the primary button, in steps.
inline void drag(const kx::Point& from, double dx, double dy)
{
    moveTo(from);
    pressButton();
    for (int step = 1; step <= 4; ++step)
        moveTo({from.x + dx * step / 4, from.y + dy * step / 4});
    releaseButton();
    settle();
}

// With KX_SCREENSHOT_DIR set, saves the top left of the screen, where the test windows are,
// there as <name>.png, for a person to look at.
inline void saveScreenshot(const std::string& name)
{
    const char* folder = std::getenv("KX_SCREENSHOT_DIR");
    if (!folder || !*folder)
        return;
    settle();
    GdkWindow* root = gdk_get_default_root_window();
    auto shot = kx::GObjectRef<GdkPixbuf>::adopt(
        gdk_pixbuf_get_from_window(root, 0, 0, std::min(800, gdk_window_get_width(root)),
                                   std::min(600, gdk_window_get_height(root))));
    if (shot)
        gdk_pixbuf_save(shot.get(), (std::string(folder) + "/" + name + ".png").c_str(), "png", nullptr, nullptr);
}

// The top-level `window` as it stands on the screen, title bar and borders included, and the
// work area of its monitor; points.
inline kx::Rect frameOnScreen(GtkWidget* window)
{
    GdkRectangle frame{};
    if (GdkWindow* gdkWindow = gtk_widget_get_window(window))
        gdk_window_get_frame_extents(gdkWindow, &frame);
    return {{double(frame.x), double(frame.y)}, {double(frame.width), double(frame.height)}};
}

inline kx::Rect workAreaOf(GtkWidget* window)
{
    GdkRectangle area{};
    if (GdkWindow* gdkWindow = gtk_widget_get_window(window))
        gdk_monitor_get_workarea(gdk_display_get_monitor_at_window(gtk_widget_get_display(window), gdkWindow), &area);
    return {{double(area.x), double(area.y)}, {double(area.width), double(area.height)}};
}

// Whether the window stands whole inside its monitor's work area (where the display lets a
// client know where its windows are).
inline ::testing::AssertionResult isWholeOnScreen(GtkWidget* window)
{
    const kx::Rect frame = frameOnScreen(window), area = workAreaOf(window);
    if (kx::constrainedToWorkArea(frame, area) == frame)
        return ::testing::AssertionSuccess();
    const auto text = [](const kx::Rect& r) { return std::to_string(int(r.origin.x)) + "," + std::to_string(int(r.origin.y)) + " "
                                                  + std::to_string(int(r.size.width)) + "x" + std::to_string(int(r.size.height)); };
    return ::testing::AssertionFailure() << "the frame " << text(frame) << " is not inside the work area " << text(area);
}

// Sets the desktop's text scaling (Xft DPI) for as long as it lives.
class TextScale {
public:
    explicit TextScale(double scale)
    {
        GtkSettings* settings = gtk_settings_get_default();
        g_object_get(settings, "gtk-xft-dpi", &desktop_, nullptr);
        g_object_set(settings, "gtk-xft-dpi", int(std::lround(96 * scale * 1024)), nullptr);
    }
    ~TextScale() { g_object_set(gtk_settings_get_default(), "gtk-xft-dpi", desktop_, nullptr); }
    TextScale(const TextScale&) = delete;
    TextScale& operator=(const TextScale&) = delete;

private:
    int desktop_ = -1;
};

inline kx::Point windowPosition(GtkWidget* window)
{
    int x = 0, y = 0;
    gtk_window_get_position(GTK_WINDOW(window), &x, &y);
    return {double(x), double(y)};
}

class WidgetWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gtk_window_move(window->gtkWindow(), 100, 100);
        window->makeKeyAndOrderFront();
        ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(window->widget()); }));
        // Under Wayland the compositor places the window, and nobody learns where.
        if (kx::Window::isX11Display(gtk_widget_get_display(window->widget()))) {
            ASSERT_TRUE(spinUntil([&] { return windowPosition(window->widget()) == (kx::Point{100, 100}); }));
        }
    }

    // Shows `view` at `frame` of the content and waits until it is laid out.
    void place(kx::View& view, const kx::Rect& frame)
    {
        view.placeIn(window->flippedContentView(), frame);
        gtk_widget_show(view.widget());
        ASSERT_TRUE(spinUntil([&] {
            return gtk_widget_get_mapped(view.widget())
                   && gtk_widget_get_allocated_width(view.widget()) == int(frame.size.width);
        }));
    }

    std::unique_ptr<kx::TitlelessWindow> window = std::make_unique<kx::TitlelessWindow>(kx::Size{400, 300});
};

} // namespace kxtest
