// Pop-ups that end other than by a choice: the anchor goes while one is open, or a second one
// opens. Each completion still runs exactly once.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "Platform/UI/MenuPopup.h"
#include "Platform/UI/NativeMenu.h"
#include "support/Spin.h"

using kx::NativeMenu;
using kx::NativeMenuItem;

namespace {

GtkWidget* presentedWindow(GtkWidget* child)
{
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_container_add(GTK_CONTAINER(window), child);
    gtk_widget_show_all(window);
    EXPECT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(window); }));
    gtk_window_present(GTK_WINDOW(window));
    return window;
}

} // namespace

TEST(MenuPopupGui, APopUpWhoseWidgetIsDestroyedStillClosesAndCompletesOnce)
{
    GtkWidget* button = gtk_button_new_with_label("Anchor");
    GtkWidget* window = presentedWindow(button);
    auto menu = NativeMenu::make();
    menu->addItem(NativeMenuItem::make("A"));
    int calls = 0;
    kx::MenuPopup::popUp(menu, button, kx::Rect{{5, 5}, {1, 1}}, [&](std::shared_ptr<NativeMenuItem>) { ++calls; });
    ASSERT_TRUE(kxtest::spinUntil([] { return !kx::MenuPopup::openMenus().empty(); }));
    GtkMenu* shown = kx::MenuPopup::openMenus().back();

    gtk_widget_destroy(window);
    // The pop-up may end with its widget; if it stays open, it still ends once.
    if (!kxtest::spinUntil([&] { return calls == 1; }, std::chrono::milliseconds(500)))
        gtk_menu_shell_cancel(GTK_MENU_SHELL(shown));
    EXPECT_TRUE(kxtest::spinUntil([&] { return calls == 1 && kx::MenuPopup::openMenus().empty(); }));
    kxtest::spinFor(std::chrono::milliseconds(50));
    EXPECT_EQ(calls, 1);
}

TEST(MenuPopupGui, ASecondPopUpClosesTheFirstAndEachCompletesOnce)
{
    GtkWidget* button = gtk_button_new_with_label("Anchor");
    GtkWidget* window = presentedWindow(button);
    auto menu = NativeMenu::make();
    menu->addItem(NativeMenuItem::make("A"));
    int first = 0, second = 0;
    kx::MenuPopup::popUp(menu, button, kx::Rect{{5, 5}, {1, 1}}, [&](std::shared_ptr<NativeMenuItem>) { ++first; });
    ASSERT_TRUE(kxtest::spinUntil([] { return kx::MenuPopup::openMenus().size() == 1; }));
    auto other = NativeMenu::make();
    other->addItem(NativeMenuItem::make("B"));
    kx::MenuPopup::popUp(other, button, kx::Rect{{50, 5}, {1, 1}}, [&](std::shared_ptr<NativeMenuItem>) { ++second; });
    EXPECT_TRUE(kxtest::spinUntil([&] { return first == 1 && kx::MenuPopup::openMenus().size() == 1; }));
    auto open = kx::MenuPopup::openMenus();
    EXPECT_EQ(open.size(), 1u);
    EXPECT_EQ(first, 1);
    for (GtkMenu* shown : open)
        gtk_menu_shell_cancel(GTK_MENU_SHELL(shown));
    EXPECT_TRUE(kxtest::spinUntil([&] { return first == 1 && second == 1; }));
    kxtest::spinFor(std::chrono::milliseconds(50));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    gtk_widget_destroy(window);
}
