#include "App/welcome/WelcomeWindowRecentsRowBackgroundView.h"

#include "App/shell/AppAppearance.h"
#include "App/shell/widgets/Accessibility.h"

namespace kx {

namespace {

void fill(cairo_t* cr, const Rect& rect, const Color& color)
{
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
    cairo_rectangle(cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
    cairo_fill(cr);
}

} // namespace

WelcomeWindowRecentsRowBackgroundView::WelcomeWindowRecentsRowBackgroundView()
    : View(gtk_list_box_row_new())
{
    // Before the row's own drawing, which the list's style leaves empty, and its cell's.
    connect<gboolean(GtkWidget*, cairo_t*)>("draw", [this](GtkWidget*, cairo_t* cr) -> gboolean {
        GdkRectangle clip;
        Rect dirty{{0, 0}, boundsSize()};
        if (gdk_cairo_get_clip_rectangle(cr, &clip))
            dirty = {{double(clip.x), double(clip.y)}, {double(clip.width), double(clip.height)}};
        if (gtk_list_box_row_is_selected(row()))
            drawSelection(cr, dirty);
        else
            drawBackground(cr, dirty);
        return FALSE;
    });
    // Over the cell: the row the arrow keys have reached.
    connect<gboolean(GtkWidget*, cairo_t*)>(
        "draw",
        [this](GtkWidget*, cairo_t* cr) -> gboolean {
            // On the selection's blue a white ring, inside the row.
            if (gtk_list_box_row_is_selected(row()))
                Accessibility::drawFocusRing(widget(), cr, 3, 3, Color{1, 1, 1, 0.9});
            else
                Accessibility::drawFocusRing(widget(), cr, 0);
            return FALSE;
        },
        G_CONNECT_AFTER);
}

void WelcomeWindowRecentsRowBackgroundView::setCell(std::unique_ptr<WelcomeWindowRecentsRowView> cell)
{
    if (cell_)
        gtk_container_remove(GTK_CONTAINER(widget()), cell_->widget());
    cell_ = std::move(cell);
    if (!cell_)
        return;
    gtk_container_add(GTK_CONTAINER(widget()), cell_->widget());
    gtk_widget_show(cell_->widget());
    // A screen reader reads the row as the document it opens.
    Accessibility::setName(widget(), WelcomeWindowRecentsRowView::titleText(cell_->contents.url));
}

void WelcomeWindowRecentsRowBackgroundView::drawBackground(cairo_t* cr, const Rect& dirtyRect)
{
    fill(cr, dirtyRect, AppAppearance::Colors::welcomeRecentsBackground());
    // The line spans the whole row, also when only part of it is redrawn.
    fill(cr, {{0, 0}, {1, boundsSize().height}}, AppAppearance::Colors::welcomeRecentsBorder());
    setRowState(WelcomeWindowRecentsRowState::normal);
}

void WelcomeWindowRecentsRowBackgroundView::drawSelection(cairo_t* cr, const Rect& dirtyRect)
{
    fill(cr, dirtyRect, AppAppearance::Colors::welcomeRecentsSelectionBackground());
    fill(cr, {{0, 0}, {1, boundsSize().height}}, AppAppearance::Colors::welcomeRecentsSelectionBorder());
    setRowState(WelcomeWindowRecentsRowState::selected);
}

void WelcomeWindowRecentsRowBackgroundView::setRowState(WelcomeWindowRecentsRowState state)
{
    if (cell_)
        cell_->setRowState(state);
}

} // namespace kx
