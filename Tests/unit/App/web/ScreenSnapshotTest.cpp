#include <gtest/gtest.h>

#include <cmath>

#include "App/web/ScreenSnapshot.h"

using namespace kx;

namespace {

// An opaque RGB image whose pixel (x, y) has red x, green y and blue 7.
PixbufPtr gradient(int width, int height)
{
    PixbufPtr image(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height));
    guchar* pixels = gdk_pixbuf_get_pixels(image.get());
    const int stride = gdk_pixbuf_get_rowstride(image.get());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            guchar* p = pixels + y * stride + x * 3;
            p[0] = guchar(x);
            p[1] = guchar(y);
            p[2] = 7;
        }
    }
    return image;
}

const guchar* pixelAt(const GdkPixbuf* image, int x, int y)
{
    return gdk_pixbuf_read_pixels(image) + y * gdk_pixbuf_get_rowstride(image) + x * gdk_pixbuf_get_n_channels(image);
}

} // namespace

TEST(ScreenSnapshot, TheSampledPixelIsTheCentreOfTheCapture)
{
    const ScreenSnapshot screen(gradient(200, 100));
    const PixbufPtr capture = screen.copyRect({{94, 44}, {13, 13}});
    ASSERT_TRUE(capture);
    EXPECT_EQ(ScreenSnapshot::colorAtSampledPixel(capture.get()), (Color{100 / 255.0, 50 / 255.0, 7 / 255.0, 1}));

    // Even sizes round the centre down: pixel (2, 1) of a 4 by 3 image.
    const PixbufPtr even = screen.copyRect({{0, 0}, {4, 3}});
    EXPECT_EQ(ScreenSnapshot::colorAtSampledPixel(even.get()), (Color{2 / 255.0, 1 / 255.0, 7 / 255.0, 1}));

    // The colour texts the page and the label get for a pure red pixel.
    PixbufPtr red(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 13, 13));
    gdk_pixbuf_fill(red.get(), 0xFF0000FF);
    const auto picked = ScreenSnapshot::colorAtSampledPixel(red.get());
    ASSERT_TRUE(picked);
    EXPECT_EQ(picked->hexColorString(), "#FF0000");
    EXPECT_EQ("rgba" + picked->RGBAColorString(), "rgba(255, 0, 0, 1.00)");
    gdk_pixbuf_fill(red.get(), 0xFF000080);
    EXPECT_EQ("rgba" + ScreenSnapshot::colorAtSampledPixel(red.get())->RGBAColorString(), "rgba(255, 0, 0, 0.50)");
}

TEST(ScreenSnapshot, NoCaptureGivesNoColour)
{
    EXPECT_EQ(ScreenSnapshot::colorAtSampledPixel(nullptr), std::nullopt);
}

TEST(ScreenSnapshot, SquaresAtTheEdgeAreTransparentOffTheScreen)
{
    const ScreenSnapshot screen(gradient(20, 10));
    const PixbufPtr corner = screen.copyRect({{-6, -6}, {13, 13}});
    ASSERT_TRUE(corner);
    ASSERT_TRUE(gdk_pixbuf_get_has_alpha(corner.get()));
    EXPECT_EQ(pixelAt(corner.get(), 5, 5)[3], 0);
    EXPECT_EQ(pixelAt(corner.get(), 6, 12)[3], 0xFF);
    EXPECT_EQ(pixelAt(corner.get(), 6, 12)[1], 6);
    EXPECT_EQ(ScreenSnapshot::colorAtSampledPixel(corner.get()), (Color{0, 0, 7 / 255.0, 1}));

    const PixbufPtr bottomRight = screen.copyRect({{13, 3}, {13, 13}});
    EXPECT_EQ(pixelAt(bottomRight.get(), 6, 6)[0], 19);
    EXPECT_EQ(pixelAt(bottomRight.get(), 7, 6)[3], 0);
    EXPECT_EQ(pixelAt(bottomRight.get(), 6, 7)[3], 0);

    // Entirely off the screen: a clear square, still a colour (transparent).
    const PixbufPtr away = screen.copyRect({{500, 500}, {13, 13}});
    EXPECT_EQ(ScreenSnapshot::colorAtSampledPixel(away.get()), (Color{0, 0, 0, 0}));

    // Nothing to copy.
    EXPECT_FALSE(screen.copyRect({{0, 0}, {0, 13}}));
    EXPECT_FALSE(screen.copyRect({{std::nan(""), 0}, {13, 13}}));
    EXPECT_FALSE(screen.copyRect({{1e300, 0}, {13, 13}}));
    EXPECT_FALSE(screen.copyRect({{0, 0}, {1e9, 13}}));
}
