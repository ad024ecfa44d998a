#include "Platform/UI/WindowMenuBar.h"

#include "Platform/UI/ResponderChain.h"

namespace kx {

namespace {
constexpr const char* menuBarKey = "kx-window-menu-bar";
}

WindowMenuBar& WindowMenuBar::install(GtkWindow* window, std::shared_ptr<NativeMenu> menu)
{
    if (WindowMenuBar* existing = forWindow(window))
        return *existing;
    auto* bar = new WindowMenuBar(window, std::move(menu));
    g_object_set_data_full(G_OBJECT(window), menuBarKey, bar,
                           [](gpointer data) { delete static_cast<WindowMenuBar*>(data); });
    // Let go of the widgets with the window, not whenever its last reference goes.
    g_signal_connect(window, "destroy", G_CALLBACK(+[](GtkWidget* widget, gpointer) {
                         g_object_set_data(G_OBJECT(widget), menuBarKey, nullptr);
                     }),
                     nullptr);
    return *bar;
}

WindowMenuBar* WindowMenuBar::forWindow(GtkWindow* window)
{
    return static_cast<WindowMenuBar*>(g_object_get_data(G_OBJECT(window), menuBarKey));
}

WindowMenuBar::WindowMenuBar(GtkWindow* window, std::shared_ptr<NativeMenu> menu)
    : window_(window)
    , menuBar_(GObjectRef<GtkWidget>::sink(gtk_menu_bar_new()))
    , accelGroup_(GObjectRef<GtkAccelGroup>::adopt(gtk_accel_group_new()))
{
    // The group is not attached to the window: GTK's own key handling would fire its
    // accelerators ahead of the focused widget. This object fires them in its own order.
    if (menu)
        realisation_ =
            std::make_unique<NativeMenuGtk>(std::move(menu), GTK_MENU_SHELL(menuBar_.get()), accelGroup_.get());
    gtk_widget_show(menuBar_.get());
    keyPressBefore_ = SignalConnection(window, "key-press-event", G_CALLBACK(&WindowMenuBar::keyPressedBefore), this);
    keyPressAfter_ = SignalConnection(window, "key-press-event", G_CALLBACK(&WindowMenuBar::keyPressedAfter), this,
                                      G_CONNECT_AFTER);
    ResponderChain::shared().trackWindow(window);
}

WindowMenuBar::~WindowMenuBar()
{
    keyPressBefore_.disconnect();
    keyPressAfter_.disconnect();
    realisation_.reset();
    gtk_widget_destroy(menuBar_.get());
}

bool WindowMenuBar::isModified(const GdkEventKey& event)
{
    return event.state & (GDK_CONTROL_MASK | GDK_MOD1_MASK | GDK_SUPER_MASK | GDK_HYPER_MASK | GDK_META_MASK);
}

bool WindowMenuBar::activateAccelerator(const GdkEventKey& event)
{
    const auto modifiers = GdkModifierType(event.state & gtk_accelerator_get_default_mod_mask());
    // The key as typed and, for shifted characters ("!" of Shift+1), the key's unshifted value.
    guint keys[2] = {gdk_keyval_to_lower(event.keyval), 0};
    guint unshifted = 0;
    if (gdk_keymap_translate_keyboard_state(gdk_keymap_get_for_display(gdk_display_get_default()),
                                            event.hardware_keycode, GdkModifierType(0), event.group, &unshifted,
                                            nullptr, nullptr, nullptr)
        && gdk_keyval_to_lower(unshifted) != keys[0])
        keys[1] = gdk_keyval_to_lower(unshifted);
    // Emitting may validate on a nested main loop, during which this bar may go: the loop
    // holds its own references and looks no further once the bar has gone.
    const std::weak_ptr<int> alive = alive_;
    const auto group = accelGroup_;
    const auto window = GObjectRef<GtkWindow>::retain(window_);
    bool activated = false;
    for (guint key : keys) {
        if (!key || alive.expired())
            continue;
        gchar* name = gtk_accelerator_name(key, modifiers);
        const GQuark quark = g_quark_try_string(name);
        g_free(name);
        if (quark && gtk_accel_group_activate(group.get(), quark, G_OBJECT(window.get()), key, modifiers)) {
            activated = true;
            break;
        }
    }
    return activated;
}

gboolean WindowMenuBar::keyPressedBefore(GtkWidget* window, GdkEventKey* event, gpointer data)
{
    auto* self = static_cast<WindowMenuBar*>(data);
    if (event->is_modifier)
        return FALSE;
    // A web view hands a press that its page did not take back to the window: the first steps
    // already ran for it.
    const Seen seen{event->time, event->keyval, event->state, event->hardware_keycode};
    if (seen == self->lastPress_)
        return FALSE;
    self->lastPress_ = seen;

    const std::weak_ptr<int> alive = self->alive_;
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
    if (ResponderChain::shared().performKeyEquivalent(focus ? focus : window, KeyEvent::fromGdk(*event)))
        return TRUE;
    if (alive.expired())
        return TRUE; // the window went while the key was being answered
    if (isModified(*event) && self->activateAccelerator(*event))
        return TRUE;
    return FALSE;
}

gboolean WindowMenuBar::keyPressedAfter(GtkWidget*, GdkEventKey* event, gpointer data)
{
    auto* self = static_cast<WindowMenuBar*>(data);
    if (event->is_modifier || isModified(*event))
        return FALSE;
    return self->activateAccelerator(*event);
}

} // namespace kx
