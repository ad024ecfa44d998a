#include <gtest/gtest.h>

#include <cmath>

#include "App/web/ScreenSnapshot.h"

using namespace kx;

namespace {

// An opaque image whose pixel (x, y) has red x, green y and blue 7.
ScreenSnapshot gradient(int width, int height)
{
    PixbufPtr image(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            guchar* p = gdk_pixbuf_get_pixels(image.get()) + y * gdk_pixbuf_get_rowstride(image.get()) + x * 3;
            p[0] = guchar(x);
            p[1] = guchar(y);
            p[2] = 7;
        }
    }
    return ScreenSnapshot(std::move(image));
}

Color rgba(int r, int g, int b, double a = 1)
{
    return {r / 255.0, g / 255.0, b / 255.0, a};
}

} // namespace

TEST(ScreenSnapshot, TheSampledPixelIsTheCentreOfTheCapture)
{
    const ScreenSnapshot screen = gradient(200, 100);
    EXPECT_EQ(ScreenSnapshot::colorAtSampledPixel(screen.copyRect({{94, 44}, {13, 13}}).get()), rgba(100, 50, 7));
    // Even sizes round the centre down.
    EXPECT_EQ(ScreenSnapshot::colorAtSampledPixel(screen.copyRect({{0, 0}, {4, 3}}).get()), rgba(2, 1, 7));
    EXPECT_EQ(ScreenSnapshot::colorAtSampledPixel(nullptr), std::nullopt);
    // Without an X display there is no screen to read.
    EXPECT_FALSE(ScreenSnapshot::ofScreen());

    // The label's text of a pure red pick.
    PixbufPtr red(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 13, 13));
    gdk_pixbuf_fill(red.get(), 0xFF0000FF);
    EXPECT_EQ(ScreenSnapshot::colorAtSampledPixel(red.get())->hexColorString(), "#FF0000");
}

TEST(ScreenSnapshot, SquaresOverTheEdgeAreClearOffTheScreen)
{
    const ScreenSnapshot screen = gradient(20, 10);
    const PixbufPtr corner = screen.copyRect({{-6, -6}, {13, 13}});
    ASSERT_TRUE(corner && gdk_pixbuf_get_has_alpha(corner.get()));
    auto pixel = [](const PixbufPtr& image, int x, int y) {
        PixbufPtr one(gdk_pixbuf_new_subpixbuf(image.get(), x, y, 1, 1));
        return *ScreenSnapshot::colorAtSampledPixel(one.get());
    };
    EXPECT_EQ(pixel(corner, 5, 5), rgba(0, 0, 0, 0));
    EXPECT_EQ(pixel(corner, 6, 12), rgba(0, 6, 7));
    const PixbufPtr bottomRight = screen.copyRect({{13, 3}, {13, 13}});
    EXPECT_EQ(pixel(bottomRight, 6, 6), rgba(19, 9, 7));
    EXPECT_EQ(pixel(bottomRight, 7, 6).alpha, 0);
    EXPECT_EQ(pixel(bottomRight, 6, 7).alpha, 0);

    EXPECT_FALSE(screen.copyRect({{0, 0}, {0, 13}}));
    EXPECT_FALSE(screen.copyRect({{std::nan(""), 0}, {13, 13}}));
    EXPECT_FALSE(screen.copyRect({{1e300, 0}, {13, 13}}));
}
