#include "Platform/UI/MenuPopup.h"

#include <algorithm>
#include <cmath>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/NativeMenuGtk.h"

namespace kx {

namespace {

// One pop-up from its showing to its completion.
struct Showing {
    std::shared_ptr<NativeMenu> menu;
    GObjectRef<GtkWidget> gtkMenu;
    std::unique_ptr<NativeMenuGtk> realisation;
    std::vector<SignalConnection> connections;
    std::shared_ptr<NativeMenuItem> chosen;
    MenuPopup::Completion completion;
    bool finished = false;
};

std::vector<std::shared_ptr<Showing>>& showings()
{
    static std::vector<std::shared_ptr<Showing>> list;
    return list;
}

void finish(const std::shared_ptr<Showing>& showing)
{
    if (showing->finished)
        return;
    showing->finished = true;
    auto completion = std::move(showing->completion);
    auto chosen = std::move(showing->chosen);
    // The widgets go on the next turn: this may run inside one of the menu's own signals.
    MainQueue::async([showing] {
        showing->connections.clear();
        showing->realisation.reset();
        gtk_widget_destroy(showing->gtkMenu.get());
        showing->gtkMenu.reset();
        auto& list = showings();
        list.erase(std::remove(list.begin(), list.end(), showing), list.end());
    });
    if (completion)
        completion(std::move(chosen));
}

std::shared_ptr<Showing> retained(Showing* showing)
{
    for (auto& entry : showings()) {
        if (entry.get() == showing)
            return entry;
    }
    return nullptr;
}

GdkWindow* windowOf(GtkWidget* widget)
{
    if (!widget)
        return nullptr;
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
    if (!GTK_IS_WINDOW(toplevel) || !gtk_widget_get_realized(toplevel))
        return nullptr;
    return gtk_widget_get_window(toplevel);
}

// Pops the opened menu up at `rect` of `window` (the top-level window of `widget` when the
// pop-up was asked for), or at the pointer.
void present(const std::shared_ptr<Showing>& showing, GtkWidget* widget, GdkWindow* window, std::optional<Rect> rect,
             GdkEvent* trigger)
{
    if (showing->finished || showings().empty() || showings().back() != showing
        || (window && windowOf(widget) != window)) {
        finish(showing);
        return;
    }
    if (widget && window)
        gtk_menu_attach_to_widget(GTK_MENU(showing->gtkMenu.get()), widget, nullptr);
    GdkRectangle area{0, 0, 1, 1};
    if (window && rect) {
        area = {int(std::lround(rect->origin.x)), int(std::lround(rect->origin.y)),
                std::max(1, int(std::lround(rect->size.width))), std::max(1, int(std::lround(rect->size.height)))};
    } else {
        if (!window)
            window = gdk_screen_get_root_window(gdk_screen_get_default());
        GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
        if (pointer)
            gdk_window_get_device_position(window, pointer, &area.x, &area.y, nullptr);
    }
    GdkEvent* made = nullptr;
    if (!trigger) {
        made = trigger = gdk_event_new(GDK_BUTTON_PRESS);
        trigger->button.window = GObjectRef<GdkWindow>::retain(window).release(); // freed with the event
        trigger->button.time = GDK_CURRENT_TIME;
        gdk_event_set_device(trigger, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
    }
    gtk_menu_popup_at_rect(GTK_MENU(showing->gtkMenu.get()), window, &area, GDK_GRAVITY_NORTH_WEST, GDK_GRAVITY_NORTH_WEST,
                           trigger);
    if (made)
        gdk_event_free(made);
    // A menu that could not show (no grab to be had) never closes either.
    if (!gtk_widget_get_visible(showing->gtkMenu.get()))
        MainQueue::async([showing] { finish(showing); });
}

} // namespace

void MenuPopup::popUp(std::shared_ptr<NativeMenu> menu, GtkWidget* widget, std::optional<Rect> rect,
                      Completion completion, bool showsKeyEquivalents)
{
    // One pop-up at a time, as menu tracking allows: a second one would take the grab and leave
    // the first on screen with nothing to close it, its completion waiting.
    for (auto& earlier : std::vector(showings())) {
        if (!earlier->finished)
            gtk_menu_shell_cancel(GTK_MENU_SHELL(earlier->gtkMenu.get()));
    }
    auto showing = std::make_shared<Showing>();
    showing->menu = std::move(menu);
    showing->completion = std::move(completion);
    showing->gtkMenu = GObjectRef<GtkWidget>::sink(gtk_menu_new());
    GtkWidget* gtkMenu = showing->gtkMenu.get();
    showing->realisation =
        std::make_unique<NativeMenuGtk>(showing->menu, GTK_MENU_SHELL(gtkMenu), nullptr, showsKeyEquivalents);
    Showing* raw = showing.get();
    showing->realisation->setChoiceHandler([raw](NativeMenuItem& item) { raw->chosen = item.shared_from_this(); });
    showings().push_back(showing);

    // GTK closes the menu before the chosen item activates and ends with "selection-done",
    // also on dismissal; "deactivate" is the safety net should that ever not come.
    showing->connections.push_back(
        SignalConnection::connect<void(GtkMenuShell*)>(gtkMenu, "selection-done", [raw](GtkMenuShell*) {
            if (auto showing = retained(raw))
                finish(showing);
        }));
    showing->connections.push_back(
        SignalConnection::connect<void(GtkMenuShell*)>(gtkMenu, "deactivate", [raw](GtkMenuShell*) {
            if (auto showing = retained(raw))
                MainQueue::async([showing] { finish(showing); });
        }));

    // A page's request is no input event; GTK wants one to know the pointer and the time. The
    // event is taken now: the opening below may let the main loop move on.
    std::shared_ptr<GdkEvent> trigger(gtk_get_current_event(), [](GdkEvent* event) {
        if (event)
            gdk_event_free(event);
    });
    // The opening validates the items, which may wait on the main loop for a page. It runs
    // before GTK's pop-up rather than inside it, and the pop-up follows on the next turn, after
    // whatever the opening put off (a window's destruction): a widget or window that went
    // meanwhile is never popped up over, and a later pop-up may have replaced this one.
    auto keptWidget = GObjectRef<GtkWidget>::retain(widget);
    auto keptWindow = GObjectRef<GdkWindow>::retain(windowOf(widget));
    showing->realisation->open();
    MainQueue::async([showing, keptWidget, keptWindow, rect, trigger] {
        present(showing, keptWidget.get(), keptWindow.get(), rect, trigger.get());
    });
}

std::vector<GtkMenu*> MenuPopup::openMenus()
{
    std::vector<GtkMenu*> menus;
    GList* windows = gtk_window_list_toplevels();
    for (GList* node = windows; node; node = node->next) {
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(node->data));
        if (GTK_IS_MENU(child) && gtk_widget_get_visible(child) && gtk_widget_get_mapped(GTK_WIDGET(node->data)))
            menus.push_back(GTK_MENU(child));
    }
    g_list_free(windows);
    return menus;
}

} // namespace kx
