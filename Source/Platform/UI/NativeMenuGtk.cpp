#include "Platform/UI/NativeMenuGtk.h"

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/UI/ResponderChain.h"

namespace kx {

namespace {

int& openingDepth()
{
    static int depth = 0;
    return depth;
}

std::vector<std::function<void()>>& workAfterOpening()
{
    static std::vector<std::function<void()>> work;
    return work;
}

void runWorkAfterOpening()
{
    // An opening that began before this turn came schedules the work again when it ends.
    if (openingDepth() > 0)
        return;
    auto work = std::move(workAfterOpening());
    workAfterOpening().clear();
    for (auto& step : work)
        step();
}

} // namespace

bool NativeMenuGtk::isOpening()
{
    return openingDepth() > 0;
}

void NativeMenuGtk::afterOpening(std::function<void()> work)
{
    if (!isOpening()) {
        work();
        return;
    }
    workAfterOpening().push_back(std::move(work));
}

void NativeMenuGtk::open()
{
    if (isOpen_)
        return;
    isOpen_ = true;
    auto menu = menu_;
    struct Opening {
        Opening() { ++openingDepth(); }
        ~Opening()
        {
            if (--openingDepth() == 0 && !workAfterOpening().empty())
                MainQueue::async(&runWorkAfterOpening);
        }
    } opening;
    menu->menuWillOpen();
}

void NativeMenuGtk::close()
{
    if (!isOpen_)
        return;
    isOpen_ = false;
    auto menu = menu_;
    menu->menuDidClose();
}

NativeMenuGtk::NativeMenuGtk(std::shared_ptr<NativeMenu> menu, GtkMenuShell* shell, GtkAccelGroup* accelGroup,
                             bool showsKeyEquivalents)
    : menu_(std::move(menu))
    , shell_(GObjectRef<GtkMenuShell>::retain(shell))
    , accelGroup_(GObjectRef<GtkAccelGroup>::retain(accelGroup))
    , showsKeyEquivalents_(showsKeyEquivalents || accelGroup)
{
    observer_ = menu_->addObserver([this](NativeMenuItem* item) { modelChanged(item); });
    // Presses and crossings of the items reach their shell before GTK acts on them, also when
    // an open menu holds the grab and passes them on to the bar.
    buttonPress_ = SignalConnection(shell, "button-press-event", G_CALLBACK(&NativeMenuGtk::pointerReached), this);
    enterNotify_ = SignalConnection(shell, "enter-notify-event", G_CALLBACK(&NativeMenuGtk::pointerReached), this);
    buttonRelease_ = SignalConnection(shell, "button-release-event", G_CALLBACK(&NativeMenuGtk::pointerReleased), this);
    activateCurrent_ = SignalConnection(shell, "activate-current", G_CALLBACK(&NativeMenuGtk::activateCurrent), this);
    if (GTK_IS_MENU(shell)) {
        show_ = SignalConnection(shell, "show", G_CALLBACK(&NativeMenuGtk::shown), this);
        hide_ = SignalConnection(shell, "hide", G_CALLBACK(&NativeMenuGtk::hidden), this);
    }
    rebuild();
}

NativeMenuGtk::~NativeMenuGtk()
{
    menu_->removeObserver(observer_);
    buttonPress_.disconnect();
    enterNotify_.disconnect();
    buttonRelease_.disconnect();
    activateCurrent_.disconnect();
    show_.disconnect();
    hide_.disconnect();
    for (auto& entry : entries_)
        destroyWidget(*entry);
    entries_.clear();
    // A menu torn down while it shows still closes, so whoever counts open menus is not left
    // waiting for a close that never comes.
    if (isOpen_)
        menu_->menuDidClose();
}

GtkWidget* NativeMenuGtk::widgetForItem(const NativeMenuItem* item) const
{
    for (auto& entry : entries_) {
        if (entry->item.get() == item)
            return entry->widget.get();
        if (entry->submenu) {
            if (GtkWidget* widget = entry->submenu->widgetForItem(item))
                return widget;
        }
    }
    return nullptr;
}

const NativeMenuGtk* NativeMenuGtk::realisationOf(const NativeMenu* menu) const
{
    if (menu_.get() == menu)
        return this;
    for (auto& entry : entries_) {
        if (entry->submenu) {
            if (auto* found = entry->submenu->realisationOf(menu))
                return found;
        }
    }
    return nullptr;
}

void NativeMenuGtk::rebuild()
{
    for (auto& entry : entries_)
        destroyWidget(*entry);
    entries_.clear();
    int position = 0;
    for (auto& item : menu_->items()) {
        auto entry = std::make_unique<Entry>();
        entry->owner = this;
        entry->item = item;
        createWidget(*entry, position++);
        entries_.push_back(std::move(entry));
    }
}

void NativeMenuGtk::modelChanged(NativeMenuItem* item)
{
    if (!item) {
        rebuild();
        return;
    }
    for (auto& entry : entries_) {
        if (entry->item.get() == item) {
            sync(*entry);
            return;
        }
    }
}

int NativeMenuGtk::positionOf(const Entry& entry) const
{
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].get() == &entry)
            return int(i);
    }
    return int(entries_.size());
}

void NativeMenuGtk::createWidget(Entry& entry, int position)
{
    const NativeMenuItem& item = *entry.item;
    GtkWidget* widget = nullptr;
    if (item.isSeparatorItem()) {
        widget = gtk_separator_menu_item_new();
    } else {
        // Plain items have no check box; one appears only while the item has a state.
        entry.isCheck = item.state() != NativeMenuItem::State::off && !item.hasSubmenu();
        widget = entry.isCheck ? gtk_check_menu_item_new_with_label(item.title().c_str())
                               : gtk_menu_item_new_with_label(item.title().c_str());
        entry.activate = SignalConnection(widget, "activate", G_CALLBACK(&NativeMenuGtk::activated), &entry);
        entry.deselect = SignalConnection(widget, "deselect", G_CALLBACK(&NativeMenuGtk::deselected), &entry,
                                          G_CONNECT_AFTER);
        entry.canActivateAccel =
            SignalConnection(widget, "can-activate-accel", G_CALLBACK(&NativeMenuGtk::canActivateAccel), &entry);
    }
    entry.widget = GObjectRef<GtkWidget>::sink(widget);
    // Owners may show their windows with gtk_widget_show_all; hidden items must stay hidden.
    gtk_widget_set_no_show_all(widget, TRUE);
    gtk_menu_shell_insert(shell_.get(), widget, position);
    sync(entry);
}

void NativeMenuGtk::destroyWidget(Entry& entry)
{
    if (!entry.widget)
        return;
    entry.submenu.reset();
    entry.submenuModel.reset();
    entry.activate.disconnect();
    entry.canActivateAccel.disconnect();
    entry.deselect.disconnect();
    if (entry.accelerator && accelGroup_)
        gtk_widget_remove_accelerator(entry.widget.get(), accelGroup_.get(), entry.accelerator->keyval,
                                      entry.accelerator->modifiers);
    entry.accelerator.reset();
    gtk_widget_destroy(entry.widget.get());
    entry.widget.reset();
}

void NativeMenuGtk::sync(Entry& entry)
{
    const NativeMenuItem& item = *entry.item;
    if (!item.isSeparatorItem()) {
        const bool wantsCheck = item.state() != NativeMenuItem::State::off && !item.hasSubmenu();
        if (wantsCheck != entry.isCheck) {
            const int position = positionOf(entry);
            destroyWidget(entry);
            createWidget(entry, position);
            return;
        }
        gtk_menu_item_set_label(GTK_MENU_ITEM(entry.widget.get()), item.title().c_str());
        syncCheck(entry);
        gtk_widget_set_sensitive(entry.widget.get(), item.isEnabled());
        syncSubmenu(entry);
        syncAccelerator(entry);
    }
    gtk_widget_set_visible(entry.widget.get(), !item.isHidden());
}

void NativeMenuGtk::syncCheck(Entry& entry)
{
    if (!entry.isCheck)
        return;
    // Setting the check mark emits "activate"; that is not a choice of the user.
    syncing_ = true;
    auto* check = GTK_CHECK_MENU_ITEM(entry.widget.get());
    gtk_check_menu_item_set_active(check, entry.item->state() == NativeMenuItem::State::on);
    gtk_check_menu_item_set_inconsistent(check, entry.item->state() == NativeMenuItem::State::mixed);
    syncing_ = false;
}

void NativeMenuGtk::syncAccelerator(Entry& entry)
{
    const NativeMenuItem& item = *entry.item;
    std::optional<GtkAccelerator> wanted;
    if (showsKeyEquivalents_ && !item.hasSubmenu())
        wanted = GtkAccelerator::from(item.keyEquivalent(), item.keyEquivalentModifierMask());
    if (wanted == entry.accelerator)
        return;
    if (!accelGroup_) {
        // Shown, never fired from here.
        entry.accelerator = wanted;
        if (GtkWidget* label = gtk_bin_get_child(GTK_BIN(entry.widget.get())); GTK_IS_ACCEL_LABEL(label))
            gtk_accel_label_set_accel(GTK_ACCEL_LABEL(label), wanted ? wanted->keyval : 0,
                                      wanted ? wanted->modifiers : GdkModifierType(0));
        return;
    }
    if (entry.accelerator)
        gtk_widget_remove_accelerator(entry.widget.get(), accelGroup_.get(), entry.accelerator->keyval,
                                      entry.accelerator->modifiers);
    entry.accelerator = wanted;
    if (wanted)
        gtk_widget_add_accelerator(entry.widget.get(), "activate", accelGroup_.get(), wanted->keyval, wanted->modifiers,
                                   GTK_ACCEL_VISIBLE);
}

void NativeMenuGtk::syncSubmenu(Entry& entry)
{
    const auto& model = entry.item->submenu();
    if (model == entry.submenuModel)
        return;
    entry.submenu.reset();
    entry.submenuModel = model;
    if (!model) {
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(entry.widget.get()), nullptr);
        return;
    }
    GtkWidget* submenu = gtk_menu_new();
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(entry.widget.get()), submenu);
    entry.submenu = std::make_unique<NativeMenuGtk>(model, GTK_MENU_SHELL(submenu), accelGroup_.get(), showsKeyEquivalents_);
    entry.submenu->parent_ = this;
}

void NativeMenuGtk::choose(const std::shared_ptr<NativeMenuItem>& item)
{
    NativeMenuGtk* root = this;
    while (root->parent_)
        root = root->parent_;
    if (root->choiceHandler_) {
        auto handler = root->choiceHandler_;
        handler(*item);
    }
    // The action may tear down this realisation (a window that closes): nothing of it is
    // touched afterwards.
    ResponderChain::shared().sendAction(item->action(), item->target(), item.get());
}

void NativeMenuGtk::activated(GtkMenuItem*, gpointer data)
{
    auto& entry = *static_cast<Entry*>(data);
    NativeMenuGtk* self = entry.owner;
    if (self->syncing_ || entry.item->hasSubmenu())
        return;
    // GTK toggled the check box itself; the model's state is what it shows.
    self->syncCheck(entry);
    self->choose(std::shared_ptr<NativeMenuItem>(entry.item));
}

gboolean NativeMenuGtk::canActivateAccel(GtkWidget* widget, guint, gpointer data)
{
    // The model alone decides: GTK's own check (is the widget on screen?) is never asked,
    // since an answer of either kind ends the emission here. Validation may spin the main
    // loop, in which this entry can go: keep the item alone.
    std::shared_ptr<NativeMenuItem> item = static_cast<Entry*>(data)->item;
    NativeMenu* menu = item->menu();
    if (menu && menu->validateItem(*item))
        return TRUE;
    g_signal_stop_emission_by_name(widget, "can-activate-accel");
    return FALSE;
}

gboolean NativeMenuGtk::pointerReached(GtkWidget* shell, GdkEvent* event, gpointer data)
{
    // Runs before GTK handles the event that pops a submenu up: a press on an item of the bar,
    // or the pointer entering an item of an active bar or of a menu on screen.
    auto* self = static_cast<NativeMenuGtk*>(data);
    GtkWidget* widget = gtk_get_event_widget(event);
    Entry* entry = nullptr;
    for (auto& candidate : self->entries_) {
        if (candidate->widget == widget)
            entry = candidate.get();
    }
    NativeMenuGtk* submenu = entry ? entry->submenu.get() : nullptr;
    if (!submenu || submenu->isOpen_ || !gtk_widget_is_sensitive(widget))
        return FALSE;
    bool reached = false;
    if (event->type == GDK_BUTTON_PRESS) {
        reached = event->button.button == GDK_BUTTON_PRIMARY;
    } else if (GTK_IS_MENU(shell)) {
        reached = gtk_widget_get_mapped(shell);
    } else {
        // Crossing a bar pops a menu up only while one of its menus is on screen.
        for (auto& candidate : self->entries_) {
            if (candidate->submenu && gtk_widget_get_visible(GTK_WIDGET(candidate->submenu->shell_.get())))
                reached = true;
        }
    }
    if (!reached)
        return FALSE;
    const auto item = GObjectRef<GtkWidget>::retain(widget);
    const std::weak_ptr<int> alive = submenu->alive_;
    submenu->open();
    // Should GTK not select the item after all (the menu went meanwhile), nothing pops up and
    // the model closes again.
    MainQueue::async([submenu, alive, item] {
        GtkWidget* parent = gtk_widget_get_parent(item.get());
        if (!alive.expired() && !gtk_widget_get_visible(GTK_WIDGET(submenu->shell_.get()))
            && (!GTK_IS_MENU_SHELL(parent) || gtk_menu_shell_get_selected_item(GTK_MENU_SHELL(parent)) != item.get()))
            submenu->close();
    });
    return FALSE;
}

NativeMenuGtk::Entry* NativeMenuGtk::entryForWidget(GtkWidget* widget) const
{
    for (auto& candidate : entries_) {
        if (widget && candidate->widget == widget)
            return candidate.get();
        if (candidate->submenu) {
            if (Entry* found = candidate->submenu->entryForWidget(widget))
                return found;
        }
    }
    return nullptr;
}

bool NativeMenuGtk::chooseItemWithSubmenu(Entry& entry)
{
    const auto item = entry.item;
    GtkWidget* widget = entry.widget.get();
    if (!item->hasSubmenu() || !item->sendsActionWithSubmenu() || item->action().empty() || !widget
        || !gtk_widget_is_sensitive(widget))
        return false;
    // As GTK ends a choice: the menus close, the action goes, then the top menu says its
    // selection is done. The action may tear down this realisation; the top menu is kept.
    NativeMenuGtk* root = this;
    while (root->parent_)
        root = root->parent_;
    const auto top = GObjectRef<GtkMenuShell>::retain(root->shell_.get());
    gtk_menu_shell_deactivate(top.get());
    choose(item);
    g_signal_emit_by_name(top.get(), "selection-done");
    return true;
}

gboolean NativeMenuGtk::pointerReleased(GtkWidget*, GdkEventButton* event, gpointer data)
{
    // GTK keeps a menu open when its item with a submenu is clicked; an item that sends its
    // action with its submenu is chosen instead.
    // The menu that holds the grab has the release first, whichever item of the chain it is
    // on: any item of the chain is looked for.
    auto* self = static_cast<NativeMenuGtk*>(data);
    if (event->button != GDK_BUTTON_PRIMARY)
        return FALSE;
    NativeMenuGtk* root = self;
    while (root->parent_)
        root = root->parent_;
    Entry* entry = root->entryForWidget(gtk_get_event_widget(reinterpret_cast<GdkEvent*>(event)));
    return entry && entry->owner->chooseItemWithSubmenu(*entry);
}

void NativeMenuGtk::activateCurrent(GtkMenuShell* shell, gboolean, gpointer data)
{
    // Return on such an item chooses it; the Right arrow key opens its submenu.
    auto* self = static_cast<NativeMenuGtk*>(data);
    Entry* entry = self->entryForWidget(gtk_menu_shell_get_selected_item(shell));
    if (!entry || !entry->item->sendsActionWithSubmenu() || !entry->item->hasSubmenu() || entry->item->action().empty())
        return;
    g_signal_stop_emission_by_name(shell, "activate-current");
    entry->owner->chooseItemWithSubmenu(*entry);
}

void NativeMenuGtk::deselected(GtkMenuItem*, gpointer data)
{
    // Opened ahead, but the pointer moved on before the delayed pop-up came.
    NativeMenuGtk* submenu = static_cast<Entry*>(data)->submenu.get();
    if (submenu && !gtk_widget_get_visible(GTK_WIDGET(submenu->shell_.get())))
        submenu->close();
}

void NativeMenuGtk::shown(GtkWidget*, gpointer data)
{
    auto* self = static_cast<NativeMenuGtk*>(data);
    if (self->isOpen_)
        return;
    // Reached from the keyboard: GTK is in the middle of popping the menu up, where the main
    // loop must not turn (something could close the menu meanwhile). It opens on the next turn.
    MainQueue::async([self, alive = std::weak_ptr<int>(self->alive_)] {
        if (!alive.expired() && gtk_widget_get_visible(GTK_WIDGET(self->shell_.get())))
            self->open();
    });
}

void NativeMenuGtk::hidden(GtkWidget*, gpointer data)
{
    static_cast<NativeMenuGtk*>(data)->close();
}

} // namespace kx
