// Nine-part drawing: the pieces at every size, the degenerate ones included, and a context
// that keeps drawing after a stretchable image smaller than its caps.
#include <gtest/gtest.h>

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk/gdk.h>

#include "App/shell/widgets/StretchableImage.h"
#include "Platform/Foundation/GObjectRef.h"

using kx::Rect;
using kx::StretchableImage;
using kx::TMEdgeInsetsMake;
using Piece = StretchableImage::Piece;

TEST(StretchableImage, CornersKeepTheirSizeEdgesAndCentreStretch)
{
    // A 30-point image with 10-point caps into 100 × 60 at (5, 7); origins at the top left.
    const auto pieces = StretchableImage::pieces({{5, 7}, {100, 60}}, {30, 30}, TMEdgeInsetsMake(10, 10, 10, 10));
    const std::vector<Piece> expected{
        {{{5, 57}, {10, 10}}, {{0, 20}, {10, 10}}},   // bottom left
        {{{5, 7}, {10, 10}}, {{0, 0}, {10, 10}}},     // top left
        {{{95, 7}, {10, 10}}, {{20, 0}, {10, 10}}},   // top right
        {{{95, 57}, {10, 10}}, {{20, 20}, {10, 10}}}, // bottom right
        {{{15, 57}, {80, 10}}, {{10, 20}, {10, 10}}}, // bottom edge
        {{{15, 7}, {80, 10}}, {{10, 0}, {10, 10}}},   // top edge
        {{{5, 17}, {10, 40}}, {{0, 10}, {10, 10}}},   // left edge
        {{{95, 17}, {10, 40}}, {{20, 10}, {10, 10}}}, // right edge
        // The centre is read 2 points inside the top and bottom caps.
        {{{15, 17}, {80, 40}}, {{10, 12}, {10, 6}}},
    };
    EXPECT_EQ(pieces, expected);
}

TEST(StretchableImage, WithoutCapsTheCentreIsTheWholeImageReadInsideByTwo)
{
    const auto pieces = StretchableImage::pieces({{10.4, 10.6}, {99.5, 50.2}}, {20, 16}, {});
    ASSERT_EQ(pieces.size(), 1u);
    // Rounded to whole points, halves away from zero.
    EXPECT_EQ(pieces[0].destination, (Rect{{10, 11}, {100, 50}}));
    EXPECT_EQ(pieces[0].source, (Rect{{0, 2}, {20, 12}}));
}

TEST(StretchableImage, PiecesWithNothingToDrawAreLeftOut)
{
    const auto insets = TMEdgeInsetsMake(10, 10, 10, 10);
    // Narrower and lower than the caps: the corners alone.
    auto pieces = StretchableImage::pieces({{0, 0}, {15, 15}}, {30, 30}, insets);
    EXPECT_EQ(pieces.size(), 4u);
    // An image only 4 points taller than its caps has no centre to read; its side edges stay.
    pieces = StretchableImage::pieces({{0, 0}, {100, 100}}, {30, 24}, insets);
    EXPECT_EQ(pieces.size(), 8u);
    // An empty destination draws nothing at all.
    EXPECT_TRUE(StretchableImage::pieces({{0, 0}, {0, 40}}, {30, 30}, insets).empty());
    EXPECT_TRUE(StretchableImage::pieces({{0, 0}, {40, -3}}, {30, 30}, insets).empty());

    // At every size, and with caps wider than the image, each piece has a size above 0.
    for (double w = -2; w <= 40; w += 0.5) {
        for (double h = -2; h <= 40; h += 0.5) {
            for (const auto& image : {kx::Size{30, 30}, kx::Size{8, 8}, kx::Size{0, 0}}) {
                for (const auto& piece : StretchableImage::pieces({{0, 0}, {w, h}}, image, insets)) {
                    ASSERT_GT(piece.destination.size.width, 0) << w << " " << h;
                    ASSERT_GT(piece.destination.size.height, 0) << w << " " << h;
                    ASSERT_GT(piece.source.size.width, 0) << w << " " << h;
                    ASSERT_GT(piece.source.size.height, 0) << w << " " << h;
                }
            }
        }
    }
}

TEST(StretchableImage, DrawingTooSmallLeavesTheContextWorking)
{
    auto kept = kx::GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 30, 30));
    GdkPixbuf* image = kept.get();
    gdk_pixbuf_fill(image, 0x0000FFFF); // opaque blue
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 50, 50);
    cairo_t* cr = cairo_create(surface);
    for (double size : {0.0, 3.0, 15.0, 19.6, 22.0})
        StretchableImage::drawInRect(cr, image, {{1, 1}, {size, size}}, TMEdgeInsetsMake(10, 10, 10, 10));
    EXPECT_EQ(cairo_status(cr), CAIRO_STATUS_SUCCESS);
    // What comes after is still drawn.
    cairo_set_source_rgb(cr, 1, 0, 0);
    cairo_rectangle(cr, 40, 40, 10, 10);
    cairo_fill(cr);
    cairo_surface_flush(surface);
    const auto* pixel = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface)
                                                          + 45 * cairo_image_surface_get_stride(surface))
                        + 45;
    EXPECT_EQ(*pixel, 0xFFFF0000u);
    // And the corners did draw.
    const auto* corner = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface)
                                                           + 5 * cairo_image_surface_get_stride(surface))
                         + 5;
    EXPECT_EQ(*corner, 0xFF0000FFu);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}
