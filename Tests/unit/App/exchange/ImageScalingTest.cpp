// Decoding with a cap on pixels and scaling down to fit a side, as worker threads use them.
#include <gtest/gtest.h>

#include <thread>

#include "App/exchange/ImageScaling.h"
#include "unit/App/documents/ImageFixtures.h"

namespace {

using kx::GObjectRef;

std::span<const std::byte> bytesOf(const std::string& data)
{
    return std::as_bytes(std::span(data.data(), data.size()));
}

TEST(ImageScalingTest, AnImageThatFitsIsTheVerySameObject)
{
    auto image = GObjectRef<GdkPixbuf>::adopt(imagefixtures::makePixbuf(300, 200));
    EXPECT_EQ(kx::scaleDownToFitSide(image, 512).get(), image.get());
    EXPECT_EQ(kx::scaleDownToFitSide(image, 300).get(), image.get());
    EXPECT_EQ(kx::scaleDownToFitSide(nullptr, 300).get(), nullptr);
}

TEST(ImageScalingTest, ALargerImageIsScaledByTheSmallerFactorRoundedUp)
{
    auto image = GObjectRef<GdkPixbuf>::adopt(imagefixtures::makePixbuf(3000, 2000));
    auto scaled = kx::scaleDownToFitSide(image, 512);
    ASSERT_TRUE(scaled);
    EXPECT_NE(scaled.get(), image.get());
    EXPECT_EQ(gdk_pixbuf_get_width(scaled.get()), 512);
    EXPECT_EQ(gdk_pixbuf_get_height(scaled.get()), 342);
    EXPECT_TRUE(gdk_pixbuf_get_has_alpha(scaled.get()));
    EXPECT_EQ(gdk_pixbuf_get_bits_per_sample(scaled.get()), 8);

    auto tall = GObjectRef<GdkPixbuf>::adopt(imagefixtures::makePixbuf(10, 1000));
    auto narrow = kx::scaleDownToFitSide(tall, 100);
    EXPECT_EQ(gdk_pixbuf_get_width(narrow.get()), 1);
    EXPECT_EQ(gdk_pixbuf_get_height(narrow.get()), 100);
}

TEST(ImageScalingTest, DecodingIsCappedInPixels)
{
    // An SVG that claims a picture of ten billion pixels.
    auto image = kx::decodeImage(bytesOf(imagefixtures::svg(100'000, 100'000)), 1'000'000);
    ASSERT_TRUE(image);
    EXPECT_LE(std::uint64_t(gdk_pixbuf_get_width(image.get())) * gdk_pixbuf_get_height(image.get()), 1'000'000u);
    EXPECT_EQ(gdk_pixbuf_get_width(image.get()), 1000);

    auto small = kx::decodeImage(bytesOf(imagefixtures::png(30, 20)));
    ASSERT_TRUE(small);
    EXPECT_EQ(gdk_pixbuf_get_width(small.get()), 30);
    EXPECT_FALSE(kx::decodeImage(bytesOf(std::string("not an image"))));
    EXPECT_FALSE(kx::decodeImage({}));
    auto truncated = imagefixtures::png(300, 200);
    EXPECT_FALSE(kx::decodeImage(bytesOf(truncated.substr(0, 40))));
}

TEST(ImageScalingTest, WorkerThreadsDecodeAndScaleAtOnce)
{
    const std::string jpeg = imagefixtures::jpeg(1600, 1200);
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            auto image = kx::decodeImage(bytesOf(jpeg));
            auto scaled = kx::scaleDownToFitSide(image, 512);
            if (scaled && gdk_pixbuf_get_width(scaled.get()) == 512 && gdk_pixbuf_get_height(scaled.get()) == 384)
                ++good;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(good, 8);
}

} // namespace
