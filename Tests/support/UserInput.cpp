#include "support/UserInput.h"

#include <gtest/gtest.h>

#include <memory>

#include "Platform/Foundation/MainQueue.h"
#include "Platform/UI/MenuPopup.h"
#include "support/Spin.h"

namespace kxtest {

namespace {

void send(GtkWidget* window, GdkEventType type, guint keyval, GdkModifierType modifiers)
{
    // A window that the press closed gets no release.
    if (!gtk_widget_get_window(window))
        return;
    GdkEvent* event = gdk_event_new(type);
    auto* key = &event->key;
    key->window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    key->send_event = TRUE;
    // Each press its own time, as from the X server: the window tells presses apart by it.
    static guint32 clock = 1;
    key->time = clock++;
    key->state = modifiers;
    key->keyval = keyval;
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()), keyval, &keys,
                                          &count)
        && count > 0) {
        key->hardware_keycode = guint16(keys[0].keycode);
        key->group = guint8(keys[0].group);
    }
    g_free(keys);
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    gdk_event_set_device(event, gdk_seat_get_keyboard(seat));
    gtk_main_do_event(event);
    gdk_event_free(event);
}

} // namespace

void pressKey(GtkWidget* window, guint keyval, GdkModifierType modifiers)
{
    send(window, GDK_KEY_PRESS, keyval, modifiers);
    send(window, GDK_KEY_RELEASE, keyval, modifiers);
}

GtkWidget* openMenuBarItem(GtkWidget* window, GtkWidget* item)
{
    // Inside a key press, so that the menu has the event that opened it.
    const gulong handler = g_signal_connect(window, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey*, gpointer item) {
                                                g_signal_emit_by_name(item, "activate-item");
                                                return TRUE;
                                            }),
                                            item);
    pressKey(window, GDK_KEY_F10);
    g_signal_handler_disconnect(window, handler);
    GtkWidget* submenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(item));
    if (!submenu || !spinUntil([&] { return gtk_widget_get_mapped(submenu); }))
        return nullptr;
    // A menu reached from the keyboard opens its model on the turn after it shows.
    auto turned = std::make_shared<bool>(false);
    kx::MainQueue::async([turned] { *turned = true; });
    EXPECT_TRUE(spinUntil([&] { return *turned; })) << "the main loop did not turn";
    return submenu;
}

::testing::AssertionResult activateTheOnlyMenuItem(const std::string& label)
{
    if (!spinUntil([] { return !kx::MenuPopup::openMenus().empty(); }))
        return ::testing::AssertionFailure() << "no menu showed";
    GtkMenu* menu = kx::MenuPopup::openMenus().back();
    GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
    const guint count = g_list_length(items);
    const char* shown = count == 1 ? gtk_menu_item_get_label(GTK_MENU_ITEM(items->data)) : nullptr;
    const bool right = shown && label == shown;
    if (right)
        gtk_menu_shell_activate_item(GTK_MENU_SHELL(menu), GTK_WIDGET(items->data), TRUE);
    g_list_free(items);
    if (right)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the menu holds " << count << " items" << (shown ? ", " + std::string(shown) : "")
                                         << ", not " << label << " alone";
}

} // namespace kxtest
