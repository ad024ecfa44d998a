// Every widget in one window, by day and by night, checked where its drawing is certain (and
// saved as pictures with KX_SCREENSHOT_DIR set, for a person to look at).
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "App/shell/AppAppearance.h"
#include "App/shell/widgets/AntiAliasedButton.h"
#include "App/shell/widgets/AntiAliasedLabel.h"
#include "App/shell/widgets/ImageMouseOverButton.h"
#include "App/shell/widgets/PopoverBackgroundView.h"
#include "App/shell/widgets/RKStylableView.h"
#include "App/shell/widgets/SimpleButton.h"
#include "App/shell/widgets/Spinner.h"
#include "App/shell/widgets/StretchableImage.h"
#include "App/shell/widgets/ToolbarAccessoryView.h"
#include "App/shell/widgets/ToolbarButton.h"
#include "App/shell/widgets/WelcomeWindowButton.h"
#include "Platform/Foundation/SignalConnection.h"
#include "gui/App/shell/widgets/WidgetTestWindow.h"

using kx::Color;
using kxtest::hex;
using kx::Point;
using kx::Rect;

namespace {

// The colour of a window's own drawing at a point of one of its widgets.
Color colorAt(GtkWidget* widget, double x, double y)
{
    const Point root = kxtest::onScreen(widget, x, y);
    auto pixbuf = kx::GObjectRef<GdkPixbuf>::adopt(
        gdk_pixbuf_get_from_window(gdk_get_default_root_window(), int(root.x), int(root.y), 1, 1));
    const guchar* pixel = gdk_pixbuf_get_pixels(pixbuf.get());
    return {pixel[0] / 255.0, pixel[1] / 255.0, pixel[2] / 255.0, 1};
}

bool near(const Color& a, const Color& b, double tolerance = 0.02)
{
    return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance
           && std::abs(a.blue - b.blue) <= tolerance;
}

// A 24-point stretchable image: a 1-point dark frame with 8-point rounded caps on light grey.
kx::GObjectRef<GdkPixbuf> framedImage()
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 24, 24);
    cairo_t* cr = cairo_create(surface);
    kx::View::addRoundedRectangle(cr, {{0.5, 0.5}, {23, 23}}, 7);
    cairo_set_source_rgb(cr, 0.93, 0.93, 0.93);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    cairo_destroy(cr);
    auto image = kx::GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_get_from_surface(surface, 0, 0, 24, 24));
    cairo_surface_destroy(surface);
    return image;
}

class WidgetGalleryGui : public ::testing::Test {
protected:
    void SetUp() override
    {
        wasDark = appearance.isDark();
        if (wasDark)
            switchMode();
        gtk_window_move(window.gtkWindow(), 40, 40);
        window.setTitle("Widgets");
        GtkHeaderBar* bar = window.useTallTitleBar();
        gtk_header_bar_pack_end(bar, accessory.widget());
        gtk_widget_show(accessory.widget());
        window.setContentView(GTK_WIDGET(content));

        stylable.setBackgoundColor(hex("F9F9F9"));
        stylable.setBorderWidth(1, hex("EAEAEA"));
        stylable.setLeftBorderWidth(4, hex("0099FF"));
        put(stylable, {{10, 10}, {200, 120}});

        styled.setTitle("Sign In");
        styled.setBackgroundColor(hex("0099FF"));
        styled.setBackgroundColorPressed(hex("007ACC"));
        styled.setLabelColor(hex("FFFFFF"));
        styled.setCornerRadius(4);
        put(styled, {{230, 10}, {120, 36}});
        unstyled.setTitle("Unstyled");
        put(unstyled, {{230, 56}, {120, 36}});

        close.setTintColor(hex("BBBBBB"));
        put(close, {{370, 10}, {30, 30}});
        put(toolbarButton, {{410, 10}, {30, 30}});
        put(spinner, {{370, 56}, {32, 32}});

        put(antiAliased, {{10, 150}, {200, 30}});
        put(label, {{10, 190}, {200, 30}});
        put(open, {{230, 150}, {116, 28}});

        nine = gtk_drawing_area_new();
        gtk_widget_set_size_request(nine, 200, 60);
        gtk_fixed_put(content, nine, 230, 190);
        ninePainter = kx::SignalConnection::connect<gboolean(GtkWidget*, cairo_t*)>(
            nine, "draw", [this](GtkWidget* widget, cairo_t* cr) -> gboolean {
                kx::StretchableImage::drawInRect(cr, image.get(),
                                                 {{0, 0}, {double(gtk_widget_get_allocated_width(widget)), 60}},
                                                 kx::TMEdgeInsetsMake(8, 8, 8, 8));
                return FALSE;
            });
        gtk_widget_show(nine);

        window.makeKeyAndOrderFront();
        ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(nine) && gtk_widget_get_allocated_width(nine) == 200; }));
        settle();
    }

    void TearDown() override
    {
        if (appearance.isDark() != wasDark)
            switchMode();
    }

    void put(kx::View& view, const Rect& frame)
    {
        view.placeIn(content, frame);
        gtk_widget_show(view.widget());
    }

    void switchMode()
    {
        const bool dark = appearance.isDark();
        appearance.toggleDarkAppearance();
        ASSERT_TRUE(kxtest::spinUntil([&] { return appearance.isDark() != dark; }));
    }

    // Lets every redraw reach the screen.
    void settle()
    {
        kxtest::settle();
    }

    kx::AppAppearance& appearance = kx::AppAppearance::shared();
    bool wasDark = false;
    kx::Window window{{460, 270}};
    GtkFixed* content = GTK_FIXED(gtk_fixed_new());
    kx::ToolbarAccessoryView accessory;
    kx::RKStylableView stylable;
    kx::SimpleButton styled;
    kx::SimpleButton unstyled;
    kx::ImageMouseOverButton close{"close"};
    kx::ToolbarButton toolbarButton{kx::NamedImages::shared().imageNamed("close")};
    kx::Spinner spinner;
    kx::AntiAliasedButton antiAliased{"Open Recent", kx::Font::systemFont(13), hex("1D1D1F"), std::nullopt,
                                      kx::TextAlignment::left, std::nullopt};
    kx::AntiAliasedLabel label{"No Recent Files", kx::Font::systemFont(12), std::nullopt, std::nullopt, std::nullopt,
                               std::nullopt};
    kx::WelcomeWindowButton open{"Open\u2026"};
    kx::GObjectRef<GdkPixbuf> image = framedImage();
    GtkWidget* nine = nullptr;
    kx::SignalConnection ninePainter;
};

} // namespace

TEST_F(WidgetGalleryGui, EachWidgetDrawsByDayAndByNight)
{
    kxtest::saveScreenshot("widgets-day");
    // The stylable view: background, then a left border over the thin one.
    EXPECT_TRUE(near(colorAt(stylable.widget(), 100, 60), hex("F9F9F9")));
    EXPECT_TRUE(near(colorAt(stylable.widget(), 2, 60), hex("0099FF")));
    EXPECT_TRUE(near(colorAt(stylable.widget(), 100, 0), hex("EAEAEA")));
    EXPECT_TRUE(near(colorAt(stylable.widget(), 199, 60), hex("EAEAEA")));
    // A simple button shows its colour; one never styled stays red.
    EXPECT_TRUE(near(colorAt(styled.widget(), 6, 18), hex("0099FF")));
    EXPECT_TRUE(near(colorAt(unstyled.widget(), 6, 18), Color{1, 0, 0, 1}));
    // The close image in its tint, the toolbar button's in the day grey.
    EXPECT_TRUE(near(colorAt(close.widget(), 15, 15), hex("BBBBBB"), 0.1));
    EXPECT_TRUE(near(colorAt(toolbarButton.widget(), 15, 15), hex("444444"), 0.1));
    // The nine-part image: its frame at the edges, its fill in the middle, at any width.
    EXPECT_TRUE(near(colorAt(nine, 100, 0), Color{0.2, 0.2, 0.2, 1}, 0.1));
    EXPECT_TRUE(near(colorAt(nine, 100, 30), Color{0.93, 0.93, 0.93, 1}));
    EXPECT_TRUE(near(colorAt(nine, 199, 30), Color{0.2, 0.2, 0.2, 1}, 0.1));
    // By day the title bar is the desktop's.
    EXPECT_FALSE(gtk_style_context_has_class(gtk_widget_get_style_context(GTK_WIDGET(window.titleBar())),
                                             kx::ToolbarAccessoryView::nightStyleClass));

    switchMode();
    open.setTitle("Open\u2026", hex("FFFFFF"));
    close.setTintColor(hex("666666"));
    settle();
    kxtest::saveScreenshot("widgets-night");
    EXPECT_TRUE(near(colorAt(toolbarButton.widget(), 15, 15), hex("EEEEEE"), 0.1));
    EXPECT_TRUE(near(colorAt(close.widget(), 15, 15), hex("666666"), 0.1));
    // The title bar wears the gradient: dark greys from top to bottom.
    GtkWidget* bar = GTK_WIDGET(window.titleBar());
    const Color middle = colorAt(bar, 5, gtk_widget_get_allocated_height(bar) / 2.0);
    EXPECT_TRUE(middle.red > 0.15 && middle.red < 0.3) << middle.hexColorString();
}

TEST_F(WidgetGalleryGui, APopoverByDayAndByNight)
{
    auto popover = std::make_shared<kx::Popover>(kx::Popover::Kind::attached);
    kx::PopoverBackgroundView background;
    background.setPopover(popover);
    gtk_widget_set_size_request(background.widget(), 260, 90);
    GtkWidget* link = GTK_WIDGET(background.makeLinkLabel("Scan the QR code with your camera to view on mobile, or ",
                                                          "open in browser", "http://192.168.1.5:3000/", "."));
    gtk_label_set_line_wrap(GTK_LABEL(link), TRUE);
    gtk_label_set_xalign(GTK_LABEL(link), 0);
    gtk_label_set_max_width_chars(GTK_LABEL(link), 30);
    // A fixed container gives a wrapping label its narrowest width unless asked otherwise.
    gtk_widget_set_size_request(link, 228, -1);
    gtk_fixed_put(background.fixed(), link, 16, 16);
    gtk_widget_show(link);
    // The owner colours its popover by the mode, as the live-sharing popover does.
    background.setBackgroundColor(kx::AppAppearance::Colors::welcomeBackground());
    popover->setContentView(background.widget());
    for (const char* mode : {"day", "night"}) {
        popover->show(open.widget(), GTK_POS_BOTTOM);
        ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_allocated_width(background.widget()) >= 260; }));
        settle();
        // Once it has slid and faded in, over what lies below.
        EXPECT_TRUE(kxtest::spinUntil([&] {
            const Color color = kx::AppAppearance::Colors::welcomeBackground();
            return near(colorAt(background.widget(), 4, 80), color, 0.004)
                   && near(colorAt(unstyled.widget(), 118, 3), color, 0.004); // the red button under it, off the text
        })) << mode;
        kxtest::saveScreenshot(std::string("popover-") + mode);
        popover->close();
        ASSERT_TRUE(kxtest::spinUntil([&] { return !gtk_widget_get_mapped(background.widget()); }));
        // A new colour reaches the popover the next time the view enters it.
        popover->setContentView(nullptr);
        switchMode();
        background.setBackgroundColor(kx::AppAppearance::Colors::welcomeBackground());
        popover->setContentView(background.widget());
    }
}

TEST_F(WidgetGalleryGui, TheSpinnerTurns)
{
    // Its picture changes from frame to frame.
    const auto picture = [&] {
        const Point root = kxtest::onScreen(spinner.widget(), 0, 0);
        return kx::GObjectRef<GdkPixbuf>::adopt(
            gdk_pixbuf_get_from_window(gdk_get_default_root_window(), int(root.x), int(root.y), 32, 32));
    };
    const double start = spinner.currentAngle();
    ASSERT_TRUE(kxtest::spinUntil([&] { return std::abs(spinner.currentAngle() - start) > 0.5; }));
    auto first = picture();
    ASSERT_TRUE(kxtest::spinUntil([&] {
        auto next = picture();
        const gsize size = gdk_pixbuf_get_byte_length(first.get());
        return memcmp(gdk_pixbuf_read_pixels(first.get()), gdk_pixbuf_read_pixels(next.get()), size) != 0;
    }));
}
