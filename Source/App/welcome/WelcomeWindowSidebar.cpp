// The start window's sidebar: the recent documents, the buttons below them and the close
// button, and opening from the list.
#include "App/welcome/WelcomeWindow.h"

#include <cmath>

#include "App/shell/AppAppearance.h"
#include "App/welcome/WelcomeDocumentHook.h"

namespace kx {

namespace {

void setSource(cairo_t* cr, const Color& color)
{
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
}

// Puts `child` at `frame`, or moves it there when it is there already.
void place(GtkFixed* parent, GtkWidget* child, const Rect& frame)
{
    gtk_widget_set_size_request(child, int(std::lround(frame.size.width)), int(std::lround(frame.size.height)));
    const int x = int(std::lround(frame.origin.x));
    const int y = int(std::lround(frame.origin.y));
    if (gtk_widget_get_parent(child) == GTK_WIDGET(parent))
        gtk_fixed_move(parent, child, x, y);
    else
        gtk_fixed_put(parent, child, x, y);
    gtk_widget_show(child);
}

} // namespace

void WelcomeWindow::addRecentsSidebar(bool)
{
    // Only the box's left line shows, as the separator between page and sidebar: the rest of
    // its border lies past the window's edges.
    sidebarBox_ = GObjectRef<GtkWidget>::sink(gtk_drawing_area_new());
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, cairo_t*)>(
        sidebarBox_.get(), "draw", [this](GtkWidget* box, cairo_t* cr) -> gboolean {
            setSource(cr, boxFill_);
            cairo_paint(cr);
            setSource(cr, boxBorder_);
            cairo_rectangle(cr, 0, 0, 1, gtk_widget_get_allocated_height(box));
            cairo_fill(cr);
            return FALSE;
        }));

    scrollView_ = GTK_SCROLLED_WINDOW(gtk_scrolled_window_new(nullptr, nullptr));
    gtk_scrolled_window_set_policy(scrollView_, GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_overlay_scrolling(scrollView_, TRUE);
    gtk_scrolled_window_set_shadow_type(scrollView_, GTK_SHADOW_NONE);
    // The list is the stop of Tab, at its selected row; a scroll view takes the focus itself
    // when its list has none to take, an empty stop with nothing to announce.
    gtk_widget_set_can_focus(GTK_WIDGET(scrollView_), FALSE);
    gtk_style_context_add_class(gtk_widget_get_style_context(GTK_WIDGET(scrollView_)), "kx-recents");

    recentsTableView_ = std::make_unique<WelcomeWindowRecentsTableView>();
    recentsTableView_->welcomeWindow = this;
    gtk_container_add(GTK_CONTAINER(scrollView_), recentsTableView_->widget());
    if (GtkWidget* viewport = gtk_bin_get_child(GTK_BIN(scrollView_)); GTK_IS_VIEWPORT(viewport)) {
        gtk_viewport_set_shadow_type(GTK_VIEWPORT(viewport), GTK_SHADOW_NONE);
        gtk_style_context_add_class(gtk_widget_get_style_context(viewport), "kx-recents");
        gtk_widget_show(viewport);
    }
    gtk_widget_show(recentsTableView_->widget());
    // The rows come with the list, read when the window is shown or reloaded.

    bottomBar_ = GObjectRef<GtkWidget>::sink(gtk_fixed_new());
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, cairo_t*)>(
        bottomBar_.get(), "draw", [this](GtkWidget*, cairo_t* cr) -> gboolean {
            setSource(cr, boxFill_);
            cairo_paint(cr);
            setSource(cr, lineColor_);
            const double width = layout_.sidebarWidth;
            const double height = layout_.barHeight;
            cairo_rectangle(cr, 0, 0, 1, height);                   // the sidebar's left line
            cairo_rectangle(cr, 0, 0, width, 1);                    // above the buttons
            cairo_rectangle(cr, std::floor(width / 2), 0, 1, height); // between them
            cairo_fill(cr);
            return FALSE; // then the buttons
        }));

    openButton_ = std::make_unique<WelcomeWindowButton>("Open\u2026");
    openButton_->setAction([this] { openFile(); });
    newButton_ = std::make_unique<WelcomeWindowButton>("New");
    newButton_->setAction([this] { newPrototype(); });
    layoutSidebar();

    gtk_widget_set_can_focus(recentsTableView_->widget(), TRUE);
    recentsTableView_->focusSelectedRow();

    updateRecentsAppearance();
    AppAppearance::shared().observeHandlers.push_back([this, alive = std::weak_ptr<int>(alive_)] {
        if (!alive.expired())
            updateRecentsAppearance();
    });
}

void WelcomeWindow::layoutSidebar()
{
    const WelcomeWindowLayout& layout = layout_;
    GtkFixed* content = flippedContentView();
    place(content, sidebarBox_.get(), layout.sidebarBox);
    place(content, GTK_WIDGET(scrollView_), layout.scrollView);
    place(content, bottomBar_.get(), layout.bottomBar);
    openButton_->placeIn(GTK_FIXED(bottomBar_.get()), layout.openButton);
    gtk_widget_show(openButton_->widget());
    newButton_->placeIn(GTK_FIXED(bottomBar_.get()), layout.newButton);
    gtk_widget_show(newButton_->widget());
}

void WelcomeWindow::layoutCloseButton()
{
    placeAbove(closeButton_->widget(), layout_.closeButton);
    gtk_widget_show(closeButton_->widget());
    // The main menu's button faces it, at the right end of the strip.
    if (ImageMouseOverButton* menu = menuButton()) {
        placeAbove(menu->widget(), layout_.menuButton);
        gtk_widget_show(menu->widget());
    }
}

void WelcomeWindow::layoutViews()
{
    setContentSize(layout_.window);
    layoutSidebar();
    layoutPage();
    layoutCloseButton();
    // The rows and the notice are made for the layout they join.
    if (noRecentDocumentsView_ && recentsTableView_) {
        gtk_list_box_set_placeholder(recentsTableView_->listBox(), nullptr);
        noRecentDocumentsView_.reset();
        noRecentDocumentsHolder_ = {};
    }
    if (recentsTableView_ && recentsTableView_->numberOfRows() > 0)
        recentsTableView_->reloadData();
    showOrHideNoRecentFileInfo();
}

void WelcomeWindow::updateRecentsAppearance()
{
    const bool isDark = AppAppearance::shared().isDark();
    boxFill_ = Color::colorWithHexColorString(isDark ? "222222" : "F9F9F9");
    const Color title = Color::colorWithHexColorString(isDark ? "FFFFFF" : "1D1D1F");
    openButton_->setTitle(openButton_->title(), title);
    newButton_->setTitle(newButton_->title(), title);
    boxBorder_ = Color::colorWithHexColorString(isDark ? "333333" : "EAEAEA");
    lineColor_ = boxBorder_;
    gtk_widget_queue_draw(sidebarBox_.get());
    gtk_widget_queue_draw(bottomBar_.get());
    // The rows paint in the new colours.
    gtk_widget_queue_draw(recentsTableView_->widget());
}

void WelcomeWindow::addCloseButton()
{
    closeButton_ = std::make_unique<ImageMouseOverButton>("close");
    closeButton_->setAction([this] { close(); });
    closeButton_->setAccessibleName("Close");
    layoutCloseButton();
    updateCloseAppearance();
    AppAppearance::shared().observeHandlers.push_back([this, alive = std::weak_ptr<int>(alive_)] {
        if (!alive.expired())
            updateCloseAppearance();
    });
}

void WelcomeWindow::updateCloseAppearance()
{
    const bool isDark = AppAppearance::shared().isDark();
    closeButton_->setTintColor(Color::colorWithHexColorString(isDark ? "666666" : "BBBBBB"));
    closeButton_->setHighlightTintColor(Color::colorWithHexColorString(isDark ? "888888" : "666666"));
}

void WelcomeWindow::loadRecentFiles()
{
    std::vector<std::filesystem::path> existing = existingDocuments(recentDocumentsSource_());
    const bool changed = existing != recentDocuments_;
    recentDocuments_ = std::move(existing);
    if (recentDocuments_.empty() || !recentsTableView_)
        return;
    // The rows are made once for a list; the same list keeps its rows and the row the user
    // chose: the window becomes active again after a row's menu or the file manager that
    // "Show in Files" opened, and Return must still open that row's project.
    if (changed || recentsTableView_->numberOfRows() != numberOfRows())
        recentsTableView_->reloadData();
    if (recentsTableView_->selectedRow() < 0)
        recentsTableView_->selectRow(0);
}

std::vector<std::filesystem::path> WelcomeWindow::existingDocuments(std::vector<std::filesystem::path> documents)
{
    std::erase_if(documents, [](const std::filesystem::path& path) {
        std::error_code error;
        return !std::filesystem::exists(path, error);
    });
    return documents;
}

void WelcomeWindow::reloadRecentFiles()
{
    listReadForShowing_.reset();
    loadRecentFiles();
    showRecentFiles();
}

void WelcomeWindow::showRecentFiles()
{
    if (recentsTableView_ && recentsTableView_->numberOfRows() != numberOfRows())
        recentsTableView_->reloadData();
    showOrHideNoRecentFileInfo();
}

void WelcomeWindow::showOrHideNoRecentFileInfo()
{
    if (!recentsTableView_)
        return;
    if (recentDocuments_.empty() && !noRecentDocumentsView_) {
        // In the list's place while it has no rows; the list shows and hides it.
        const Rect frame = layout_.noRecentDocuments;
        noRecentDocumentsView_ = std::make_unique<WelcomeWindowNoRecentDocumentsView>(frame, layout_.scale);
        noRecentDocumentsHolder_ = GObjectRef<GtkWidget>::retain(gtk_fixed_new());
        gtk_fixed_put(GTK_FIXED(noRecentDocumentsHolder_.get()), noRecentDocumentsView_->widget(),
                      int(std::lround(frame.origin.x)), int(std::lround(frame.origin.y)));
        gtk_widget_show(noRecentDocumentsView_->widget());
        gtk_widget_show(noRecentDocumentsHolder_.get());
        gtk_list_box_set_placeholder(recentsTableView_->listBox(), noRecentDocumentsHolder_.get());
    }
}

void WelcomeWindow::handleDoubleClick(int clickedRow)
{
    if (clickedRow >= 0 && shouldSelectRow(clickedRow))
        openRecentFile();
}

void WelcomeWindow::openRecentFile()
{
    if (!recentsTableView_)
        return;
    const int row = recentsTableView_->selectedRow();
    // A list that changed under the selection asks for nothing.
    if (row < 0 || std::size_t(row) >= recentDocuments_.size())
        return;
    const std::filesystem::path url = recentDocuments_[std::size_t(row)];
    if (auto open = WelcomeDocumentHook::shared().openDocument) {
        open(url, true, [](std::optional<Error> error) {
            if (error && WelcomeDocumentHook::shared().presentError)
                WelcomeDocumentHook::shared().presentError(*error);
        });
    }
    reloadRecentFiles();
    close();
}

std::unique_ptr<WelcomeWindowRecentsRowView> WelcomeWindow::viewForRow(int row)
{
    auto view = std::make_unique<WelcomeWindowRecentsRowView>();
    view->contents = WelcomeWindowRecentsRowView::Contents::document(recentDocuments_.at(std::size_t(row)));
    view->scale = layout_.scale;
    gtk_widget_set_size_request(view->widget(), int(std::lround(layout_.row.width)), int(std::lround(layout_.row.height)));
    return view;
}

std::unique_ptr<WelcomeWindowRecentsRowBackgroundView> WelcomeWindow::rowViewForRow(int)
{
    return std::make_unique<WelcomeWindowRecentsRowBackgroundView>();
}

bool WelcomeWindow::shouldSelectRow(int)
{
    return true;
}

} // namespace kx
