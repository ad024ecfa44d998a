#include <gtest/gtest.h>

#include <cmath>

#include "App/web/ScreenSnapshot.h"

using namespace kx;

namespace {

// A 20 by 10 screen whose pixel (x, y) has red x, green y and blue 7.
const ScreenSnapshot& screen()
{
    static const ScreenSnapshot snapshot = [] {
        auto image = PixbufPtr::adopt(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 20, 10));
        for (int y = 0; y < 10; ++y) {
            for (int x = 0; x < 20; ++x) {
                guchar* p = gdk_pixbuf_get_pixels(image.get()) + y * gdk_pixbuf_get_rowstride(image.get()) + x * 3;
                p[0] = guchar(x);
                p[1] = guchar(y);
                p[2] = 7;
            }
        }
        return ScreenSnapshot(std::move(image));
    }();
    return snapshot;
}

Color at(const Rect& rect)
{
    return ScreenSnapshot::colorAtSampledPixel(screen().copyRect(rect).get()).value_or(Color{-1, -1, -1, -1});
}

Color rgba(int r, int g, int b, double a = 1)
{
    return {r / 255.0, g / 255.0, b / 255.0, a};
}

} // namespace

TEST(ScreenSnapshot, TheSampledPixelIsTheCentreAndOffTheScreenIsClear)
{
    EXPECT_EQ(at({{3, -3}, {13, 13}}), rgba(9, 3, 7));
    EXPECT_EQ(at({{0, 0}, {4, 3}}), rgba(2, 1, 7)); // even sizes round the centre down
    // Squares over the edges: the part on the screen is copied where it belongs.
    EXPECT_EQ(at({{-6, -6}, {1, 1}}), rgba(0, 0, 0, 0));
    EXPECT_EQ(at({{13, 3}, {13, 13}}), rgba(19, 9, 7));
    EXPECT_EQ(at({{14, 3}, {13, 13}}).alpha, 0);
    EXPECT_EQ(at({{13, 4}, {13, 13}}).alpha, 0);
    EXPECT_EQ(ScreenSnapshot::colorAtSampledPixel(screen().copyRect({{13, 3}, {13, 13}}).get())->hexColorString(), "#130907");

    EXPECT_EQ(ScreenSnapshot::colorAtSampledPixel(nullptr), std::nullopt);
    EXPECT_FALSE(screen().copyRect({{0, 0}, {0, 13}}));
    EXPECT_FALSE(screen().copyRect({{std::nan(""), 0}, {13, 13}}));
    EXPECT_FALSE(screen().copyRect({{1e300, 0}, {13, 13}}));
    // Without an X display there is no screen to read.
    EXPECT_FALSE(ScreenSnapshot::ofScreen());
}
