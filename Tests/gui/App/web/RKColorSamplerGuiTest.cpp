// The colour sampler on a real X display, asked by a real page through its web view, and
// driven by input that goes through the X server as a person's would.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "App/web/RKColorSampler.h"
#include "App/web/RKColorSamplerWindow.h"
#include "gui/App/web/HostedPage.h"
#include "support/SyntheticInput.h"

using namespace kx;
using namespace std::chrono_literals;
using kxtest::json;

namespace {

// A window of one colour at a known place on the screen.
class Swatch {
public:
    Swatch(const char* hex, int x, int y, int width, int height)
        : window_(gtk_window_new(GTK_WINDOW_POPUP))
        , color_(Color::colorWithHexColorString(hex))
    {
        gtk_widget_set_app_paintable(window_, TRUE);
        gtk_window_move(GTK_WINDOW(window_), x, y);
        gtk_widget_set_size_request(window_, width, height);
        g_signal_connect(window_, "draw", G_CALLBACK(paint), &color_);
        gtk_widget_show(window_);
        EXPECT_TRUE(kxtest::spinUntil([&] {
            auto pixel = PixbufPtr::adopt(gdk_pixbuf_get_from_window(gdk_get_default_root_window(), x + 1, y + 1, 1, 1));
            return ScreenSnapshot::colorAtSampledPixel(pixel.get()) == color_;
        }));
    }
    ~Swatch() { gtk_widget_destroy(window_); }

private:
    static gboolean paint(GtkWidget*, cairo_t* cr, gpointer color)
    {
        const auto* c = static_cast<const Color*>(color);
        cairo_set_source_rgb(cr, c->red, c->green, c->blue);
        cairo_paint(cr);
        return TRUE;
    }

    GtkWidget* window_;
    Color color_;
};

class RKColorSamplerGui : public kxtest::HostedPageTest {
protected:
    void SetUp() override
    {
        HostedPageTest::SetUp();
        loadServicePage();
    }

    static RKColorSamplerWindow& loupe()
    {
        return dynamic_cast<RKColorSamplerWindow&>(RKColorSampler::shared()->colorSamplerWindow());
    }

    // The page asks for a colour; the loupe opens.
    void pageRequestsColour()
    {
        evaluate("window.pageResults = []; kxPage.callAndRecord('__ColorSampler__', 'sampleColor')");
        ASSERT_TRUE(kxtest::spinUntil([] { return loupe().isKeyWindow() && gtk_widget_get_mapped(loupe().widget()); }));
    }

    // The one answer the page got; the loupe is gone and has let go of the input.
    json pageAnswer()
    {
        EXPECT_TRUE(kxtest::spinUntil([&] { return evaluate("window.pageResults.length") == 1; }, kxtest::pageTimeout));
        GdkDisplay* display = gdk_display_get_default();
        GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
        EXPECT_TRUE(kxtest::spinUntil([&] { return !loupe().isVisible() && !gdk_display_device_is_grabbed(display, pointer); }));
        kxtest::spinFor(150ms); // and no second answer comes
        EXPECT_EQ(evaluate("window.pageResults.length"), 1);
        return evaluate("window.pageResults[0]");
    }
};

} // namespace

TEST_F(RKColorSamplerGui, TheLoupeFollowsThePointerAndAClickGivesThePageThePixelBelowIt)
{
    const Swatch blue("#3366CC", 300, 200, 400, 300);
    const Swatch ochre("#CC9933", 700, 200, 300, 300);
    kxtest::warpPointer(500, 350);
    pageRequestsColour();
    EXPECT_EQ(loupe().hexLabelText(), "#3366CC");
    gint x = 0;
    gint y = 0;
    gdk_window_get_origin(gtk_widget_get_window(loupe().widget()), &x, &y);
    EXPECT_EQ(x, 440);
    EXPECT_EQ(y, 289);

    // Just across the border the old loupe still covers the pointer; what counts is the screen
    // below it.
    kxtest::warpPointer(698, 350);
    EXPECT_TRUE(kxtest::spinUntil([] { return loupe().frame().origin.x == 638; }));
    kxtest::warpPointer(702, 350);
    EXPECT_TRUE(kxtest::spinUntil([] { return loupe().hexLabelText() == "#CC9933"; }));

    kxtest::clickButton();
    EXPECT_EQ(pageAnswer(), json::parse(R"j({"method":"sampleColor","result":{"color":"rgba(204, 153, 51, 1.00)"}})j"));
}

TEST_F(RKColorSamplerGui, EscapeAndATakenGrabGiveThePageNoColour)
{
    const json cancelled = json::parse(R"({"method":"sampleColor","result":{}})");
    kxtest::warpPointer(500, 350);
    pageRequestsColour();
    kxtest::pressEscape();
    EXPECT_EQ(pageAnswer(), cancelled);

    pageRequestsColour();
    GtkWidget* other = gtk_window_new(GTK_WINDOW_POPUP);
    gtk_widget_show(other);
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    EXPECT_EQ(gdk_seat_grab(seat, gtk_widget_get_window(other), GDK_SEAT_CAPABILITY_ALL, FALSE, nullptr, nullptr,
                            nullptr, nullptr),
              GDK_GRAB_SUCCESS);
    // GDK hands the grab over, and tells the loser, with the next input.
    kxtest::warpPointer(510, 350);
    EXPECT_TRUE(kxtest::spinUntil([] { return !loupe().isVisible(); }));
    gdk_seat_ungrab(seat);
    gtk_widget_destroy(other);
    EXPECT_EQ(pageAnswer(), cancelled);
}
