// The preview window under a person's pointer and keys, through the X server: moves from its
// title bar, resizes from its corner on the device's shape, the device item of its settings
// menu.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

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
        ASSERT_NO_FATAL_FAILURE(selectWithDevice("plain"));
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
    kx::Size contentSize() const
    {
        const kx::Rect whole = frame();
        return {whole.size.width, whole.size.height - controller->titleBarHeight()};
    }

    // Drags from `from` by (dx, dy) in steps, as a hand moves; the first half before the
    // application handles the press, as on a busy machine.
    static void drag(kx::Point from, double dx, double dy)
    {
        kxtest::moveTo(from);
        kxtest::pressButton();
        constexpr int steps = 8;
        for (int step = 1; step <= steps; ++step) {
            kxtest::warpPointer(int(std::lround(from.x + dx * step / steps)), int(std::lround(from.y + dy * step / steps)));
            if (step > steps / 2)
                kxtest::spinFor(std::chrono::milliseconds(30));
        }
        kxtest::releaseButton();
        kxtest::settle();
    }

    // Clicks the settings button and waits for its menu; the menu, nullptr when none showed.
    GtkMenu* openSettingsMenu()
    {
        kxtest::moveTo(kxtest::centreOf(controller->settingsButton().widget()));
        kxtest::clickButton();
        if (!spinUntil([] { return !kx::MenuPopup::openMenus().empty(); }))
            return nullptr;
        GtkMenu* menu = kx::MenuPopup::openMenus().back();
        kxtest::settle();
        return menu;
    }
    static GtkWidget* itemTitled(GtkMenu* menu, const std::string& title)
    {
        GtkWidget* found = nullptr;
        GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
        for (GList* node = children; node; node = node->next) {
            const char* label = GTK_IS_MENU_ITEM(node->data) ? gtk_menu_item_get_label(GTK_MENU_ITEM(node->data)) : nullptr;
            if (label && title == label)
                found = GTK_WIDGET(node->data);
        }
        g_list_free(children);
        return found;
    }
    // Chooses the canvas from the settings menu and waits until the editor shows it.
    void chooseCanvas()
    {
        GtkMenu* menu = openSettingsMenu();
        ASSERT_TRUE(menu);
        GtkWidget* canvas = itemTitled(menu, "Canvas");
        ASSERT_TRUE(canvas);
        kxtest::moveTo(kxtest::centreOf(canvas));
        kxtest::clickButton();
        ASSERT_TRUE(spinUntil([&] { return controller->deviceIsCanvas(); }, previewTimeout));
        ASSERT_TRUE(spinUntil([] { return kx::MenuPopup::openMenus().empty(); }));
        EXPECT_EQ(controller->postCanvasModeDeviceMenuType(), "korvel-phone");
    }
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

TEST_F(PreviewWindowPointerGui, AResizeToward50PercentStaysOnTheDevicesShape)
{
    // The 50 % step of this phone (195 points wide) is narrower than the toolbar.
    const kx::Size minimum = controller->window()->minimumSize();
    ASSERT_GT(minimum.width, 195);
    const kx::Size device = controller->intrinsicContentSize();
    ASSERT_EQ(device, (kx::Size{390, 844}));
    GtkWidget* view = controller->window()->previewView();
    const auto corner = [&] {
        return kxtest::onScreen(view, gtk_widget_get_allocated_width(view) - 3, gtk_widget_get_allocated_height(view) - 3);
    };
    drag(corner(), 195 - 390, 422 - 844);
    ASSERT_FALSE(controller->window()->isResizing());
    const kx::Size half = contentSize();
    // Not the step the window cannot take, but the smallest size on the shape that it can.
    EXPECT_EQ(half.width, minimum.width);
    EXPECT_NEAR(half.height, minimum.width * 844 / 390, 1);

    // The steps the window can take are still offered: back near 100 %, exactly 100 %.
    drag(corner(), 395 - half.width, 850 - half.height);
    EXPECT_EQ(contentSize(), device);
}

TEST_F(PreviewWindowPointerGui, ClickingTheDeviceItemGoesBackToTheDeviceUsedBeforeTheCanvas)
{
    // With no device to go back to, a click on the item opens the devices and the menu stays.
    GtkMenu* menu = openSettingsMenu();
    ASSERT_TRUE(menu);
    GtkWidget* shown = itemTitled(menu, "Phone");
    ASSERT_TRUE(shown);
    kxtest::moveTo(kxtest::centreOf(shown));
    kxtest::clickButton();
    GtkWidget* devicesMenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(shown));
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(devicesMenu); }));
    kxtest::settle();
    EXPECT_TRUE(gtk_widget_get_mapped(GTK_WIDGET(menu)));
    kxtest::pressEscape();
    ASSERT_TRUE(spinUntil([] { return kx::MenuPopup::openMenus().empty(); }));

    chooseCanvas();
    menu = openSettingsMenu();
    ASSERT_TRUE(menu);
    // Titled with the device it goes back to.
    GtkWidget* device = itemTitled(menu, "Phone");
    ASSERT_TRUE(device);
    ASSERT_TRUE(gtk_widget_is_sensitive(device));
    kxtest::moveTo(kxtest::centreOf(device));
    kxtest::clickButton();
    ASSERT_TRUE(spinUntil([&] { return !controller->deviceIsCanvas(); }, previewTimeout));
    EXPECT_EQ(controller->deviceMenuType(), "korvel-phone");
    EXPECT_FALSE(controller->postCanvasModeDeviceMenuType());
    EXPECT_TRUE(spinUntil([] { return kx::MenuPopup::openMenus().empty(); }));

    // From the keyboard: Return on the item goes back as well, the Right arrow key opens the
    // devices.
    chooseCanvas();
    menu = openSettingsMenu();
    ASSERT_TRUE(menu);
    device = itemTitled(menu, "Phone");
    ASSERT_TRUE(device);
    for (int presses = 0; presses < 10 && gtk_menu_shell_get_selected_item(GTK_MENU_SHELL(menu)) != device; ++presses) {
        kxtest::typeKey(GDK_KEY_Down);
        kxtest::settle();
    }
    ASSERT_EQ(gtk_menu_shell_get_selected_item(GTK_MENU_SHELL(menu)), device);
    GtkWidget* devices = gtk_menu_item_get_submenu(GTK_MENU_ITEM(device));
    kxtest::typeKey(GDK_KEY_Right);
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(devices); }));
    kxtest::settle();
    EXPECT_NE(gtk_menu_shell_get_selected_item(GTK_MENU_SHELL(devices)), nullptr);
    kxtest::typeKey(GDK_KEY_Left);
    ASSERT_TRUE(spinUntil([&] { return gtk_menu_shell_get_selected_item(GTK_MENU_SHELL(devices)) == nullptr; }));
    EXPECT_EQ(gtk_menu_shell_get_selected_item(GTK_MENU_SHELL(menu)), device);
    EXPECT_TRUE(controller->deviceIsCanvas());
    kxtest::typeKey(GDK_KEY_Return);
    ASSERT_TRUE(spinUntil([&] { return !controller->deviceIsCanvas(); }, previewTimeout));
    EXPECT_EQ(controller->deviceMenuType(), "korvel-phone");
    EXPECT_TRUE(spinUntil([] { return kx::MenuPopup::openMenus().empty(); }));
}

} // namespace
