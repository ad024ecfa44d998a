// The window base: a window closed or destroyed while one of its menus opens (validation
// waits on the main loop for a page) waits until the opening ended, so GTK never pops up a
// menu that no longer exists; the shake; the title bars.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <set>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/RunLoopWait.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/MenuPopup.h"
#include "Platform/UI/NativeMenu.h"
#include "Platform/UI/ResponderChain.h"
#include "Platform/UI/Window.h"
#include "support/Spin.h"
#include "support/SyntheticInput.h"
#include "support/UserInput.h"

using kx::NativeMenu;
using kx::NativeMenuItem;

namespace {

// A delegate that, like the web view's, waits on the main loop while a menu opens; `duringWait`
// runs in that wait.
class WaitingDelegate : public kx::NativeMenuDelegate {
public:
    void menuWillOpen(NativeMenu&) override
    {
        log.push_back("open");
        // 0.3 s, and in any case until `duringWait` has run: on a busy machine its turn may come late.
        auto ran = std::make_shared<bool>(!duringWait);
        if (duringWait)
            kx::MainQueue::after(std::chrono::milliseconds(20), [ran, action = duringWait] {
                action();
                *ran = true;
            });
        const auto began = std::chrono::steady_clock::now();
        kx::RunLoopWait::waitUsingRecursiveRunloop(
            [&] { return !*ran || std::chrono::steady_clock::now() - began < std::chrono::milliseconds(300); }, 30, [] {});
        log.push_back("validated");
    }
    void menuDidClose(NativeMenu&) override { log.push_back("close"); }
    std::function<void()> duringWait;
    std::vector<std::string> log;
};

class WindowGui : public ::testing::Test {
protected:
    void SetUp() override
    {
        edit->setDelegate(delegate);
        edit->addItem(NativeMenuItem::make("Copy", "copy:", "c"));
        editItem->setSubmenu(edit);
        menu->addItem(editItem);
        view->setDelegate(delegate);
        view->addItem(NativeMenuItem::make("Zoom In", "zoomIn:"));
        viewItem->setSubmenu(view);
        menu->addItem(viewItem);
        window->setMenu(menu);
        window->setContentView(anchor);
        window->makeKeyAndOrderFront();
        gtkWindow = window->widget();
        destroyWatch = kx::SignalConnection::connect<void(GtkWidget*)>(
            gtkWindow, "destroy", [flag = destroyed](GtkWidget*) { *flag = true; });
        ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(gtkWindow); }));
        // A compositor without a keyboard (headless weston) gives no window the focus.
        GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
        if (!seat || !gdk_seat_get_keyboard(seat))
            return;
        gtk_window_present(GTK_WINDOW(gtkWindow));
        ASSERT_TRUE(kxtest::spinUntil([&] { return kx::ResponderChain::shared().keyWindow() == GTK_WINDOW(gtkWindow); }));
    }

    GtkWidget* editWidget() { return window->menuBar()->realisation()->widgetForItem(editItem.get()); }

    // The middle of `widget` in root coordinates, where a pointer would press it.
    static kx::Point centreOnScreen(GtkWidget* widget)
    {
        GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
        int x = 0, y = 0, rootX = 0, rootY = 0;
        gtk_widget_translate_coordinates(widget, toplevel, gtk_widget_get_allocated_width(widget) / 2,
                                         gtk_widget_get_allocated_height(widget) / 2, &x, &y);
        gdk_window_get_origin(gtk_widget_get_window(toplevel), &rootX, &rootY);
        return {double(rootX + x), double(rootY + y)};
    }

    std::shared_ptr<NativeMenu> menu = NativeMenu::make();
    std::shared_ptr<NativeMenu> edit = NativeMenu::make("Edit");
    std::shared_ptr<NativeMenuItem> editItem = NativeMenuItem::make("Edit");
    std::shared_ptr<NativeMenu> view = NativeMenu::make("View");
    std::shared_ptr<NativeMenuItem> viewItem = NativeMenuItem::make("View");
    std::shared_ptr<WaitingDelegate> delegate = std::make_shared<WaitingDelegate>();
    std::unique_ptr<kx::Window> window = std::make_unique<kx::Window>(kx::Size{320, 200});
    GtkWidget* anchor = gtk_button_new_with_label("Anchor");
    GtkWidget* gtkWindow = nullptr;
    std::shared_ptr<bool> destroyed = std::make_shared<bool>(false);
    kx::SignalConnection destroyWatch;
};

} // namespace

TEST_F(WindowGui, AWindowDestroyedWhileItsMenuValidatesGoesOnceTheMenuHasOpened)
{
    // Held across the destruction, to see what becomes of it.
    auto kept = kx::GObjectRef<GtkWidget>::retain(gtkWindow);
    GtkWidget* item = editWidget();
    delegate->duringWait = [&] {
        window.reset();
        EXPECT_FALSE(*destroyed); // not while GTK is popping the menu up
    };
    kxtest::openMenuBarItem(gtkWindow, item);
    EXPECT_TRUE(kxtest::spinUntil([&] { return *destroyed; }));
    EXPECT_EQ(delegate->log, (std::vector<std::string>{"open", "validated", "close"}));
    EXPECT_TRUE(kx::MenuPopup::openMenus().empty());
}

TEST_F(WindowGui, AWindowClosedWhileItsMenuValidatesHidesWithTheMenuClosed)
{
    delegate->duringWait = [&] { window->close(); };
    GtkWidget* submenu = kxtest::openMenuBarItem(gtkWindow, editWidget());
    EXPECT_TRUE(kxtest::spinUntil([&] { return !window->isVisible(); }));
    ASSERT_NE(submenu, nullptr);
    EXPECT_TRUE(kxtest::spinUntil([&] { return !gtk_widget_get_visible(submenu); }));
    EXPECT_EQ(delegate->log, (std::vector<std::string>{"open", "validated", "close"}));
    EXPECT_FALSE(*destroyed); // closed, not destroyed: its owner may show it again

    // Shown again before a deferred close ran, it stays.
    delegate->log.clear();
    window->makeKeyAndOrderFront();
    delegate->duringWait = [&] {
        window->close();
        window->makeKeyAndOrderFront();
    };
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(gtkWindow); }));
    gtk_window_present(GTK_WINDOW(gtkWindow));
    ASSERT_TRUE(kxtest::spinUntil([&] { return kx::ResponderChain::shared().keyWindow() == GTK_WINDOW(gtkWindow); }));


    submenu = kxtest::openMenuBarItem(gtkWindow, editWidget());
    kxtest::spinFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(window->isVisible());
    if (submenu)
        gtk_menu_shell_cancel(GTK_MENU_SHELL(gtk_widget_get_parent(editWidget())));
}

TEST_F(WindowGui, ThePointerOpensAMenuBeforeGtkPopsItUp)
{
    KX_REQUIRE_SYNTHETIC_INPUT();
    // Validation waits on the main loop; inside GTK's pop-up anything that closes the menu
    // meanwhile (a click elsewhere, the window going) would leave GTK popping up a menu that
    // is gone. A press on the bar, and the pointer entering another item of the active bar,
    // open the menu before GTK handles them.
    GtkMenuShell* bar = GTK_MENU_SHELL(window->menuBar()->menuBar());
    GtkWidget* editMenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(editWidget()));
    GtkWidget* viewWidget = window->menuBar()->realisation()->widgetForItem(viewItem.get());
    GtkWidget* viewMenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(viewWidget));
    bool checked = false;
    delegate->duringWait = [&] {
        checked = true;
        EXPECT_EQ(gtk_menu_shell_get_selected_item(bar), nullptr);
        EXPECT_FALSE(gtk_widget_get_mapped(editMenu));
    };
    const auto edit = centreOnScreen(editWidget());
    kxtest::warpPointer(edit.x, edit.y);
    kxtest::clickButton();
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(editMenu); }));
    EXPECT_TRUE(checked);
    EXPECT_EQ(delegate->log, (std::vector<std::string>{"open", "validated"}));

    checked = false;
    delegate->duringWait = [&] {
        checked = true;
        EXPECT_EQ(gtk_menu_shell_get_selected_item(bar), editWidget());
        EXPECT_TRUE(gtk_widget_get_mapped(editMenu));
        EXPECT_FALSE(gtk_widget_get_mapped(viewMenu));
    };
    const auto view = centreOnScreen(viewWidget);
    kxtest::warpPointer(view.x, view.y);
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(viewMenu); }));
    EXPECT_TRUE(checked);
    EXPECT_FALSE(gtk_widget_get_mapped(editMenu));
    EXPECT_EQ(delegate->log, (std::vector<std::string>{"open", "validated", "open", "validated", "close"}));

    kxtest::pressEscape();
    EXPECT_TRUE(kxtest::spinUntil([&] { return !gtk_widget_get_mapped(viewMenu) && delegate->log.size() == 6; }));
}

TEST_F(WindowGui, AWindowDestroyedWhileAClickOpensItsMenuDoesNotCrash)
{
    KX_REQUIRE_SYNTHETIC_INPUT();
    delegate->duringWait = [&] { window.reset(); };
    const auto edit = centreOnScreen(editWidget());
    kxtest::warpPointer(edit.x, edit.y);
    kxtest::clickButton();
    EXPECT_TRUE(kxtest::spinUntil([&] { return *destroyed && delegate->log.size() == 3; }));
    EXPECT_EQ(delegate->log, (std::vector<std::string>{"open", "validated", "close"}));
    EXPECT_TRUE(kx::MenuPopup::openMenus().empty());
}

TEST_F(WindowGui, APopUpWhoseWindowGoesWhileItValidatesNeverShowsAndCompletesEmpty)
{
    auto context = NativeMenu::make();
    context->setDelegate(delegate);
    context->addItem(NativeMenuItem::make("Paste", "paste:"));
    delegate->duringWait = [&] { window.reset(); };
    int calls = 0;
    std::shared_ptr<NativeMenuItem> chosen = NativeMenuItem::make("none");
    kx::MenuPopup::popUp(context, anchor, kx::Rect{{5, 5}, {1, 1}}, [&](std::shared_ptr<NativeMenuItem> item) {
        ++calls;
        chosen = item;
    });
    EXPECT_TRUE(kxtest::spinUntil([&] { return calls == 1 && *destroyed && delegate->log.size() == 3; }));
    EXPECT_EQ(chosen, nullptr);
    EXPECT_TRUE(kx::MenuPopup::openMenus().empty());
    EXPECT_EQ(delegate->log, (std::vector<std::string>{"open", "validated", "close"}));
    kxtest::spinFor(std::chrono::milliseconds(50));
    EXPECT_EQ(calls, 1);
}

TEST_F(WindowGui, TheWindowManagersCloseWaitsForTheOpeningToo)
{
    KX_REQUIRE_SYNTHETIC_INPUT();
    delegate->duringWait = [&] {
        GdkEvent* event = gdk_event_new(GDK_DELETE);
        event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(gtkWindow)));
        gtk_main_do_event(event);
        gdk_event_free(event);
        EXPECT_TRUE(window->isVisible());
    };
    const auto edit = centreOnScreen(editWidget());
    kxtest::warpPointer(edit.x, edit.y);
    kxtest::clickButton();
    EXPECT_TRUE(kxtest::spinUntil([&] { return !window->isVisible(); }));
    EXPECT_TRUE(kxtest::spinUntil([&] { return delegate->log.size() == 3; }));
    EXPECT_FALSE(*destroyed);
}

TEST_F(WindowGui, AShakeMovesTheWindowBothWaysAndPutsItBack)
{
    if (!kx::Window::isX11Display(gtk_widget_get_display(gtkWindow)))
        GTEST_SKIP() << "under Wayland a client neither places its window nor learns where it is: the content shakes instead";
    gtk_window_move(GTK_WINDOW(gtkWindow), 200, 150);
    int x = 0, y = 0;
    ASSERT_TRUE(kxtest::spinUntil([&] {
        gtk_window_get_position(GTK_WINDOW(gtkWindow), &x, &y);
        return x == 200 && y == 150;
    }));
    std::set<int> seen;
    auto watch = kx::SignalConnection::connect<gboolean(GtkWidget*, GdkEventConfigure*)>(
        gtkWindow, "configure-event", [&](GtkWidget*, GdkEventConfigure* event) -> gboolean {
            seen.insert(event->x);
            return FALSE;
        });
    window->shake();
    EXPECT_TRUE(window->isShaking());
    ASSERT_TRUE(kxtest::spinUntil([&] { return !window->isShaking(); }));
    ASSERT_TRUE(kxtest::spinUntil([&] {
        gtk_window_get_position(GTK_WINDOW(gtkWindow), &x, &y);
        return x == 200 && y == 150;
    }));
    watch.disconnect();
    ASSERT_FALSE(seen.empty());
    EXPECT_LT(*seen.begin(), 200);
    EXPECT_GT(*seen.rbegin(), 200);
    EXPECT_LE(*seen.rbegin() - *seen.begin(), 8); // 1 % of 320 either way, rounded
}

TEST_F(WindowGui, WhereTheWindowCannotMoveItsContentShakesBothWaysAndComesBack)
{
    if (kx::Window::isX11Display(gtk_widget_get_display(gtkWindow)))
        GTEST_SKIP() << "under X11 the window itself shakes (AShakeMovesTheWindowBothWaysAndPutsItBack)";
    // Where the content is drawn: the anchor's origin on the window's surface, frame by frame.
    std::set<int> drawnAt;
    auto watch = kx::SignalConnection::connect<gboolean(GtkWidget*, cairo_t*)>(
        anchor, "draw", [&](GtkWidget*, cairo_t* cr) -> gboolean {
            double x = 0, y = 0;
            cairo_user_to_device(cr, &x, &y);
            drawnAt.insert(int(std::lround(x)));
            return FALSE;
        });
    gtk_widget_queue_draw(gtkWindow);
    ASSERT_TRUE(kxtest::spinUntil([&] { return !drawnAt.empty(); }));
    ASSERT_EQ(drawnAt.size(), 1u);
    const int rest = *drawnAt.begin();

    window->shake();
    EXPECT_TRUE(window->isShaking());
    ASSERT_TRUE(kxtest::spinUntil([&] { return !window->isShaking(); }));
    EXPECT_EQ(window->contentShakeOffset(), 0);
    EXPECT_LT(*drawnAt.begin(), rest);
    EXPECT_GT(*drawnAt.rbegin(), rest);
    EXPECT_LE(*drawnAt.rbegin() - *drawnAt.begin(), 8); // 1 % of 320 either way, rounded

    // The last frame draws it where it rests.
    drawnAt.clear();
    gtk_widget_queue_draw(gtkWindow);
    ASSERT_TRUE(kxtest::spinUntil([&] { return !drawnAt.empty(); }));
    EXPECT_EQ(drawnAt, std::set<int>{rest});

    // A window that is not on screen has nothing to shake.
    window->orderOut();
    ASSERT_TRUE(kxtest::spinUntil([&] { return !gtk_widget_get_mapped(gtkWindow); }));
    window->shake();
    EXPECT_FALSE(window->isShaking());
}

TEST_F(WindowGui, TheTallTitleBarIsAHeaderBarOfAtLeast37Points)
{
    auto document = std::make_unique<kx::Window>(kx::Size{400, 300});
    document->setTitle("Untitled");
    GtkHeaderBar* bar = document->useTallTitleBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(document->useTallTitleBar(), bar);
    EXPECT_EQ(gtk_window_get_titlebar(document->gtkWindow()), GTK_WIDGET(bar));
    EXPECT_STREQ(gtk_header_bar_get_title(bar), "Untitled");
    EXPECT_TRUE(gtk_style_context_has_class(gtk_widget_get_style_context(GTK_WIDGET(bar)),
                                            kx::Window::tallTitleBarStyleClass));
    document->makeKeyAndOrderFront();
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(bar)); }));
    const int height = gtk_widget_get_allocated_height(GTK_WIDGET(bar));
    EXPECT_GE(height, 37);
    EXPECT_LE(height, 40); // not the taller bar of the theme
}

TEST_F(WindowGui, TheDoubleClickIntervalIsTheDesktops)
{
    GtkSettings* settings = gtk_settings_get_default();
    gint before = 0;
    g_object_get(settings, "gtk-double-click-time", &before, nullptr);
    g_object_set(settings, "gtk-double-click-time", 250, nullptr);
    EXPECT_EQ(kx::Window::doubleClickInterval(), std::chrono::milliseconds(250));
    g_object_set(settings, "gtk-double-click-time", before, nullptr);
}

