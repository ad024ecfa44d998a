#include <gtest/gtest.h>

#include <fstream>

#include "App/shell/widgets/NamedImages.h"
#include "support/TestPaths.h"

using kx::NamedImages;

namespace {

void writePng(const std::filesystem::path& path, int width, int height)
{
    auto image = kx::GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height));
    gdk_pixbuf_fill(image.get(), 0xFF0000FF);
    ASSERT_TRUE(gdk_pixbuf_save(image.get(), path.c_str(), "png", nullptr, nullptr));
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
