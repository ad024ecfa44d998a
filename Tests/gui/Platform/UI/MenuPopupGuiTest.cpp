#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <vector>

#include "Platform/UI/MenuPopup.h"
#include "Platform/UI/ResponderChain.h"
#include "support/KeyPress.h"
#include "support/Spin.h"

using kx::MenuPopup;
using kx::NativeMenu;
using kx::NativeMenuItem;

namespace {

class Target : public kx::Responder {
public:
    Target() { addAction("pick:", [this](Sender sender) { picked.push_back(sender); }); }
    std::vector<Sender> picked;
};

class MenuPopupGui : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window), 400, 300);
        gtk_widget_show_all(window);
        ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(window); }));
        first->setTarget(&target);
        menu->addItem(first);
        menu->addItem(NativeMenuItem::separatorItem());
        second->setTarget(&target);
        menu->addItem(second);
        menu->setAutoenablesItems(false);
    }
    void TearDown() override
    {
        gtk_widget_destroy(window);
        kxtest::spinFor(std::chrono::milliseconds(20));
    }

    // The one menu on screen, after it has come up.
    GtkMenu* openMenu()
    {
        GtkMenu* found = nullptr;
        kxtest::spinUntil([&] {
            auto menus = MenuPopup::openMenus();
            found = menus.empty() ? nullptr : menus.back();
            return found != nullptr;
        });
        return found;
    }

    void popUp(std::optional<kx::Rect> rect)
    {
        MenuPopup::popUp(menu, window, rect, [this](std::shared_ptr<NativeMenuItem> chosen) {
            completions.push_back(chosen);
        });
    }

    GtkWidget* window = nullptr;
    Target target;
    std::shared_ptr<NativeMenu> menu = NativeMenu::make();
    std::shared_ptr<NativeMenuItem> first = NativeMenuItem::make("First", "pick:");
    std::shared_ptr<NativeMenuItem> second = NativeMenuItem::make("Second", "pick:");
    std::vector<std::shared_ptr<NativeMenuItem>> completions;
};

} // namespace

TEST_F(MenuPopupGui, ChoosingAnItemSendsItsActionAndCompletesOnceWithIt)
{
    popUp(kx::Rect{{40, 50}, {10, 10}});
    GtkMenu* shown = openMenu();
    ASSERT_NE(shown, nullptr);
    int x = 0, y = 0;
    gdk_window_get_origin(gtk_widget_get_window(gtk_widget_get_toplevel(GTK_WIDGET(shown))), &x, &y);
    int wx = 0, wy = 0;
    gdk_window_get_origin(gtk_widget_get_window(window), &wx, &wy);
    EXPECT_EQ(x - wx, 40); // at the rectangle, in the window's coordinates
    EXPECT_EQ(y - wy, 50);

    GList* children = gtk_container_get_children(GTK_CONTAINER(shown));
    ASSERT_EQ(g_list_length(children), 3u);
    gtk_menu_shell_activate_item(GTK_MENU_SHELL(shown), GTK_WIDGET(g_list_nth_data(children, 2)), TRUE);
    g_list_free(children);
    kxtest::spinFor(std::chrono::milliseconds(50));
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0], second);
    EXPECT_EQ(target.picked, std::vector<kx::Responder::Sender>{second.get()});
    EXPECT_TRUE(MenuPopup::openMenus().empty());
}

TEST_F(MenuPopupGui, EscapeClosesWithoutAChoiceAndCompletesOnce)
{
    popUp(std::nullopt); // at the pointer
    GtkMenu* shown = openMenu();
    ASSERT_NE(shown, nullptr);
    kxtest::pressKey(gtk_widget_get_toplevel(GTK_WIDGET(shown)), GDK_KEY_Escape);
    ASSERT_TRUE(kxtest::spinUntil([&] { return !completions.empty(); }));
    kxtest::spinFor(std::chrono::milliseconds(50));
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0], nullptr);
    EXPECT_TRUE(target.picked.empty());
}

TEST_F(MenuPopupGui, AMenuWithoutAWindowOpensAtThePointer)
{
    MenuPopup::popUp(menu, nullptr, kx::Rect{{1, 1}, {1, 1}},
                     [this](std::shared_ptr<NativeMenuItem> chosen) { completions.push_back(chosen); });
    GtkMenu* shown = openMenu();
    ASSERT_NE(shown, nullptr);
    gtk_menu_shell_cancel(GTK_MENU_SHELL(shown));
    ASSERT_TRUE(kxtest::spinUntil([&] { return !completions.empty(); }));
    kxtest::spinFor(std::chrono::milliseconds(50));
    EXPECT_EQ(completions.size(), 1u);
}
