#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <memory>
#include <optional>
#include <vector>

#include "App/web/RKColorSampler.h"
#include "App/web/RKColorSamplerWindow.h"
#include "support/Spin.h"
#include "support/SyntheticInput.h"

using namespace kx;
using namespace std::chrono_literals;

namespace {

// A window of one colour at a known place on the screen.
class Swatch {
public:
    Swatch(guint32 rgb, int x, int y, int width, int height)
        : window_(gtk_window_new(GTK_WINDOW_POPUP))
        , color_(Color::colorWithHexColorString(std::to_string(rgb)))
    {
        color_ = {((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, 1};
        gtk_widget_set_app_paintable(window_, TRUE);
        gtk_window_move(GTK_WINDOW(window_), x, y);
        gtk_widget_set_size_request(window_, width, height);
        g_signal_connect(window_, "draw", G_CALLBACK(paint), &color_);
        gtk_widget_show(window_);
        EXPECT_TRUE(kxtest::spinUntil([&] { return screenColorAt(x + width / 2, y + height / 2) == color_; }));
    }
    ~Swatch() { gtk_widget_destroy(window_); }
    const Color& color() const { return color_; }

    static std::optional<Color> screenColorAt(int x, int y)
    {
        PixbufPtr pixel(gdk_pixbuf_get_from_window(gdk_get_default_root_window(), x, y, 1, 1));
        return ScreenSnapshot::colorAtSampledPixel(pixel.get());
    }

private:
    static gboolean paint(GtkWidget*, cairo_t* cr, gpointer data)
    {
        const auto* color = static_cast<const Color*>(data);
        cairo_set_source_rgb(cr, color->red, color->green, color->blue);
        cairo_paint(cr);
        return TRUE;
    }

    GtkWidget* window_;
    Color color_;
};

struct OpenSampler {
    OpenSampler()
    {
        auto window = std::make_unique<RKColorSamplerWindow>(Rect{{0, 0}, {121, 121}});
        loupe = window.get();
        sampler = std::make_unique<RKColorSampler>(std::move(window));
        sampler->showWithCompletion([this](std::optional<Color> color) { answers.push_back(color); });
        EXPECT_TRUE(kxtest::spinUntil([&] { return loupe->isKeyWindow() && gtk_widget_get_mapped(loupe->widget()); }));
    }

    // Waits for the one answer, then makes sure no second one follows.
    std::optional<Color> answer()
    {
        EXPECT_TRUE(kxtest::spinUntil([&] { return !answers.empty(); }));
        kxtest::spinFor(150ms);
        EXPECT_EQ(answers.size(), 1u);
        EXPECT_FALSE(loupe->isVisible());
        return answers.empty() ? std::nullopt : answers.front();
    }

    RKColorSamplerWindow* loupe = nullptr;
    std::unique_ptr<RKColorSampler> sampler;
    std::vector<std::optional<Color>> answers;
};

} // namespace

TEST(RKColorSamplerGui, TheLoupeFollowsThePointerAndAClickPicksThePixelBelowIt)
{
    const Swatch blue(0x3366CC, 300, 200, 400, 300);
    const Swatch ochre(0xCC9933, 700, 200, 300, 300);
    kxtest::warpPointer(500, 350);
    OpenSampler open;
    EXPECT_EQ(open.loupe->hexLabelText(), "#3366CC");
    gint x = 0;
    gint y = 0;
    gdk_window_get_origin(gtk_widget_get_window(open.loupe->widget()), &x, &y);
    EXPECT_EQ(x, 440);
    EXPECT_EQ(y, 289);

    // Just across the border the old loupe still covers the pointer; what counts is the screen
    // below it.
    kxtest::warpPointer(698, 350);
    EXPECT_TRUE(kxtest::spinUntil([&] { return open.loupe->frame().origin.x == 638; }));
    kxtest::warpPointer(702, 350);
    EXPECT_TRUE(kxtest::spinUntil([&] { return open.loupe->hexLabelText() == "#CC9933"; }));

    kxtest::clickButton();
    const auto picked = open.answer();
    ASSERT_TRUE(picked);
    EXPECT_EQ(*picked, ochre.color());
    EXPECT_EQ(picked->hexColorString(), "#CC9933");
}

TEST(RKColorSamplerGui, EscapeAndATakenGrabAnswerNoColourOnce)
{
    const Swatch blue(0x3366CC, 300, 200, 400, 300);
    kxtest::warpPointer(500, 350);
    {
        OpenSampler open;
        kxtest::pressEscape();
        EXPECT_EQ(open.answer(), std::nullopt);
        // The grab is gone with the loupe: the desktop gets its input back.
        EXPECT_EQ(gdk_display_device_is_grabbed(gdk_display_get_default(),
                                                gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()))),
                  FALSE);
    }
    {
        OpenSampler open;
        GtkWidget* other = gtk_window_new(GTK_WINDOW_POPUP);
        gtk_window_move(GTK_WINDOW(other), 10, 10);
        gtk_widget_show(other);
        GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
        EXPECT_EQ(gdk_seat_grab(seat, gtk_widget_get_window(other), GDK_SEAT_CAPABILITY_ALL, FALSE, nullptr, nullptr,
                                nullptr, nullptr),
                  GDK_GRAB_SUCCESS);
        // GDK hands the grab over, and tells the loser, with the next input.
        kxtest::warpPointer(510, 350);
        EXPECT_EQ(open.answer(), std::nullopt);
        gdk_seat_ungrab(seat);
        gtk_widget_destroy(other);
    }
}
