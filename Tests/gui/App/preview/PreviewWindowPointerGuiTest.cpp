// The preview window under a person's pointer, through the X server: moves from its title bar.
#include <gtest/gtest.h>

#include <cmath>

#include "App/shell/widgets/View.h" // before the pointer helpers, which use it
#include "gui/App/preview/PreviewFixture.h"
#include "gui/App/shell/widgets/WidgetTestWindow.h"
#include "Platform/UI/MenuPopup.h"

namespace {

using kxtest::previewTimeout;
using kxtest::spinUntil;

class PreviewWindowPointerGui : public kxtest::PreviewFixture {
protected:
    void SetUp() override
    {
        PreviewFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        makeController();
        select("plain");
        waitForSelection("plain");
        ASSERT_TRUE(spinUntil([&] { return controller->deviceDescriptor() != nullptr; }, previewTimeout));
        controller->showWithMakeKey(true);
        GtkWidget* window = controller->window()->widget();
        ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(window); }, previewTimeout));
        ASSERT_TRUE(spinUntil([&] { return controller->window()->frame().size.width == 390; }, previewTimeout));
        kxtest::settle();
    }

    void TearDown() override
    {
        // A test that stopped halfway leaves no button pressed for the next.
        GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
        GdkModifierType mask = GdkModifierType(0);
        gdk_device_get_state(pointer, gdk_get_default_root_window(), nullptr, &mask);
        if (mask & GDK_BUTTON1_MASK)
            kxtest::releaseButton();
        for (GtkMenu* menu : kx::MenuPopup::openMenus())
            gtk_menu_shell_cancel(GTK_MENU_SHELL(menu));
        PreviewFixture::TearDown();
    }

    kx::Rect frame() const { return controller->window()->frame(); }
    // An empty place of the title bar: its middle, between the toolbar's two groups.
    kx::Point titleBarGap() const
    {
        GtkWidget* bar = controller->window()->titleBar();
        return kxtest::onScreen(bar, gtk_widget_get_allocated_width(bar) / 2.0, gtk_widget_get_allocated_height(bar) / 2.0);
    }
};

TEST_F(PreviewWindowPointerGui, ADragOfTheTitleBarIsTrackedFromThePressToTheRelease)
{
    for (int drag = 0; drag < 3; ++drag) {
        const kx::Rect before = frame();
        const kx::Point start = titleBarGap();
        kxtest::moveTo(start);
        kxtest::pressButton();
        ASSERT_TRUE(spinUntil([&] { return controller->isTrackingMove(); })) << "drag " << drag;
        // In steps, as a hand moves.
        for (int step = 1; step <= 4; ++step) {
            kxtest::warpPointer(int(start.x) - 10 * step, int(start.y) + 8 * step);
            kxtest::spinFor(std::chrono::milliseconds(30));
        }
        ASSERT_TRUE(spinUntil([&] { return frame().origin != before.origin; })) << "drag " << drag;
        EXPECT_TRUE(controller->isTrackingMove());
        kxtest::releaseButton();
        ASSERT_TRUE(spinUntil([&] { return !controller->isTrackingMove(); })) << "drag " << drag;
        kxtest::settle();
        EXPECT_NEAR(frame().origin.x, before.origin.x - 40, 1) << "drag " << drag;
        EXPECT_NEAR(frame().origin.y, before.origin.y + 32, 1) << "drag " << drag;
        EXPECT_EQ(frame().size, before.size);
        EXPECT_TRUE(controller->isVisible());
    }

    // A click shorter than one poll of the drag still ends at its release.
    kxtest::moveTo(titleBarGap());
    kxtest::clickButton();
    kxtest::spinFor(std::chrono::milliseconds(10));
    EXPECT_TRUE(spinUntil([&] { return !controller->isTrackingMove(); }));
}

TEST_F(PreviewWindowPointerGui, PressesOnTheToolbarAndTheResizeHandlesMoveNothing)
{
    // The top edge resizes the window; it is no move.
    const kx::Rect before = frame();
    const kx::Point edge = kxtest::onScreen(controller->window()->titleBar(), before.size.width / 2, 1);
    kxtest::moveTo(edge);
    kxtest::pressButton();
    ASSERT_TRUE(spinUntil([&] { return controller->window()->isResizing(); }));
    EXPECT_FALSE(controller->isTrackingMove());
    kxtest::releaseButton();
    ASSERT_TRUE(spinUntil([&] { return !controller->window()->isResizing(); }));

    // A toolbar button takes its own press.
    const kx::Point lock = kxtest::centreOf(controller->selectionLockButton().widget());
    kxtest::moveTo(lock);
    kxtest::pressButton();
    kxtest::spinFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(controller->isTrackingMove());
    kxtest::releaseButton();
    kxtest::settle();
    EXPECT_FALSE(controller->isTrackingMove());
    EXPECT_EQ(frame().origin, before.origin);
}

} // namespace
