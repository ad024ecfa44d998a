// Popovers of both kinds with a PopoverBackgroundView: the colour covers the popover, arrow
// included; a click on a link opens it once and closes the popover; the pop-up window sits at
// its button and closes on Escape.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>

#include "App/shell/widgets/PopoverBackgroundView.h"
#include "Platform/UI/Workspace.h"
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
        if (popover.kind() == Popover::Kind::window) {
            GdkDisplay* display = gdk_display_get_default();
            GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
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

