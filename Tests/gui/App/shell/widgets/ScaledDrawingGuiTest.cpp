// Our drawn widgets on a screen of two pixels per point and with the desktop's text scaling:
// images are drawn from pixels made for the screen (sharp, as the text beside them), also after
// the window moved to a screen of another scale; drawn titles grow with Xft DPI as labels do.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <gdk/gdkx.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "App/shell/widgets/AttributedTitle.h"
#include "App/shell/widgets/ImageMouseOverButton.h"
#include "App/shell/widgets/ToolbarButton.h"
#include "Platform/Foundation/Bundle.h"
#include "gui/App/shell/widgets/WidgetTestWindow.h"

using kxtest::hex;

namespace {

using SurfaceHolder = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

// The alpha of the pixel (x, y) of an ARGB32 image.
int alphaAt(cairo_surface_t* image, int x, int y)
{
    const unsigned char* data = cairo_image_surface_get_data(image);
    const auto* pixel = reinterpret_cast<const uint32_t*>(data + y * cairo_image_surface_get_stride(image)) + x;
    return int(*pixel >> 24);
}

class ScaledDrawingGui : public kxtest::WidgetWindowTest {
protected:
    void SetUp() override
    {
        if (!GDK_IS_X11_DISPLAY(gdk_display_get_default()))
            GTEST_SKIP() << "the window scale is set through X11 here";
        WidgetWindowTest::SetUp();
        originalScale_ = gtk_widget_get_scale_factor(window->widget());
    }

    void TearDown() override
    {
        if (originalScale_)
            setWindowScale(originalScale_);
    }

    // As a move of the window to a screen of `scale` pixels per point.
    void setWindowScale(int scale)
    {
        gdk_x11_display_set_window_scale(gdk_display_get_default(), scale);
        ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_scale_factor(window->widget()) == scale; }));
        kxtest::settle();
    }

    // What `widget` draws, in an image of `scale` pixels per point.
    static SurfaceHolder render(GtkWidget* widget, int scale)
    {
        const int width = gtk_widget_get_allocated_width(widget);
        const int height = gtk_widget_get_allocated_height(widget);
        SurfaceHolder image{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width * scale, height * scale),
                            &cairo_surface_destroy};
        cairo_surface_set_device_scale(image.get(), scale, scale);
        cairo_t* cr = cairo_create(image.get());
        gtk_widget_draw(widget, cr);
        cairo_destroy(cr);
        cairo_surface_flush(image.get());
        return image;
    }

    // The largest difference of coverage between `drawn` and the image file `name` drawn by
    // itself at `pixels` × `pixels`, placed at (`left`, `top`) of `drawn` (in pixels).
    static int largestDifference(cairo_surface_t* drawn, const char* name, int pixels, int left, int top)
    {
        const auto path = kx::Bundle::main().resourcePath() / "images" / name;
        auto truth = kx::GObjectRef<GdkPixbuf>::adopt(
            gdk_pixbuf_new_from_file_at_scale(path.c_str(), pixels, pixels, FALSE, nullptr));
        EXPECT_TRUE(truth) << path;
        if (!truth)
            return 255;
        const int channels = gdk_pixbuf_get_n_channels(truth.get());
        const int stride = gdk_pixbuf_get_rowstride(truth.get());
        const guint8* bytes = gdk_pixbuf_read_pixels(truth.get());
        int largest = 0;
        for (int y = 0; y < cairo_image_surface_get_height(drawn); ++y) {
            for (int x = 0; x < cairo_image_surface_get_width(drawn); ++x) {
                const bool inside = x >= left && x < left + pixels && y >= top && y < top + pixels;
                const int expected = inside ? bytes[(y - top) * stride + (x - left) * channels + 3] : 0;
                largest = std::max(largest, std::abs(alphaAt(drawn, x, y) - expected));
            }
        }
        return largest;
    }

private:
    int originalScale_ = 0;
};

} // namespace

TEST_F(ScaledDrawingGui, ImagesAreDrawnFromPixelsOfTheScreensScaleAlsoAfterAMove)
{
    kx::ImageMouseOverButton close("close");
    close.setTintColor(hex("000000"));
    place(close, {{20, 20}, {30, 30}});
    kx::ToolbarButton toolbar("preview-settings");
    place(toolbar, {{80, 20}, {32, 32}});

    // At scale 1 as before: the 12-point cross at whole points, (9, 9) of the button.
    setWindowScale(1);
    auto once = render(close.widget(), 1);
    EXPECT_LE(largestDifference(once.get(), "close.svg", 12, 9, 9), 2);

    // The window reaches a screen of twice the pixels: each pixel of the cross is its own, no
    // blurred enlargement of the small one (which is off by far more than rounding at the edges).
    setWindowScale(2);
    auto twice = render(close.widget(), 2);
    EXPECT_LE(largestDifference(twice.get(), "close.svg", 24, 18, 18), 2);
    auto toolbarTwice = render(toolbar.widget(), 2);
    EXPECT_LE(largestDifference(toolbarTwice.get(), "preview-settings.svg", 32, 16, 16), 2);
    kxtest::saveScreenshot("scaled-images");

    // And back.
    setWindowScale(1);
    once = render(close.widget(), 1);
    EXPECT_LE(largestDifference(once.get(), "close.svg", 12, 9, 9), 2);
}

TEST_F(ScaledDrawingGui, DrawnTitlesGrowWithTheDesktopsTextScalingAsLabelsDo)
{
    const kx::Font font = kx::Font::systemFont(13);
    kx::AttributedTitle title;
    title.text = "Recent Files";
    title.font = font;
    GtkWidget* label = gtk_label_new("Recent Files");
    PangoAttrList* attributes = pango_attr_list_new();
    PangoFontDescription* description = font.description();
    pango_attr_list_insert(attributes, pango_attr_font_desc_new(description));
    pango_font_description_free(description);
    gtk_label_set_attributes(GTK_LABEL(label), attributes);
    pango_attr_list_unref(attributes);
    gtk_fixed_put(window->flippedContentView(), label, 20, 100);
    gtk_widget_show(label);
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(label); }));

    GtkSettings* settings = gtk_settings_get_default();
    int desktopDpi = 0;
    g_object_get(settings, "gtk-xft-dpi", &desktopDpi, nullptr);
    const auto labelSize = [&] {
        int width = 0, height = 0;
        pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(label)), &width, &height);
        return kx::Size{double(width), double(height)};
    };

    g_object_set(settings, "gtk-xft-dpi", 96 * 1024, nullptr);
    kxtest::settle();
    const kx::Size usual = title.measure();
    const kx::Size usualLabel = labelSize();
    // 13 points of ours are 13 pixels at 96 dots per inch, in the title as in the label (whose
    // metrics are rounded to whole pixels).
    EXPECT_NEAR(usual.width, usualLabel.width, 2);
    EXPECT_NEAR(usual.height, usualLabel.height, 2);

    // Large text (1.5 times) in the desktop's settings: both grow alike.
    g_object_set(settings, "gtk-xft-dpi", 144 * 1024, nullptr);
    EXPECT_TRUE(kxtest::spinUntil([&] { return labelSize().width > usualLabel.width * 1.3; }));
    const kx::Size large = title.measure();
    const kx::Size largeLabel = labelSize();
    EXPECT_NEAR(large.width, largeLabel.width, 3);
    EXPECT_NEAR(large.height / usual.height, largeLabel.height / usualLabel.height, 0.1);
    kxtest::saveScreenshot("scaled-text");

    g_object_set(settings, "gtk-xft-dpi", desktopDpi, nullptr);
    gtk_widget_destroy(label);
}
