#include "App/welcome/WelcomeWindowRecentsTableView.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "Platform/Foundation/MainQueue.h"
#include "Platform/UI/MenuPopup.h"
#include "Platform/UI/NativeMenu.h"
#include "Platform/UI/NativeMenuItem.h"
#include "Platform/UI/Workspace.h"

namespace kx {

namespace {

constexpr const char* styleClass = "kx-recents";

// The rows paint themselves: the theme's backgrounds, selection, focus ring and hover are
// taken away from this list alone.
void installStyle()
{
    static GObjectRef<GtkCssProvider> provider;
    GdkScreen* screen = gdk_screen_get_default();
    if (provider || !screen)
        return;
    provider = GObjectRef<GtkCssProvider>::adopt(gtk_css_provider_new());
    gtk_css_provider_load_from_data(provider.get(),
                                    "list.kx-recents, list.kx-recents row, list.kx-recents row:selected,"
                                    " list.kx-recents row:hover, list.kx-recents row:focus {"
                                    " background: none; border: none; box-shadow: none; outline: none;"
                                    " padding: 0; margin: 0; min-height: 0; }",
                                    -1, nullptr);
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider.get()),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

// Where a press lies in the top-level window of `widget`: the event's own coordinates belong
// to whichever window took it (the list's, a row's or the viewport's).
std::optional<Point> inToplevel(GtkWidget* widget, const GdkEventButton& event)
{
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
    GdkWindow* window = gtk_widget_get_window(toplevel);
    if (!window)
        return std::nullopt;
    int originX = 0, originY = 0;
    gdk_window_get_origin(window, &originX, &originY);
    return Point{event.x_root - originX, event.y_root - originY};
}

} // namespace

WelcomeWindowRecentsTableView::WelcomeWindowRecentsTableView()
    : View(gtk_list_box_new())
{
    installStyle();
    gtk_style_context_add_class(gtk_widget_get_style_context(widget()), styleClass);
    gtk_list_box_set_selection_mode(listBox(), GTK_SELECTION_BROWSE);
    gtk_list_box_set_activate_on_single_click(listBox(), FALSE);
    addAction(showInFinderAction, [this](Sender) { showInFinder(); });
    attachToWidget(widget());

    connect<void(GtkListBox*, GtkListBoxRow*)>("row-activated", [this](GtkListBox*, GtkListBoxRow* row) {
        if (welcomeWindow && row)
            welcomeWindow->handleDoubleClick(gtk_list_box_row_get_index(row));
    });
    // One stop of Tab, at the selected row; the arrow keys move from row to row.
    connect<gboolean(GtkWidget*, GtkDirectionType)>("focus", [this](GtkWidget* list, GtkDirectionType direction) -> gboolean {
        if (direction != GTK_DIR_TAB_FORWARD && direction != GTK_DIR_TAB_BACKWARD)
            return FALSE;
        if (gtk_widget_has_focus(list) || gtk_container_get_focus_child(GTK_CONTAINER(list))) {
            g_signal_stop_emission_by_name(list, "focus"); // on to the next control
            return FALSE;
        }
        GtkListBoxRow* selected = gtk_list_box_get_selected_row(listBox());
        if (!selected)
            return FALSE;
        gtk_widget_grab_focus(GTK_WIDGET(selected));
        return TRUE;
    });
    // The focus given to the list goes on to its selected row: the arrow keys start there, and a
    // screen reader reads the project, not an empty list.
    connect<gboolean(GtkWidget*, GdkEvent*)>("focus-in-event", [this](GtkWidget* list, GdkEvent*) -> gboolean {
        if (gtk_widget_has_focus(list))
            focusSelectedRow();
        return FALSE;
    });
    // Shift+F10 and the Menu key on a row: the row passes them on to the list.
    connect<gboolean(GtkWidget*)>("popup-menu", [this](GtkWidget*) -> gboolean { return menuForSelectedRow() != nullptr; });
    gtk_widget_add_events(widget(), GDK_BUTTON_PRESS_MASK);
    connect<gboolean(GtkWidget*, GdkEventButton*)>("button-press-event", [this](GtkWidget*, GdkEventButton* event) -> gboolean {
        if (event->type != GDK_BUTTON_PRESS || event->button != GDK_BUTTON_SECONDARY)
            return FALSE;
        const std::optional<Point> at = inToplevel(widget(), *event);
        int x = 0, y = 0;
        if (at && gtk_widget_translate_coordinates(gtk_widget_get_toplevel(widget()), widget(), int(at->x),
                                                   int(at->y), &x, &y))
            menuForEvent(y, event);
        return TRUE;
    });
    // After the list's own handling: a press on the list never reaches the window, which would
    // take it to move itself.
    connect<gboolean(GtkWidget*, GdkEventButton*)>(
        "button-press-event", [](GtkWidget*, GdkEventButton* event) -> gboolean { return event->button == GDK_BUTTON_PRIMARY; },
        G_CONNECT_AFTER);
}

WelcomeWindowRecentsTableView::~WelcomeWindowRecentsTableView()
{
    build_.reset();
    attachToWidget(nullptr);
    rows_.clear();
}

void WelcomeWindowRecentsTableView::reloadData()
{
    build_ = std::make_shared<int>(0);
    rows_.clear(); // each row leaves the list as it goes
    rowCount_ = 0;
    if (!welcomeWindow)
        return;
    rowCount_ = std::max(welcomeWindow->numberOfRows(), 0);
    rows_.reserve(std::size_t(rowCount_));
    buildRows(std::min(rowCount_, rowsBuiltAtOnce));
    if (int(rows_.size()) < rowCount_) {
        MainQueue::whenIdle([this, build = std::weak_ptr<int>(build_)] {
            if (!build.expired())
                finishRows();
        });
    }
}

void WelcomeWindowRecentsTableView::finishRows()
{
    build_ = std::make_shared<int>(0);
    buildRows(rowCount_);
}

void WelcomeWindowRecentsTableView::buildRows(int end)
{
    for (int row = int(rows_.size()); row < end && welcomeWindow; ++row) {
        std::unique_ptr<WelcomeWindowRecentsRowBackgroundView> background = welcomeWindow->rowViewForRow(row);
        background->setCell(welcomeWindow->viewForRow(row));
        gtk_list_box_insert(listBox(), background->widget(), -1);
        gtk_widget_show(background->widget());
        rows_.push_back(std::move(background));
    }
}

WelcomeWindowRecentsRowBackgroundView* WelcomeWindowRecentsTableView::rowView(int row) const
{
    return row >= 0 && std::size_t(row) < rows_.size() ? rows_[std::size_t(row)].get() : nullptr;
}

int WelcomeWindowRecentsTableView::selectedRow() const
{
    GtkListBoxRow* row = gtk_list_box_get_selected_row(listBox());
    return row ? gtk_list_box_row_get_index(row) : -1;
}

void WelcomeWindowRecentsTableView::selectRow(int row)
{
    WelcomeWindowRecentsRowBackgroundView* view = rowView(row);
    if (!view)
        return;
    const bool hasKeys = gtk_widget_has_focus(widget()) || gtk_container_get_focus_child(GTK_CONTAINER(widget()));
    gtk_list_box_select_row(listBox(), view->row());
    if (hasKeys)
        gtk_widget_grab_focus(GTK_WIDGET(view->row()));
}

bool WelcomeWindowRecentsTableView::focusSelectedRow()
{
    GtkListBoxRow* selected = gtk_list_box_get_selected_row(listBox());
    if (!selected)
        return false;
    gtk_widget_grab_focus(GTK_WIDGET(selected));
    return true;
}

int WelcomeWindowRecentsTableView::rowAtY(double y) const
{
    GtkListBoxRow* row = gtk_list_box_get_row_at_y(listBox(), int(std::floor(y)));
    return row ? gtk_list_box_row_get_index(row) : -1;
}

std::shared_ptr<NativeMenu> WelcomeWindowRecentsTableView::menuForEvent(double y, const GdkEventButton* event)
{
    std::optional<Rect> at;
    if (std::optional<Point> point = event ? inToplevel(widget(), *event) : std::nullopt)
        at = Rect{*point, {1, 1}};
    return showMenu(rowAtY(y), at);
}

std::shared_ptr<NativeMenu> WelcomeWindowRecentsTableView::menuForSelectedRow()
{
    const int row = selectedRow();
    WelcomeWindowRecentsRowBackgroundView* view = rowView(row);
    if (!view)
        return nullptr;
    GtkWidget* rowWidget = view->widget();
    int x = 0, y = 0;
    if (!gtk_widget_translate_coordinates(rowWidget, gtk_widget_get_toplevel(rowWidget), 0, 0, &x, &y))
        return showMenu(row, std::nullopt);
    return showMenu(row, Rect{{double(x), double(y)},
                              {double(gtk_widget_get_allocated_width(rowWidget)), double(gtk_widget_get_allocated_height(rowWidget))}});
}

std::shared_ptr<NativeMenu> WelcomeWindowRecentsTableView::showMenu(int row, std::optional<Rect> at)
{
    if (row < 0 || !welcomeWindow || !welcomeWindow->shouldSelectRow(row))
        return nullptr;
    selectRow(row);
    auto menu = NativeMenu::make(menuTitle);
    auto item = NativeMenuItem::make(showInFinderTitle, showInFinderAction, "");
    item->setTarget(this);
    menu->insertItem(item, 0);
    MenuPopup::popUp(menu, widget(), at, [](std::shared_ptr<NativeMenuItem>) {});
    return menu;
}

void WelcomeWindowRecentsTableView::showInFinder()
{
    if (!welcomeWindow)
        return;
    WelcomeWindowRecentsTableView* table = welcomeWindow->recentsTableView();
    if (!table)
        return;
    const int index = table->selectedRow();
    const auto& documents = welcomeWindow->recentDocuments();
    if (index >= 0 && std::size_t(index) < documents.size())
        Workspace::shared().revealFile(documents[std::size_t(index)]);
}

} // namespace kx
