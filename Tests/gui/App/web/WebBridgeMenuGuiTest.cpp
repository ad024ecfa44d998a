// Menus, edit actions and context menus against a real page that owns its actions
// (Tests/gui/pages/menu-page.*): the page validates a whole menu in one answer, a page that
// does not answer leaves actions to WebKit's own editing, and its context menus report the
// chosen entry.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "App/web/AppMenu.h"
#include "gui/App/web/HostedPage.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/RunLoopWait.h"
#include "Platform/UI/MenuPopup.h"
#include "Platform/UI/ResponderChain.h"
#include "Platform/UI/WindowMenuBar.h"
#include "Services/runtime/JSONDecoder.h"
#include "support/UserInput.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace {

using kx::NativeMenu;
using kx::NativeMenuItem;
using kx::ResponderChain;
using nlohmann::json;

using kxtest::pageTimeout;

const char* appMenu = R"([
    {"label": "Edit", "submenu": [
        {"label": "Copy", "role": "copy"}, {"label": "Paste", "role": "paste"},
        {"label": "Select All", "role": "selectAll"}, {"label": "Undo", "role": "undo"}]},
    {"label": "View", "submenu": [
        {"label": "Zoom In", "role": "zoomIn", "accelerator": "CmdOrCtrl+Plus"},
        {"label": "Rulers", "role": "rulers"}, {"label": "Grid", "role": "grid"}]}
])";

class WebBridgeMenuGui : public kxtest::HostedPageTest {
protected:
    void SetUp() override
    {
        kx::AppMenu::initializeMainMenu(*mainMenu, kx::JSONDecoder().decode<std::vector<kx::AppMenu::MenuItemOptions>>(appMenu));
        HostedPageTest::SetUp();
        // The menu bar above the page.
        gtk_container_remove(GTK_CONTAINER(window), webView().widget());
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_box_pack_start(GTK_BOX(box), kx::WindowMenuBar::install(GTK_WINDOW(window), mainMenu).menuBar(), FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(box), webView().widget(), TRUE, TRUE, 0);
        gtk_container_add(GTK_CONTAINER(window), box);
        gtk_widget_show_all(window);
        gtk_window_present(GTK_WINDOW(window));
        ASSERT_TRUE(kxtest::spinUntil([&] { return ResponderChain::shared().keyWindow() == GTK_WINDOW(window); }));
    }

    kx::WebBridge::WebView& webView() { return controller->webView(); }

    // Loads the page (deferring to native handling when asked) and waits for its services.
    void load(bool defer = false)
    {
        const auto page = kxtest::testSourceDir() / "gui" / "pages" / "menu-page.html";
        gchar* uri = g_filename_to_uri(page.c_str(), nullptr, nullptr);
        controller->loadURL(std::string(uri) + (defer ? "?defer" : ""));
        g_free(uri);
        auto router = webView().serviceManager().addRouter(webView().serviceChannel());
        ASSERT_TRUE(kxtest::spinUntil([&] { return router->latestDiscoveryInfo().has_value(); }, pageTimeout));
        gtk_widget_grab_focus(webView().widget());
        evaluate("document.getElementById('text').focus()");
    }

    std::shared_ptr<NativeMenuItem> item(const char* menu, const char* title)
    {
        return mainMenu->itemWithTitle(menu)->submenu()->itemWithTitle(title);
    }

    GtkWidget* widgetFor(const std::shared_ptr<NativeMenuItem>& item)
    {
        return kx::WindowMenuBar::forWindow(GTK_WINDOW(window))->realisation()->widgetForItem(item.get());
    }

    // Opens a menu of the bar as a click would, and waits until it shows.
    GtkWidget* open(const char* title)
    {
        GtkWidget* menu = kxtest::openMenuBarItem(window, widgetFor(mainMenu->itemWithTitle(title)));
        EXPECT_NE(menu, nullptr);
        return menu;
    }

    void close(GtkWidget* menu)
    {
        gtk_menu_shell_cancel(GTK_MENU_SHELL(gtk_widget_get_parent(widgetFor(mainMenu->itemWithTitle("View")))));
        EXPECT_TRUE(kxtest::spinUntil([&] { return !gtk_widget_get_visible(menu); }));
    }

    json requests() { return evaluate("menuPage.requests"); }
    int selectionLength() { return evaluate("(t => t.selectionEnd - t.selectionStart)(document.getElementById('text'))").get<int>(); }

    std::shared_ptr<NativeMenu> mainMenu = [] {
        auto menu = NativeMenu::make();
        auto window = NativeMenuItem::make("Window");
        window->setSubmenu(NativeMenu::make("Window"));
        menu->addItem(window);
        return menu;
    }();
};

json validation(const char* action)
{
    return json{{"method", "validate"}, {"action", action}};
}

} // namespace

TEST_F(WebBridgeMenuGui, OpeningAMenuAsksThePageOnceForEveryActionAndKeepsTheAnswerWhileItIsOpen)
{
    load();
    evaluate(R"(menuPage.states = {
        copy: {enabled: true, label: "Copy Layer"}, zoomIn: {enabled: false},
        rulers: {enabled: true, checked: true}, grid: {enabled: true, visible: false}})");
    GtkWidget* view = open("View");
    EXPECT_EQ(requests(), json::array({validation("*")}));
    EXPECT_FALSE(gtk_widget_get_sensitive(widgetFor(item("View", "Zoom In"))));
    ASSERT_TRUE(GTK_IS_CHECK_MENU_ITEM(widgetFor(item("View", "Rulers"))));
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(widgetFor(item("View", "Rulers")))));
    EXPECT_FALSE(gtk_widget_get_visible(widgetFor(item("View", "Grid"))));
    ASSERT_TRUE(webView().validatedActionCache().has_value());

    // While it is open the answer serves every validation; an action it lacks is asked alone.
    auto copy = item("Edit", "Copy");
    EXPECT_TRUE(ResponderChain::shared().validate(*copy));
    EXPECT_EQ(copy->title(), "Copy Layer");
    ResponderChain::shared().validate(*item("Edit", "Paste"));
    EXPECT_EQ(requests(), json::array({validation("*"), validation("paste")}));

    close(view);
    EXPECT_FALSE(webView().validatedActionCache().has_value());
    EXPECT_EQ(webView().menuCount(), 0);
    // Outside a menu every validation asks again.
    ResponderChain::shared().validate(*copy);
    EXPECT_EQ(requests().back(), validation("copy"));
}

TEST_F(WebBridgeMenuGui, AnActionThePageDoesNotAnswerInTimeIsLeftToWebKit)
{
    load();
    evaluate("menuPage.answer = 'never'");
    EXPECT_EQ(selectionLength(), 0);
    kxtest::pressKey(window, GDK_KEY_a, GDK_CONTROL_MASK);
    EXPECT_TRUE(kxtest::spinUntil([&] { return selectionLength() == 11; }));
    EXPECT_EQ(evaluate("menuPage.dispatched"), json::array());
    EXPECT_EQ(requests().front(), validation("selectAll"));

    // An answer the page gives too late still lands nowhere: no menu is open.
    evaluate("menuPage.answer = 800");
    // WebKit learns of the new selection from its web process a little later.
    ASSERT_TRUE(kxtest::spinUntil([&] {
        return webkit_editor_state_is_copy_available(webkit_web_view_get_editor_state(webView().wkWebView()));
    }));
    auto copy = item("Edit", "Copy");
    EXPECT_TRUE(ResponderChain::shared().validate(*copy)); // WebKit can copy the selection
    EXPECT_EQ(copy->title(), "Copy");
}

TEST_F(WebBridgeMenuGui, TheActionsThePageEnablesGoToThePageAndDisabledOnesDoNothing)
{
    load();
    evaluate("menuPage.states = {selectAll: {enabled: true}, copy: {enabled: false}, undo: {visible: false}, "
             "zoomIn: {enabled: true}}");
    auto selectAll = item("Edit", "Select All");
    EXPECT_TRUE(ResponderChain::shared().sendAction("selectAll:", nullptr, selectAll.get()));
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate("menuPage.dispatched") == json::array({"selectAll"}); }));
    EXPECT_EQ(selectionLength(), 0); // the page did it, not WebKit

    ResponderChain::shared().sendAction("copy:", nullptr, item("Edit", "Copy").get());
    ResponderChain::shared().sendAction("undo:", nullptr, item("Edit", "Undo").get());
    EXPECT_FALSE(ResponderChain::shared().validate(*item("Edit", "Copy")));
    EXPECT_FALSE(ResponderChain::shared().validate(*item("Edit", "Undo")));
    EXPECT_TRUE(item("Edit", "Undo")->isHidden());
    kxtest::spinFor(std::chrono::milliseconds(100));
    EXPECT_EQ(evaluate("menuPage.dispatched"), json::array({"selectAll"}));

    // A web action goes to the page by the item's role.
    kxtest::pressKey(window, GDK_KEY_plus, GDK_CONTROL_MASK);
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate("menuPage.dispatched").size() == 2; }));
    EXPECT_EQ(evaluate("menuPage.dispatched[1]"), "zoomIn");
}

TEST_F(WebBridgeMenuGui, AnActionArrivingWhileThePageIsStillAnsweringAnotherGoesToThePageInTurn)
{
    load();
    evaluate("menuPage.states = {selectAll: {enabled: true}, undo: {enabled: true}, zoomIn: {enabled: true}};"
             "menuPage.answer = 100");
    // The second press comes while the first waits for the page's answer, as a key repeat would:
    // queued ahead of the first, it is handled inside that wait however busy the machine, and
    // the page's answer has the most of the wait's half second to come.
    kx::MainQueue::async([&] {
        EXPECT_TRUE(kx::RunLoopWait::isWaiting());
        kxtest::pressKey(window, GDK_KEY_a, GDK_CONTROL_MASK);
    });
    kxtest::pressKey(window, GDK_KEY_a, GDK_CONTROL_MASK);
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate("menuPage.dispatched").size() == 2; }, pageTimeout));
    EXPECT_EQ(evaluate("menuPage.dispatched"), json::array({"selectAll", "selectAll"}));
    EXPECT_EQ(selectionLength(), 0); // WebKit never selected on its own

    // An action WebKit could not do at all (nothing of its own to undo) is not lost either, and
    // actions, web-only ones too, keep the order of their keys.
    evaluate("menuPage.dispatched = []");
    kx::MainQueue::async([&] {
        EXPECT_TRUE(kx::RunLoopWait::isWaiting());
        kxtest::pressKey(window, GDK_KEY_plus, GDK_CONTROL_MASK);
        kxtest::pressKey(window, GDK_KEY_a, GDK_CONTROL_MASK);
    });
    kxtest::pressKey(window, GDK_KEY_z, GDK_CONTROL_MASK);
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate("menuPage.dispatched").size() == 3; }, pageTimeout));
    EXPECT_EQ(evaluate("menuPage.dispatched"), json::array({"undo", "zoomIn", "selectAll"}));
    EXPECT_EQ(selectionLength(), 0);
}

TEST_F(WebBridgeMenuGui, WithoutThePageServiceWebKitDecidesAndWebOnlyActionsAreOff)
{
    load(/*defer=*/true);
    EXPECT_FALSE(ResponderChain::shared().validate(*item("View", "Zoom In")));
    EXPECT_FALSE(ResponderChain::shared().validate(*item("Edit", "Undo")));
    EXPECT_TRUE(ResponderChain::shared().validate(*item("Edit", "Select All")));
    ResponderChain::shared().sendAction("selectAll:", nullptr, item("Edit", "Select All").get());
    EXPECT_TRUE(kxtest::spinUntil([&] { return selectionLength() == 11; }));
    EXPECT_TRUE(kxtest::spinUntil([&] { return ResponderChain::shared().validate(*item("Edit", "Copy")); }));
    EXPECT_EQ(requests(), json::array());
}

TEST_F(WebBridgeMenuGui, AContextMenuOfThePageReportsTheChosenEntryOrNothing)
{
    load();
    evaluate("menuPage.states = {zoomIn: {enabled: true}}");
    const char* items = R"([{label: "A"}, {type: "separator"}, {label: "B"},
        {label: "More", submenu: [{label: "X"}, {label: "Y"}]}, {label: "Zoom", role: "zoomIn"}])";
    auto openContextMenu = [&](const char* location) {
        evaluate(std::string("menuPage.showContextMenu(") + items + ", " + location + ")");
        GtkMenu* menu = nullptr;
        EXPECT_TRUE(kxtest::spinUntil([&] {
            auto menus = kx::MenuPopup::openMenus();
            menu = menus.empty() ? nullptr : menus.back();
            return menu != nullptr;
        }));
        return menu;
    };
    auto child = [](GtkMenu* menu, int index) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
        auto* widget = GTK_WIDGET(g_list_nth_data(children, guint(index)));
        g_list_free(children);
        return widget;
    };
    auto results = [&](std::size_t count) {
        EXPECT_TRUE(kxtest::spinUntil([&] { return evaluate("menuPage.contextResults.length") == count; }));
        return evaluate("menuPage.contextResults");
    };

    // At the page's location, in the web view.
    GtkMenu* menu = openContextMenu("{x: 10, y: 20}");
    ASSERT_NE(menu, nullptr);
    int x = 0, y = 0, wx = 0, wy = 0, inWindowX = 0, inWindowY = 0;
    gdk_window_get_origin(gtk_widget_get_window(gtk_widget_get_toplevel(GTK_WIDGET(menu))), &x, &y);
    gdk_window_get_origin(gtk_widget_get_window(window), &wx, &wy);
    gtk_widget_translate_coordinates(webView().widget(), window, 10, 20, &inWindowX, &inWindowY);
    EXPECT_GT(inWindowY, 20); // below the menu bar
    EXPECT_EQ(x, wx + inWindowX);
    EXPECT_EQ(y, wy + inWindowY);
    gtk_menu_shell_activate_item(GTK_MENU_SHELL(menu), child(menu, 2), TRUE);
    EXPECT_EQ(results(1)[0], json::parse(R"({"result": {"indexPath": [2]}})"));

    // Dismissed: the empty path.
    menu = openContextMenu("undefined");
    kxtest::pressKey(gtk_widget_get_toplevel(GTK_WIDGET(menu)), GDK_KEY_Escape);
    EXPECT_EQ(results(2)[1], json::parse(R"({"result": {"indexPath": []}})"));

    // A submenu entry reports its own position first.
    menu = openContextMenu("undefined");
    GtkMenu* more = GTK_MENU(gtk_menu_item_get_submenu(GTK_MENU_ITEM(child(menu, 3))));
    gtk_menu_shell_activate_item(GTK_MENU_SHELL(more), child(more, 1), TRUE);
    EXPECT_EQ(results(3)[2], json::parse(R"({"result": {"indexPath": [3, 1]}})"));
    gtk_menu_shell_cancel(GTK_MENU_SHELL(menu));

    // An entry with a role performs its action, and the page still gets its answer.
    menu = openContextMenu("undefined");
    gtk_menu_shell_activate_item(GTK_MENU_SHELL(menu), child(menu, 4), TRUE);
    EXPECT_EQ(results(4)[3], json::parse(R"({"result": {"indexPath": []}})"));
    EXPECT_TRUE(kxtest::spinUntil([&] { return evaluate("menuPage.dispatched") == json::array({"zoomIn"}); }));
}
