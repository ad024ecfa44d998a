#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "Platform/UI/NativeMenu.h"
#include "Platform/UI/ResponderChain.h"
#include "Platform/UI/WindowMenuBar.h"
#include "support/UserInput.h"
#include "support/Spin.h"

using kx::ModifierFlags;
using kx::NativeMenu;
using kx::NativeMenuItem;
using kx::Responder;

namespace {

class Recorder : public Responder {
public:
    explicit Recorder(std::vector<std::string> actions)
    {
        for (auto& action : actions)
            addAction(action, [this, action](Sender) { performed.push_back(action); });
    }
    bool validateUserInterfaceItem(kx::ValidatedUserInterfaceItem& item) override
    {
        validated.push_back(item.action());
        return enabled;
    }
    bool performKeyEquivalent(const kx::KeyEvent& event) override
    {
        return takesKeys && event.charactersIgnoringModifiers == "k";
    }
    bool enabled = true;
    bool takesKeys = false;
    std::vector<std::string> performed;
    std::vector<std::string> validated;
};

class Delegate : public kx::NativeMenuDelegate {
public:
    void menuWillOpen(NativeMenu& menu) override { log.push_back("open " + menu.title()); }
    void menuDidClose(NativeMenu& menu) override { log.push_back("close " + menu.title()); }
    std::vector<std::string> log;
};

std::shared_ptr<NativeMenuItem> item(const char* title, const char* action, const char* key = "",
                                     ModifierFlags mask = ModifierFlags::command)
{
    auto made = NativeMenuItem::make(title, action, key);
    made->setKeyEquivalentModifierMask(mask);
    return made;
}

// A window with an Edit menu (Copy Ctrl+C, Delete on a bare Backspace, a hidden item, a
// checked one) over a text field and a button; `responder` answers for the window.
class WindowMenuBarGui : public ::testing::Test {
protected:
    void SetUp() override
    {
        edit->setDelegate(delegate);
        edit->addItem(copy);
        edit->addItem(remove);
        edit->addItem(NativeMenuItem::separatorItem());
        hidden->setHidden(true);
        edit->addItem(hidden);
        checked->setState(NativeMenuItem::State::on);
        edit->addItem(checked);
        auto editItem = NativeMenuItem::make("Edit");
        editItem->setSubmenu(edit);
        menu->addItem(editItem);

        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        auto& bar = kx::WindowMenuBar::install(GTK_WINDOW(window), menu);
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_box_pack_start(GTK_BOX(box), bar.menuBar(), FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(box), entry, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
        gtk_container_add(GTK_CONTAINER(window), box);
        responder.attachToWidget(window);
        gtk_widget_show_all(window);
        ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(window); }));
        gtk_window_present(GTK_WINDOW(window));
        ASSERT_TRUE(kxtest::spinUntil([&] { return kx::ResponderChain::shared().keyWindow() == GTK_WINDOW(window); }));
    }
    void TearDown() override { gtk_widget_destroy(window); }

    GtkWidget* widget(const std::shared_ptr<NativeMenuItem>& item)
    {
        return kx::WindowMenuBar::forWindow(GTK_WINDOW(window))->realisation()->widgetForItem(item.get());
    }

    std::shared_ptr<NativeMenu> menu = NativeMenu::make();
    std::shared_ptr<NativeMenu> edit = NativeMenu::make("Edit");
    std::shared_ptr<NativeMenuItem> copy = item("Copy", "copy:", "c");
    std::shared_ptr<NativeMenuItem> remove = item("Delete", "delete:", "\b", ModifierFlags::none);
    std::shared_ptr<NativeMenuItem> hidden = item("Hidden", "copy:");
    std::shared_ptr<NativeMenuItem> checked = item("Ruler", "toggleRuler:");
    std::shared_ptr<Delegate> delegate = std::make_shared<Delegate>();
    Recorder responder{{"copy:", "delete:"}};
    GtkWidget* window = nullptr;
    GtkWidget* entry = gtk_entry_new();
    GtkWidget* button = gtk_button_new_with_label("Button");
};

} // namespace

TEST_F(WindowMenuBarGui, TheBarShowsTheModelAndFollowsItsChanges)
{
    EXPECT_FALSE(gtk_widget_get_visible(widget(hidden))); // despite gtk_widget_show_all
    ASSERT_TRUE(GTK_IS_CHECK_MENU_ITEM(widget(checked)));
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(widget(checked))));
    EXPECT_TRUE(GTK_IS_SEPARATOR_MENU_ITEM(widget(edit->itemAtIndex(2))));

    copy->setTitle("Copy Style");
    EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(widget(copy))), "Copy Style");
    checked->setState(NativeMenuItem::State::mixed);
    EXPECT_TRUE(gtk_check_menu_item_get_inconsistent(GTK_CHECK_MENU_ITEM(widget(checked))));
    checked->setState(NativeMenuItem::State::off);
    EXPECT_FALSE(GTK_IS_CHECK_MENU_ITEM(widget(checked))); // no empty check box
    // An item moved from one menu to another leaves the first one's widgets.
    auto other = NativeMenu::make();
    other->addItem(hidden);
    EXPECT_EQ(widget(hidden), nullptr);
    edit->insertItem(hidden, 0);
    GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(widget(copy))));
    EXPECT_EQ(g_list_length(children), 5u);
    EXPECT_EQ(children->data, widget(hidden));
    g_list_free(children);

    // Choosing an item sends its action along the chain.
    gtk_menu_item_activate(GTK_MENU_ITEM(widget(copy)));
    EXPECT_EQ(responder.performed, std::vector<std::string>{"copy:"});
}

TEST_F(WindowMenuBarGui, OpeningAMenuTellsTheDelegateThenValidatesEachItem)
{
    GtkWidget* editWidget = widget(menu->itemAtIndex(0));
    GtkWidget* submenu = kxtest::openMenuBarItem(window, editWidget);
    ASSERT_NE(submenu, nullptr);
    EXPECT_EQ(delegate->log, std::vector<std::string>{"open Edit"});
    EXPECT_EQ(responder.validated, (std::vector<std::string>{"copy:", "delete:", "copy:"}));
    EXPECT_TRUE(gtk_widget_get_sensitive(widget(copy)));
    EXPECT_FALSE(gtk_widget_get_sensitive(widget(checked))); // nobody answers toggleRuler:

    gtk_menu_shell_cancel(GTK_MENU_SHELL(gtk_widget_get_parent(editWidget)));
    ASSERT_TRUE(kxtest::spinUntil([&] { return !gtk_widget_get_visible(submenu); }));
    EXPECT_EQ(delegate->log, (std::vector<std::string>{"open Edit", "close Edit"}));
}

TEST_F(WindowMenuBarGui, ModifiedAcceleratorsComeBeforeTheFocusedWidgetAndBareOnesAfterIt)
{
    gtk_entry_set_text(GTK_ENTRY(entry), "abc");
    gtk_widget_grab_focus(entry);
    gtk_editable_set_position(GTK_EDITABLE(entry), -1);

    // Backspace is typing while the text field has the focus.
    kxtest::pressKey(window, GDK_KEY_BackSpace);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "ab");
    EXPECT_TRUE(responder.performed.empty());

    // Ctrl+C is the menu's, asked first and validated before it fires.
    kxtest::pressKey(window, GDK_KEY_c, GDK_CONTROL_MASK);
    EXPECT_EQ(responder.performed, std::vector<std::string>{"copy:"});
    EXPECT_EQ(responder.validated, std::vector<std::string>{"copy:"});
    // Shift does not hide the key from its accelerator: Ctrl+Shift+C types "C".
    copy->setKeyEquivalentModifierMask(ModifierFlags::command | ModifierFlags::shift);
    kxtest::pressKey(window, GDK_KEY_C, GdkModifierType(GDK_CONTROL_MASK | GDK_SHIFT_MASK));
    EXPECT_EQ(responder.performed.size(), 2u);

    // Disabled, the accelerator leaves the key to the text field (which takes Ctrl+A).
    responder.enabled = false;
    copy->setKeyEquivalent("a");
    copy->setKeyEquivalentModifierMask(ModifierFlags::command);
    kxtest::pressKey(window, GDK_KEY_a, GDK_CONTROL_MASK);
    EXPECT_EQ(responder.performed.size(), 2u);
    int start = 0, end = 0;
    EXPECT_TRUE(gtk_editable_get_selection_bounds(GTK_EDITABLE(entry), &start, &end));
    EXPECT_EQ(end - start, 2);

    // Away from the text field, a bare Backspace reaches the Delete item.
    responder.enabled = true;
    gtk_widget_grab_focus(button);
    kxtest::pressKey(window, GDK_KEY_BackSpace);
    EXPECT_EQ(responder.performed.back(), "delete:");

    // A hidden item's accelerator does not fire.
    remove->setHidden(true);
    kxtest::pressKey(window, GDK_KEY_BackSpace);
    EXPECT_EQ(responder.performed.size(), 3u);
}

TEST_F(WindowMenuBarGui, TheFocusedRespondersSeeKeyEquivalentsFirst)
{
    Recorder focused{{"copy:"}};
    focused.attachToWidget(entry);
    gtk_widget_grab_focus(entry);
    const auto chain = kx::ResponderChain::shared().respondersFrom(entry);
    ASSERT_GE(chain.size(), 2u);
    EXPECT_EQ(chain[0], &focused);
    EXPECT_EQ(chain[1], &responder);

    focused.takesKeys = true;
    copy->setKeyEquivalent("k");
    kxtest::pressKey(window, GDK_KEY_k, GDK_CONTROL_MASK);
    EXPECT_TRUE(focused.performed.empty());
    EXPECT_TRUE(responder.validated.empty());
    focused.takesKeys = false;
    kxtest::pressKey(window, GDK_KEY_k, GDK_CONTROL_MASK);
    EXPECT_EQ(focused.performed, std::vector<std::string>{"copy:"}); // first in the chain
}
