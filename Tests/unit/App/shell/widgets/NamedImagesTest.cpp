#include <gtest/gtest.h>

#include <fstream>

#include "App/shell/widgets/NamedImages.h"
#include "support/TestPaths.h"

using kx::NamedImages;

namespace {

void writePng(const std::filesystem::path& path, int width, int height, guint32 colour = 0xFF0000FF)
{
    auto image = kx::GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height));
    gdk_pixbuf_fill(image.get(), colour);
    ASSERT_TRUE(gdk_pixbuf_save(image.get(), path.c_str(), "png", nullptr, nullptr));
}

struct Pixels {
    int width;
    int height;
    double scale;
};

Pixels pixelsOf(cairo_surface_t* surface)
{
    double scaleX = 0, scaleY = 0;
    cairo_surface_get_device_scale(surface, &scaleX, &scaleY);
    EXPECT_EQ(scaleX, scaleY);
    return {cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface), scaleX};
}

// The colour (0xRRGGBB) of the middle pixel.
guint32 middleColour(cairo_surface_t* surface)
{
    cairo_surface_flush(surface);
    const int y = cairo_image_surface_get_height(surface) / 2;
    const int x = cairo_image_surface_get_width(surface) / 2;
    const auto* row = reinterpret_cast<const guint32*>(cairo_image_surface_get_data(surface)
                                                       + y * cairo_image_surface_get_stride(surface));
    return row[x] & 0xFFFFFF;
}

} // namespace

TEST(NamedImages, ReadsAVectorImageFirstAtAnySizeAndKeepsIt)
{
    kxtest::TemporaryDirectory dir;
    writePng(dir / "close.png", 7, 7);
    std::ofstream(dir / "close.svg") << R"(<svg xmlns="http://www.w3.org/2000/svg" width="12" height="10"><rect width="12" height="10"/></svg>)";
    writePng(dir / "save.png", 15, 15);
    NamedImages images(dir.path());

    GdkPixbuf* close = images.imageNamed("close");
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(close), 12); // the SVG, not the PNG
    EXPECT_EQ(images.imageNamed("close"), close);
    GdkPixbuf* large = images.imageNamed("close", 48, 40);
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(large), 48);
    EXPECT_EQ(images.imageNamed("close", 0, 10), nullptr);
    ASSERT_NE(images.imageNamed("save"), nullptr);
    EXPECT_EQ(gdk_pixbuf_get_height(images.imageNamed("save")), 15);
    EXPECT_EQ(images.imageNamed("missing"), nullptr);
}

TEST(NamedImages, NamesAreFileNamesInTheFolderOnly)
{
    kxtest::TemporaryDirectory dir;
    std::filesystem::create_directories(dir / "images");
    writePng(dir / "secret.png", 4, 4);
    writePng(dir / "images" / ".hidden.png", 4, 4);
    std::ofstream(dir / "images" / "broken.png") << "not a picture";
    NamedImages images(dir / "images");
    for (const char* name : {"../secret", "", ".hidden", "a/b", "a\\b", "x\n"}) {
        EXPECT_FALSE(NamedImages::isPlainName(name)) << name;
        EXPECT_EQ(images.imageNamed(name), nullptr) << name;
    }
    EXPECT_TRUE(NamedImages::isPlainName("icon-intercom-active"));
    // A file that is no image is reported and gives none.
    EXPECT_EQ(images.imageNamed("broken"), nullptr);
}

TEST(NamedImages, ImagesForAScreenHaveItsPixelsPerPointAtTheSameSizeInPoints)
{
    kxtest::TemporaryDirectory dir;
    std::ofstream(dir / "close.svg") << R"(<svg xmlns="http://www.w3.org/2000/svg" width="12" height="10"><rect width="12" height="10"/></svg>)";
    writePng(dir / "save.png", 15, 15, 0xFF0000FF);
    writePng(dir / "save@2x.png", 30, 30, 0x00FF00FF);
    writePng(dir / "open.png", 8, 6, 0x0000FFFF);
    std::ofstream(dir / "broken@2x.png") << "not a picture";
    writePng(dir / "broken.png", 5, 5);
    NamedImages images(dir.path());

    // The vector image drawn with twice the pixels, the same size in points.
    cairo_surface_t* close = images.surfaceNamed("close", 2);
    ASSERT_NE(close, nullptr);
    const Pixels closePixels = pixelsOf(close);
    EXPECT_EQ(closePixels.width, 24);
    EXPECT_EQ(closePixels.height, 20);
    EXPECT_EQ(closePixels.scale, 2);
    EXPECT_EQ(NamedImages::pointSize(close), (kx::Size{12, 10}));
    EXPECT_EQ(images.surfaceNamed("close", 2), close);
    EXPECT_NE(images.surfaceNamed("close", 1), close);
    EXPECT_EQ(pixelsOf(images.surfaceNamed("close", 1)).width, 12);
    cairo_surface_t* large = images.surfaceNamed("close", 48, 40, 3);
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(pixelsOf(large).width, 144);
    EXPECT_EQ(NamedImages::pointSize(large), (kx::Size{48, 40}));

    // The drawing made for the scale, not the small one enlarged; the small one at scale 1.
    cairo_surface_t* save = images.surfaceNamed("save", 2);
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(pixelsOf(save).width, 30);
    EXPECT_EQ(middleColour(save), 0x00FF00u);
    EXPECT_EQ(middleColour(images.surfaceNamed("save", 1)), 0xFF0000u);
    // At a size of its own it is brought to that size.
    EXPECT_EQ(pixelsOf(images.surfaceNamed("save", 10, 10, 2)).width, 20);
    EXPECT_EQ(middleColour(images.surfaceNamed("save", 10, 10, 2)), 0x00FF00u);

    // Without either, the image enlarged.
    cairo_surface_t* open = images.surfaceNamed("open", 2);
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(pixelsOf(open).width, 16);
    EXPECT_EQ(pixelsOf(open).height, 12);
    EXPECT_EQ(middleColour(open), 0x0000FFu);

    // A drawing for the scale that is no image is passed over.
    ASSERT_NE(images.surfaceNamed("broken", 2), nullptr);
    EXPECT_EQ(pixelsOf(images.surfaceNamed("broken", 2)).width, 10);

    // Scales out of reason are brought within it; no size, no name, no image.
    EXPECT_EQ(pixelsOf(images.surfaceNamed("close", 0)).scale, 1);
    EXPECT_EQ(pixelsOf(images.surfaceNamed("close", 1000)).scale, 8);
    EXPECT_EQ(images.surfaceNamed("close", 0, 10, 2), nullptr);
    EXPECT_EQ(images.surfaceNamed("../close", 2), nullptr);
    EXPECT_EQ(images.surfaceNamed("missing", 2), nullptr);
}
