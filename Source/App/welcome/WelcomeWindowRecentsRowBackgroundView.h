// The row of the recent-documents list that holds one cell: it paints the row's background,
// or the selection when the list has the row selected, with a one-point line at its left
// edge, and tells the cell which of the two it painted. It carries the keyboard's focus ring
// and, for a screen reader, the document's name.
#pragma once

#include <memory>

#include <gtk/gtk.h>

#include "App/welcome/WelcomeWindowRecentsRowView.h"
#include "App/welcome/WelcomeWindowRowSelectionProtocol.h"
#include "App/shell/widgets/View.h"

namespace kx {

class WelcomeWindowRecentsRowBackgroundView : public View, public WelcomeWindowRowSelectionProtocol {
public:
    WelcomeWindowRecentsRowBackgroundView();

    GtkListBoxRow* row() const { return GTK_LIST_BOX_ROW(widget()); }
    // Takes the cell that the row shows.
    void setCell(std::unique_ptr<WelcomeWindowRecentsRowView> cell);
    WelcomeWindowRecentsRowView* cell() const { return cell_.get(); }

    void setRowState(WelcomeWindowRecentsRowState state) override;

private:
    void drawBackground(cairo_t* cr, const Rect& dirtyRect);
    void drawSelection(cairo_t* cr, const Rect& dirtyRect);

    std::unique_ptr<WelcomeWindowRecentsRowView> cell_;
};

} // namespace kx
