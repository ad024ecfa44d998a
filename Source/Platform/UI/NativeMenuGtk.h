// The GTK widgets of one NativeMenu: its items built into a GtkMenuBar or GtkMenu (check items
// for a state, separators, submenus, accelerators in the given group), kept in step with the
// model for as long as this object lives. When the shell is a GtkMenu, its showing opens the
// model (delegate, then validation of the items) and its hiding closes it. Validation may wait
// on the main loop for a page, and GTK must not be in the middle of a pop-up then: a submenu
// opens ahead, when the pointer presses or enters its item, before GTK pops it up; one reached
// otherwise (from the keyboard) opens on the main loop's turn after its showing. An accelerator
// asks the model's validation ("can-activate-accel") before it fires. Choosing an item sends
// its action; so does a click on an item that sends its action with its submenu. Main thread
// only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <gtk/gtk.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/GtkAccelerator.h"
#include "Platform/UI/NativeMenu.h"

namespace kx {

class NativeMenuGtk {
public:
    // Called with the chosen item just before its action is sent, on the top realisation.
    using ChoiceHandler = std::function<void(NativeMenuItem& item)>;

    // `accelGroup` may be nullptr (no accelerators, as in pop-up menus). Without a group the
    // items show their key equivalents only when `showsKeyEquivalents` (a window's menu popped
    // up from a button, whose keys the window's bar fires).
    NativeMenuGtk(std::shared_ptr<NativeMenu> menu, GtkMenuShell* shell, GtkAccelGroup* accelGroup,
                  bool showsKeyEquivalents = false);
    ~NativeMenuGtk();
    NativeMenuGtk(const NativeMenuGtk&) = delete;
    NativeMenuGtk& operator=(const NativeMenuGtk&) = delete;

    const std::shared_ptr<NativeMenu>& menu() const { return menu_; }
    GtkMenuShell* shell() const { return shell_.get(); }
    void setChoiceHandler(ChoiceHandler handler) { choiceHandler_ = std::move(handler); }

    // The widget that shows `item` here or in a submenu, nullptr when none.
    GtkWidget* widgetForItem(const NativeMenuItem* item) const;
    // The realisation of `menu` here or below, nullptr when none.
    const NativeMenuGtk* realisationOf(const NativeMenu* menu) const;

    // Opens the model now, as showing the menu would; the showing that follows opens nothing
    // again, and its hiding closes it. Validation may spin the main loop: afterwards the caller
    // checks that what it is about to pop the menu up over is still there. This object may be
    // gone on return.
    void open();
    bool isOpen() const { return isOpen_; }

    // True while a menu opens. GTK may open a menu from inside its pop-up and go on using the
    // menu, its parents and their window once the opening returns, so none of them may be
    // destroyed meanwhile: owners of windows defer that with `afterOpening`.
    static bool isOpening();
    // Runs `work` now when no menu is opening, else on the main loop's next turn after the
    // last opening ended, when GTK's pop-up has returned.
    static void afterOpening(std::function<void()> work);

private:
    struct Entry {
        NativeMenuGtk* owner = nullptr;
        std::shared_ptr<NativeMenuItem> item;
        GObjectRef<GtkWidget> widget;
        SignalConnection activate;
        SignalConnection canActivateAccel;
        SignalConnection deselect;
        bool isCheck = false;
        std::optional<GtkAccelerator> accelerator;
        std::shared_ptr<NativeMenu> submenuModel;
        std::unique_ptr<NativeMenuGtk> submenu;
    };

    void rebuild();
    void modelChanged(NativeMenuItem* item);
    void createWidget(Entry& entry, int position);
    void destroyWidget(Entry& entry);
    void sync(Entry& entry);
    void syncCheck(Entry& entry);
    void syncAccelerator(Entry& entry);
    void syncSubmenu(Entry& entry);
    void choose(const std::shared_ptr<NativeMenuItem>& item);
    int positionOf(const Entry& entry) const;

    void close();
    // The entry of `widget` here or in a submenu.
    Entry* entryForWidget(GtkWidget* widget) const;
    // The item itself of one that sends its action with its submenu: true when it was chosen.
    bool chooseItemWithSubmenu(Entry& entry);
    static gboolean pointerReached(GtkWidget* shell, GdkEvent* event, gpointer self);
    static gboolean pointerReleased(GtkWidget* shell, GdkEventButton* event, gpointer self);
    static void activateCurrent(GtkMenuShell* shell, gboolean forceHide, gpointer self);
    static void deselected(GtkMenuItem* widget, gpointer entry);
    static void activated(GtkMenuItem* widget, gpointer entry);
    static gboolean canActivateAccel(GtkWidget* widget, guint signal, gpointer entry);
    static void shown(GtkWidget* widget, gpointer self);
    static void hidden(GtkWidget* widget, gpointer self);

    std::shared_ptr<NativeMenu> menu_;
    GObjectRef<GtkMenuShell> shell_;
    GObjectRef<GtkAccelGroup> accelGroup_;
    bool showsKeyEquivalents_ = false;
    NativeMenuGtk* parent_ = nullptr;
    ChoiceHandler choiceHandler_;
    std::vector<std::unique_ptr<Entry>> entries_;
    int observer_ = 0;
    SignalConnection show_;
    SignalConnection hide_;
    SignalConnection buttonPress_;
    SignalConnection enterNotify_;
    SignalConnection buttonRelease_;
    SignalConnection activateCurrent_;
    bool isOpen_ = false;
    bool syncing_ = false;
    // Validation spins the main loop, in which this object may go.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace kx
