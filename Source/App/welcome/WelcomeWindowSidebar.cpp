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

void put(GtkFixed* parent, GtkWidget* child, const Rect& frame)
{
    gtk_widget_set_size_request(child, int(std::lround(frame.size.width)), int(std::lround(frame.size.height)));
    gtk_fixed_put(parent, child, int(std::lround(frame.origin.x)), int(std::lround(frame.origin.y)));
    gtk_widget_show(child);
}

} // namespace

void WelcomeWindow::addRecentsSidebar(bool)
{
    const double x0 = size_.width - sideBarWidth;
    const double listHeight = size_.height - bottomBarHeight;
    GtkFixed* content = flippedContentView();

    // The box reaches past the top, right and bottom edges: only its left line shows, as the
    // separator between page and sidebar.
    sidebarBox_ = GObjectRef<GtkWidget>::sink(gtk_drawing_area_new());
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, cairo_t*)>(
        sidebarBox_.get(), "draw", [this](GtkWidget* box, cairo_t* cr) -> gboolean {
            const double width = gtk_widget_get_allocated_width(box);
            const double height = gtk_widget_get_allocated_height(box);
            setSource(cr, boxFill_);
            cairo_paint(cr);
            setSource(cr, boxBorder_);
            cairo_set_line_width(cr, 1);
            cairo_rectangle(cr, 0.5, 0.5, width - 1, height - 1);
            cairo_stroke(cr);
            return FALSE;
        }));
    put(content, sidebarBox_.get(), {{x0, -1}, {sideBarWidth + 1, size_.height + 2}});

    scrollView_ = GTK_SCROLLED_WINDOW(gtk_scrolled_window_new(nullptr, nullptr));
    gtk_scrolled_window_set_policy(scrollView_, GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_overlay_scrolling(scrollView_, TRUE);
    gtk_scrolled_window_set_shadow_type(scrollView_, GTK_SHADOW_NONE);
    gtk_style_context_add_class(gtk_widget_get_style_context(GTK_WIDGET(scrollView_)), "kx-recents");
    put(content, GTK_WIDGET(scrollView_), {{x0, 0}, {sideBarWidth, listHeight}});

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
            cairo_rectangle(cr, 0, 0, 1, bottomBarHeight);              // the sidebar's left line
            cairo_rectangle(cr, 0, 0, sideBarWidth, 1);                 // above the buttons
            cairo_rectangle(cr, sideBarWidth / 2, 0, 1, bottomBarHeight); // between them
            cairo_fill(cr);
            return FALSE; // then the buttons
        }));
    put(content, bottomBar_.get(), {{x0, size_.height - bottomBarHeight}, {sideBarWidth, bottomBarHeight}});

    const double buttonWidth = sideBarWidth * 0.5 - 4;
    openButton_ = std::make_unique<WelcomeWindowButton>("Open\u2026");
    openButton_->setAction([this] { openFile(); });
    openButton_->placeIn(GTK_FIXED(bottomBar_.get()), {{2, 2}, {buttonWidth, bottomBarHeight - 4}});
    gtk_widget_show(openButton_->widget());
    newButton_ = std::make_unique<WelcomeWindowButton>("New");
    newButton_->setAction([this] { newPrototype(); });
    newButton_->placeIn(GTK_FIXED(bottomBar_.get()),
                        {{sideBarWidth * 0.5 - 1 + 2, 2}, {buttonWidth, bottomBarHeight - 4}});
    gtk_widget_show(newButton_->widget());

    gtk_widget_set_can_focus(recentsTableView_->widget(), TRUE);
    gtk_window_set_focus(gtkWindow(), recentsTableView_->widget());

    updateRecentsAppearance();
    AppAppearance::shared().observeHandlers.push_back([this, alive = std::weak_ptr<int>(alive_)] {
        if (!alive.expired())
            updateRecentsAppearance();
    });
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
    placeAbove(closeButton_->widget(), {{-2, -1}, {30, 30}});
    gtk_widget_show(closeButton_->widget());
    // The main menu's button faces it, at the right end of the strip.
    if (ImageMouseOverButton* menu = menuButton()) {
        placeAbove(menu->widget(), {{size_.width - sideBarWidth - 30, -1}, {30, 30}});
        gtk_widget_show(menu->widget());
    }
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
    // The rows are made once for a list; the same list keeps its rows.
    if (changed || recentsTableView_->numberOfRows() != numberOfRows())
        recentsTableView_->reloadData();
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
        noRecentDocumentsView_ = std::make_unique<WelcomeWindowNoRecentDocumentsView>(Rect{{0, 169}, {sideBarWidth, 49}});
        noRecentDocumentsHolder_ = GObjectRef<GtkWidget>::retain(gtk_fixed_new());
        gtk_fixed_put(GTK_FIXED(noRecentDocumentsHolder_.get()), noRecentDocumentsView_->widget(), 0, 169);
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
    gtk_widget_set_size_request(view->widget(), int(sideBarWidth - 3), int(rowHeight));
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
