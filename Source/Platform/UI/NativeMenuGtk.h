// The GTK widgets of one NativeMenu: its items built into a GtkMenuBar or GtkMenu (check items
// for a state, separators, submenus, accelerators in the given group), kept in step with the
// model for as long as this object lives. When the shell is a GtkMenu, its showing opens the
// model (delegate, then validation of the items) and its hiding closes it. An accelerator
// asks the model's validation ("can-activate-accel") before it fires. Choosing an item sends
// its action. Main thread only.
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

    // `accelGroup` may be nullptr (no accelerators, as in pop-up menus).
    NativeMenuGtk(std::shared_ptr<NativeMenu> menu, GtkMenuShell* shell, GtkAccelGroup* accelGroup);
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

private:
    struct Entry {
        NativeMenuGtk* owner = nullptr;
        std::shared_ptr<NativeMenuItem> item;
        GObjectRef<GtkWidget> widget;
        SignalConnection activate;
        SignalConnection canActivateAccel;
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

    static void activated(GtkMenuItem* widget, gpointer entry);
    static gboolean canActivateAccel(GtkWidget* widget, guint signal, gpointer entry);
    static void shown(GtkWidget* widget, gpointer self);
    static void hidden(GtkWidget* widget, gpointer self);

    std::shared_ptr<NativeMenu> menu_;
    GObjectRef<GtkMenuShell> shell_;
    GObjectRef<GtkAccelGroup> accelGroup_;
    NativeMenuGtk* parent_ = nullptr;
    ChoiceHandler choiceHandler_;
    std::vector<std::unique_ptr<Entry>> entries_;
    int observer_ = 0;
    SignalConnection show_;
    SignalConnection hide_;
    bool isOpen_ = false;
    bool syncing_ = false;
};

} // namespace kx
