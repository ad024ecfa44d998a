// Popovers of both kinds with a PopoverBackgroundView: the colour covers the popover, arrow
// included; a click on a link opens it once and closes the popover; the pop-up window sits at
// its button and closes on Escape, under Wayland as a pop-up surface that the compositor
// places there.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <optional>

#include "App/shell/widgets/PopoverBackgroundView.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/Workspace.h"
#include "support/UserInput.h"
#include "gui/App/shell/widgets/WidgetTestWindow.h"

using kx::Color;
using kx::Point;
using kx::Popover;
using kxtest::centreOf;
using kxtest::moveTo;

namespace {

// The colour of the screen at a root point.
Color screenColor(const Point& point)
{
    auto pixbuf = kx::GObjectRef<GdkPixbuf>::adopt(
        gdk_pixbuf_get_from_window(gdk_get_default_root_window(), int(point.x), int(point.y), 1, 1));
    if (!pixbuf)
        return {};
    const guchar* pixel = gdk_pixbuf_get_pixels(pixbuf.get());
    return {pixel[0] / 255.0, pixel[1] / 255.0, pixel[2] / 255.0, 1};
}

class PopoverGui : public kxtest::WidgetWindowTest {
protected:
    void SetUp() override
    {
        WidgetWindowTest::SetUp();
        anchor = gtk_button_new_with_label("Share");
        gtk_widget_set_size_request(anchor, 80, 30);
        gtk_fixed_put(window->flippedContentView(), anchor, 150, 40);
        gtk_widget_show(anchor);
        ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(anchor) && gtk_widget_get_allocated_width(anchor) == 80; }));
        kx::Workspace::shared().setURLOpenerForTesting([this](const std::string& url) {
            opened.push_back(url);
            return true;
        });
    }
    void TearDown() override { kx::Workspace::shared().setURLOpenerForTesting(nullptr); }

    // Fills a background view with a link label and makes it the popover's content.
    void fill(Popover& popover, kx::PopoverBackgroundView& background)
    {
        gtk_widget_set_size_request(background.widget(), 240, 120);
        GtkLabel* label = background.makeLinkLabel("", "open in browser", "http://192.168.1.5:3000/share");
        link = GTK_WIDGET(label);
        gtk_widget_set_size_request(link, 200, 30);
        gtk_fixed_put(background.fixed(), link, 20, 45);
        gtk_widget_show(link);
        popover.setContentView(background.widget());
    }

    // Shows the popover and waits until its content is laid out.
    void show(Popover& popover, kx::PopoverBackgroundView& background)
    {
        popover.show(anchor, GTK_POS_BOTTOM);
        ASSERT_TRUE(kxtest::spinUntil([&] {
            return gtk_widget_get_mapped(link) && gtk_widget_get_allocated_width(background.widget()) == 240
                   && gtk_widget_get_allocated_width(link) == 200;
        }));
        // The pop-up window takes the pointer once it is on screen; a click before would race it.
        // (A compositor without a seat, headless weston, gives no grab.)
        GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
        if (popover.kind() == Popover::Kind::window && seat) {
            GdkDisplay* display = gdk_display_get_default();
            GdkDevice* pointer = gdk_seat_get_pointer(seat);
            ASSERT_TRUE(kxtest::spinUntil([&] { return gdk_display_device_is_grabbed(display, pointer); }));
        }
        kxtest::settle();
    }

    GtkWidget* anchor = nullptr;
    GtkWidget* link = nullptr;
    std::vector<std::string> opened;
};

const Color magenta{1, 0, 1, 1};

} // namespace

TEST_F(PopoverGui, AnAttachedPopoverTakesTheColourArrowIncludedAndALinkOpensOnce)
{
    KX_REQUIRE_SYNTHETIC_INPUT();
    auto popover = std::make_shared<Popover>(Popover::Kind::attached);
    kx::PopoverBackgroundView background;
    background.setBackgroundColor(magenta);
    background.setPopover(popover);
    fill(*popover, background);
    show(*popover, background);
    EXPECT_EQ(background.coloredFrame(), popover->frameWidget());

    // The body, and the arrow's middle just below the button.
    const Point body = kxtest::onScreen(background.widget(), 5, 60);
    EXPECT_TRUE(kxtest::spinUntil([&] { return screenColor(body) == magenta; }));
    GtkAllocation button;
    gtk_widget_get_allocation(anchor, &button);
    const Point arrow = kxtest::onScreen(anchor, button.width / 2.0, button.height + 6);
    EXPECT_EQ(screenColor(arrow), magenta);
    kxtest::saveScreenshot("popover-attached");

    // A click on the link opens it once and closes the popover.
    moveTo(centreOf(link));
    kxtest::clickButton();
    ASSERT_TRUE(kxtest::spinUntil([&] { return !popover->isShown(); }));
    EXPECT_EQ(opened, std::vector<std::string>{"http://192.168.1.5:3000/share"});
    kxtest::settle();
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(PopoverGui, APressOffTheLinkReleasedOverItOpensNothing)
{
    KX_REQUIRE_SYNTHETIC_INPUT();
    auto popover = std::make_shared<Popover>(Popover::Kind::attached);
    kx::PopoverBackgroundView background;
    background.setPopover(popover);
    fill(*popover, background);
    show(*popover, background);
    // White without a colour.
    const Point body = kxtest::onScreen(background.widget(), 5, 100);
    EXPECT_TRUE(kxtest::spinUntil([&] { return screenColor(body) == (Color{1, 1, 1, 1}); }));

    moveTo(body);
    kxtest::pressButton();
    moveTo(centreOf(link));
    kxtest::releaseButton();
    kxtest::settle();
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(popover->isShown());
}

TEST_F(PopoverGui, APopUpWindowSitsAtItsButtonAndClosesOnEscape)
{
    KX_REQUIRE_SYNTHETIC_INPUT();
    auto popover = std::make_shared<Popover>(Popover::Kind::window);
    kx::PopoverBackgroundView background;
    background.setBackgroundColor(magenta);
    background.setPopover(popover);
    fill(*popover, background);
    show(*popover, background);
    EXPECT_EQ(popover->anchor(), anchor);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(popover->frameWidget())), window->gtkWindow());
    kxtest::saveScreenshot("popover-window");

    // Below the button, centred on it, and not clipped by the window (it reaches below it).
    const Point button = kxtest::onScreen(anchor, 0, 0);
    int x = 0, y = 0;
    ASSERT_TRUE(kxtest::spinUntil([&] {
        gtk_window_get_position(GTK_WINDOW(popover->frameWidget()), &x, &y);
        return x == int(button.x + 40 - 120) && y == int(button.y) + gtk_widget_get_allocated_height(anchor);
    }));
    EXPECT_TRUE(kxtest::spinUntil([&] { return screenColor(kxtest::onScreen(background.widget(), 5, 110)) == magenta; }));

    gtk_window_present(GTK_WINDOW(popover->frameWidget()));
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_window_has_toplevel_focus(GTK_WINDOW(popover->frameWidget())); }));
    kxtest::pressEscape();
    EXPECT_TRUE(kxtest::spinUntil([&] { return !popover->isShown(); }));

    // Shown again, its link opens like any other.
    show(*popover, background);
    ASSERT_TRUE(kxtest::spinUntil([&] { return screenColor(kxtest::onScreen(background.widget(), 5, 110)) == magenta; }));
    kxtest::saveScreenshot("popover-window-again");
    moveTo(centreOf(link));
    kxtest::clickButton();
    EXPECT_TRUE(kxtest::spinUntil([&] { return opened.size() == 1; }));
    EXPECT_TRUE(kxtest::spinUntil([&] { return !popover->isShown(); }));

    // A press elsewhere in the window closes it and opens nothing.
    show(*popover, background);
    ASSERT_TRUE(kxtest::spinUntil([&] { return screenColor(kxtest::onScreen(background.widget(), 5, 110)) == magenta; }));
    moveTo(kxtest::onScreen(window->widget(), 380, 280));
    kxtest::clickButton();
    EXPECT_TRUE(kxtest::spinUntil([&] { return !popover->isShown(); }));
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(PopoverGui, LinksToAnythingButTheWebAreNotOpened)
{
    KX_REQUIRE_SYNTHETIC_INPUT();
    auto popover = std::make_shared<Popover>(Popover::Kind::attached);
    kx::PopoverBackgroundView background;
    background.setPopover(popover);
    gtk_widget_set_size_request(background.widget(), 240, 120);
    link = GTK_WIDGET(background.makeLinkLabel("", "files", "file:///etc/passwd"));
    gtk_widget_set_size_request(link, 200, 30);
    gtk_fixed_put(background.fixed(), link, 20, 45);
    gtk_widget_show(link);
    popover->setContentView(background.widget());
    show(*popover, background);
    moveTo(centreOf(link));
    kxtest::clickButton();
    kxtest::settle();
    EXPECT_TRUE(opened.empty());
}


TEST_F(PopoverGui, UnderWaylandThePopUpIsAPopUpSurfaceThatTheCompositorPlacesAtItsButton)
{
    auto popover = std::make_shared<Popover>(Popover::Kind::window);
    if (!popover->isPlacedByCompositor())
        GTEST_SKIP() << "under X11 the application places the pop-up window itself (APopUpWindowSitsAtItsButtonAndClosesOnEscape)";
    kx::PopoverBackgroundView background;
    background.setPopover(popover);
    fill(*popover, background);
    GtkWidget* frame = popover->frameWidget();
    EXPECT_EQ(gtk_window_get_window_type(GTK_WINDOW(frame)), GTK_WINDOW_POPUP);
    // Where the compositor put it, relative to the window it belongs to.
    gtk_widget_realize(frame);
    std::optional<GdkRectangle> placed;
    auto watch = kx::SignalConnection::connect<void(GdkWindow*, gpointer, gpointer, gboolean, gboolean)>(
        gtk_widget_get_window(frame), "moved-to-rect", [&](GdkWindow*, gpointer, gpointer final, gboolean, gboolean) {
            placed = *static_cast<const GdkRectangle*>(final);
        });
    int buttonX = 0, buttonY = 0;
    ASSERT_TRUE(gtk_widget_translate_coordinates(anchor, window->widget(), 0, 0, &buttonX, &buttonY));

    // Below the button, centred on it; it holds the pointer and the keyboard meanwhile (where
    // the compositor has a seat).
    show(*popover, background);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(frame)), window->gtkWindow());
    ASSERT_TRUE(kxtest::spinUntil([&] { return placed.has_value(); }));
    EXPECT_EQ(placed->x, buttonX + 40 - 120);
    EXPECT_EQ(placed->y, buttonY + gtk_widget_get_allocated_height(anchor));
    EXPECT_EQ(placed->width, 240);
    // GDK's idea of its place is the compositor's.
    int popupX = 0, popupY = 0, parentX = 0, parentY = 0;
    gdk_window_get_origin(gtk_widget_get_window(frame), &popupX, &popupY);
    gdk_window_get_origin(gtk_widget_get_window(window->widget()), &parentX, &parentY);
    EXPECT_EQ(popupX - parentX, placed->x);
    EXPECT_EQ(popupY - parentY, placed->y);
    // The compositor keeps it (a refused grab would have dismissed it).
    kxtest::settle();
    EXPECT_TRUE(popover->isShown());
    EXPECT_TRUE(gdk_window_is_visible(gtk_widget_get_window(frame)));
    kxtest::pressKey(frame, GDK_KEY_Escape);
    ASSERT_TRUE(kxtest::spinUntil([&] { return !popover->isShown(); }));
    GdkDisplay* display = gdk_display_get_default();
    if (GdkSeat* seat = gdk_display_get_default_seat(display)) {
        EXPECT_FALSE(gdk_display_device_is_grabbed(display, gdk_seat_get_pointer(seat)));
    }

    // Above it when asked, and placed anew: its bottom edge on the button's top.
    placed.reset();
    popover->show(anchor, GTK_POS_TOP);
    ASSERT_TRUE(kxtest::spinUntil([&] { return placed.has_value() && popover->isShown(); }));
    EXPECT_EQ(placed->x, buttonX + 40 - 120);
    EXPECT_EQ(placed->y + placed->height, buttonY);

    // Shown again while it shows: below the button once more, and still one pop-up.
    placed.reset();
    popover->show(anchor, GTK_POS_BOTTOM);
    ASSERT_TRUE(kxtest::spinUntil([&] { return placed.has_value() && popover->isShown(); }));
    EXPECT_EQ(placed->y, buttonY + gtk_widget_get_allocated_height(anchor));
    kxtest::settle();
    EXPECT_TRUE(popover->isShown());
    popover->close();
    EXPECT_FALSE(popover->isShown());
}
