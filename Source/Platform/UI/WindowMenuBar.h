// One window's menu bar and key routing. The application's main menu is realised as a
// GtkMenuBar of this window, with the accelerators in a group of its own; a key press goes
// first to the key-equivalent check of the focused widget's responders (the web view), then
// to the accelerators with Control, Alt or Super, then to the focused widget (GTK's own
// handling: mnemonics, the widget, key bindings), and only then to the accelerators without
// such a modifier, so that a bare "Backspace" accelerator never swallows typing.
//
// The object belongs to its window and goes when the window is destroyed. Main thread only.
#pragma once

#include <memory>

#include <gtk/gtk.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/NativeMenu.h"
#include "Platform/UI/NativeMenuGtk.h"

namespace kx {

class WindowMenuBar {
public:
    // Realises `menu` (nullptr: an empty bar) for `window`; the caller packs `menuBar()` where
    // the bar belongs. A second call for the same window returns the first object.
    static WindowMenuBar& install(GtkWindow* window, std::shared_ptr<NativeMenu> menu);
    static WindowMenuBar* forWindow(GtkWindow* window);

    GtkWidget* menuBar() const { return menuBar_.get(); }
    GtkAccelGroup* accelGroup() const { return accelGroup_.get(); }
    // nullptr without a menu.
    const NativeMenuGtk* realisation() const { return realisation_.get(); }

    // Fires the accelerator of this key press when a menu item has it and validates; true when
    // it fired.
    bool activateAccelerator(const GdkEventKey& event);

    ~WindowMenuBar();
    WindowMenuBar(const WindowMenuBar&) = delete;
    WindowMenuBar& operator=(const WindowMenuBar&) = delete;

private:
    WindowMenuBar(GtkWindow* window, std::shared_ptr<NativeMenu> menu);
    static gboolean keyPressedBefore(GtkWidget* window, GdkEventKey* event, gpointer self);
    static gboolean keyPressedAfter(GtkWidget* window, GdkEventKey* event, gpointer self);
    static bool isModified(const GdkEventKey& event);

    GtkWindow* window_;
    GObjectRef<GtkWidget> menuBar_;
    GObjectRef<GtkAccelGroup> accelGroup_;
    std::unique_ptr<NativeMenuGtk> realisation_;
    SignalConnection keyPressBefore_;
    SignalConnection keyPressAfter_;
    // The press that the web view handed back to the window: it already had its first steps.
    struct Seen {
        guint32 time = 0;
        guint keyval = 0;
        guint state = 0;
        guint16 keycode = 0;
        friend bool operator==(const Seen&, const Seen&) = default;
    } lastPress_;
    // Validation may spin the main loop, and the window (with this bar) may go meanwhile:
    // handlers keep a weak copy and stop once it has expired.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace kx
