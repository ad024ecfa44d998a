// What the preview's toolbar buttons draw: their image alone, in one flat colour by kind and
// state, at half opacity in a window that is not the active one.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

#include "App/preview/PreviewWindowToolbarButtonWithTint.h"
#include "App/preview/PreviewWindowToolbarInspectorButton.h"

namespace {

using namespace kx;

struct Drawn {
    int red = 0, green = 0, blue = 0; // of the most opaque pixel, unpremultiplied
    int alpha = 0;
    int holes = 0; // pixels well inside what was drawn that are less than a third as opaque
};

// Draws the button alone in a window that is never active.
Drawn draw(PreviewWindowToolbarButton& button)
{
    GtkWidget* window = gtk_offscreen_window_new();
    gtk_container_add(GTK_CONTAINER(window), button.widget());
    gtk_widget_show_all(window);
    const int size = PreviewWindowToolbarButton::buttonSize;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(surface);
    gtk_widget_draw(button.widget(), cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    Drawn most;
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const auto pixel = *reinterpret_cast<const std::uint32_t*>(data + y * stride + x * 4);
            const int alpha = int(pixel >> 24);
            if (alpha > most.alpha) {
                most = {int((pixel >> 16) & 0xff) * 255 / alpha, int((pixel >> 8) & 0xff) * 255 / alpha,
                        int(pixel & 0xff) * 255 / alpha, alpha};
            }
        }
    }
    const auto alphaAt = [&](int x, int y) { return int(*reinterpret_cast<const std::uint32_t*>(data + y * stride + x * 4) >> 24); };
    int left = size, right = -1, top = size, bottom = -1;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (alphaAt(x, y)) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
        }
    }
    for (int y = top + 2; y <= bottom - 2; ++y)
        for (int x = left + 2; x <= right - 2; ++x)
            most.holes += alphaAt(x, y) * 3 < most.alpha;
    cairo_surface_destroy(surface);
    gtk_container_remove(GTK_CONTAINER(window), button.widget());
    gtk_widget_destroy(window);
    return most;
}

void expectColour(const Drawn& drawn, int red, int green, int blue)
{
    EXPECT_NEAR(drawn.red, red, 3);
    EXPECT_NEAR(drawn.green, green, 3);
    EXPECT_NEAR(drawn.blue, blue, 3);
    // Half opacity: the window is not the active one.
    EXPECT_GT(drawn.alpha, 100);
    EXPECT_LE(drawn.alpha, 128);
}

TEST(PreviewToolbarButtonGui, ColoursByKindAndState)
{
    PreviewWindowToolbarButton plain("preview-settings", "preview-lock-on");
    plain.setState(true); // a plain button shows no state
    expectColour(draw(plain), 255, 255, 255);

    PreviewWindowToolbarButtonWithTint tint("preview-lock");
    expectColour(draw(tint), 255, 255, 255);
    tint.setState(true); // on, without an alternate image: its own image in blue
    expectColour(draw(tint), 0, 0x99, 0xff);

    PreviewWindowToolbarInspectorButton console("preview-console", "preview-console-alert");
    expectColour(draw(console), 255, 255, 255);
    // With errors or warnings the box is tinted and its "!" stays a hole in it: the mark reads
    // in the toolbar's own colour, whatever the tint.
    for (const auto& [state, colour] : {std::pair{InspectorButtonType::error, 0xff3366}, {InspectorButtonType::warning, 0xffcc00}}) {
        console.setIconState(state);
        const Drawn drawn = draw(console);
        expectColour(drawn, colour >> 16, (colour >> 8) & 0xff, colour & 0xff);
        EXPECT_GE(drawn.holes, 4);
    }
}

TEST(PreviewToolbarButtonGui, ImagesSitOnWholePoints)
{
    EXPECT_EQ(PreviewWindowToolbarButton::imageRect({28, 28}, {16, 16}), (Rect{{6, 6}, {16, 16}}));
    EXPECT_EQ(PreviewWindowToolbarButton::imageRect({28, 28}, {15, 17}), (Rect{{6, 5}, {15, 17}}));
    EXPECT_EQ(PreviewWindowToolbarButton::opacity(true, false), 1.0);
    EXPECT_EQ(PreviewWindowToolbarButton::opacity(true, true), 0.5);
    EXPECT_EQ(PreviewWindowToolbarButton::opacity(false, false), 0.5);
}

} // namespace
