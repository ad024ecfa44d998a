// Downscaling for the cached images: when the very same image comes back, the sizes of a
// scaled copy, and pictures refused before their pixels are decoded.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>

#include <zlib.h>

#include "App/exchange/ImageScaling.h"

namespace {

using kx::Image;

// A PNG of the given size; `dpi` writes a resolution into it.
std::string png(int width, int height, bool alpha = false)
{
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, width, height);
    gdk_pixbuf_fill(pixbuf, 0x3366ccff);
    gchar* buffer = nullptr;
    gsize size = 0;
    EXPECT_TRUE(gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "png", nullptr, nullptr));
    g_object_unref(pixbuf);
    std::string bytes(buffer, size);
    g_free(buffer);
    return bytes;
}

std::shared_ptr<const Image> decoded(const std::string& bytes)
{
    auto result = Image::decode(bytes);
    EXPECT_TRUE(result.isSuccess()) << (result.isFailure() ? result.error().localizedFailureReason : "");
    return result.isSuccess() ? result.value() : nullptr;
}

TEST(ImageScaling, AnImageLargerThanTheSideIsScaledToFitItRoundingUp)
{
    const auto image = decoded(png(3000, 2000));
    for (const auto& [side, width, height] : {std::tuple{512, 512, 342}, {1024, 1024, 683}, {2048, 2048, 1366}}) {
        const auto scaled = kx::scaleDownToFitSide(image, side);
        ASSERT_NE(scaled, image);
        EXPECT_EQ(scaled->pixelWidth(), width);
        EXPECT_EQ(scaled->pixelHeight(), height);
        EXPECT_EQ(scaled->pointWidth, width);
        EXPECT_EQ(scaled->pointHeight, height);
        // One 8-bit RGBA buffer, whatever the source had.
        EXPECT_TRUE(gdk_pixbuf_get_has_alpha(scaled->representation.get()));
        EXPECT_EQ(gdk_pixbuf_get_bits_per_sample(scaled->representation.get()), 8);
        EXPECT_EQ(gdk_pixbuf_get_n_channels(scaled->representation.get()), 4);
    }
    // A tall sliver keeps at least one pixel of width.
    const auto sliver = kx::scaleDownToFitSide(decoded(png(2, 5000)), 512);
    EXPECT_EQ(sliver->pixelWidth(), 1);
    EXPECT_EQ(sliver->pixelHeight(), 512);
}

TEST(ImageScaling, TheVerySameImageComesBackWhenThereIsNothingToScale)
{
    const auto small = decoded(png(300, 200));
    EXPECT_EQ(kx::scaleDownToFitSide(small, 512), small);
    EXPECT_EQ(kx::scaleDownToFitSide(small, 300), small); // a factor of exactly 1

    auto pointless = std::make_shared<Image>(*decoded(png(3000, 2000)));
    pointless->pointWidth = 0.5; // an extent of half a point counts as none
    std::shared_ptr<const Image> tiny = pointless;
    EXPECT_EQ(kx::scaleDownToFitSide(tiny, 512), tiny);

    auto unrepresented = std::make_shared<Image>();
    unrepresented->pointWidth = 3000;
    unrepresented->pointHeight = 2000;
    std::shared_ptr<const Image> bare = unrepresented;
    EXPECT_EQ(kx::scaleDownToFitSide(bare, 512), bare);

    const auto large = decoded(png(3000, 2000));
    EXPECT_EQ(kx::scaleDownToFitSide(large, 0), large);
    EXPECT_EQ(kx::scaleDownToFitSide(large, std::nan("")), large);
    EXPECT_EQ(kx::scaleDownToFitSide(nullptr, 512), nullptr);
}

TEST(ImageScaling, PointsFollowThePicturesResolution)
{
    // A JPEG at 144 dpi is half as many points as pixels wide.
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 400, 200);
    gdk_pixbuf_fill(pixbuf, 0);
    gchar* buffer = nullptr;
    gsize size = 0;
    ASSERT_TRUE(gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "jpeg", nullptr, "x-dpi", "144", "y-dpi", "144", nullptr));
    g_object_unref(pixbuf);
    const auto image = decoded(std::string(buffer, size));
    g_free(buffer);
    EXPECT_EQ(image->pixelWidth(), 400);
    EXPECT_DOUBLE_EQ(image->pointWidth, 200);
    EXPECT_DOUBLE_EQ(image->pointHeight, 100);
}

TEST(ImageScaling, HostileBytesAreRefusedBeforeTheirPixelsAreDecoded)
{
    EXPECT_TRUE(Image::decode("").isFailure());
    EXPECT_TRUE(Image::decode("not a picture at all").isFailure());
    std::string truncated = png(64, 64);
    truncated.resize(20); // within the header
    EXPECT_TRUE(Image::decode(truncated).isFailure());

    // A header that claims 60000 by 60000 pixels: refused at the header.
    std::string huge = png(1, 1);
    const unsigned char side[] = {0x00, 0x00, 0xea, 0x60};
    huge.replace(16, 4, reinterpret_cast<const char*>(side), 4);
    huge.replace(20, 4, reinterpret_cast<const char*>(side), 4);
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(huge.data() + 12), 17); // "IHDR" and its fields
    const unsigned char check[] = {static_cast<unsigned char>(crc >> 24), static_cast<unsigned char>(crc >> 16),
                                   static_cast<unsigned char>(crc >> 8), static_cast<unsigned char>(crc)};
    huge.replace(29, 4, reinterpret_cast<const char*>(check), 4);
    const auto refused = Image::decode(huge);
    ASSERT_TRUE(refused.isFailure());
    EXPECT_EQ(refused.error().localizedFailureReason, "The picture has more pixels than a picture may have here.");
    EXPECT_TRUE(Image::decode(png(100, 100), 9999).isFailure());
    EXPECT_TRUE(Image::decode(png(100, 100), 10000).isSuccess());

    // For smaller copies, a picture over the cap is decoded at the largest size that fits.
    const std::string svg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="100000" height="50000">)"
                            R"(<rect width="100000" height="50000" fill="#36c"/></svg>)";
    const auto shrunk = Image::decode(svg, 1'000'000, true);
    ASSERT_TRUE(shrunk.isSuccess());
    EXPECT_LE(shrunk.value()->pixelWidth() * shrunk.value()->pixelHeight(), 1'000'000);
    EXPECT_EQ(shrunk.value()->pixelWidth(), 1414);
    EXPECT_TRUE(Image::decode(svg, 1'000'000).isFailure());
}

} // namespace
