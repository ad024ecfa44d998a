// The start window's list of recent documents: one row a document, one row always selected
// while there are rows, a double click or Return opening the selected one, the arrow keys
// moving the selection (Tab stops once, at the selected row), and a context menu (a right
// click, Shift+F10 or the Menu key) that shows a document in the file manager. Its delegate (the start window) decides what the
// rows are and what opening does.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include <gtk/gtk.h>

#include "App/welcome/WelcomeWindowRecentsRowBackgroundView.h"
#include "App/welcome/WelcomeWindowRecentsRowView.h"
#include "App/shell/widgets/View.h"
#include "Platform/UI/Responder.h"

namespace kx {

class NativeMenu;

class WelcomeWindowRecentsTableView : public View, public Responder {
public:
    // What the list asks of its owner.
    class Delegate {
    public:
        virtual ~Delegate() = default;
        virtual int numberOfRows() const = 0;
        virtual std::unique_ptr<WelcomeWindowRecentsRowView> viewForRow(int row) = 0;
        virtual std::unique_ptr<WelcomeWindowRecentsRowBackgroundView> rowViewForRow(int row) = 0;
        virtual bool shouldSelectRow(int row) = 0;
        // A double click on a row, or Return on the selected one.
        virtual void handleDoubleClick(int clickedRow) = 0;
        // What "Show in Files" reads.
        virtual WelcomeWindowRecentsTableView* recentsTableView() = 0;
        virtual const std::vector<std::filesystem::path>& recentDocuments() const = 0;
    };

    static constexpr const char* showInFinderAction = "showInFinder:";
    static constexpr const char* menuTitle = "Recently Opened Document Options";
    // Named as the desktop names its file manager.
    static constexpr const char* showInFinderTitle = "Show in Files";

    WelcomeWindowRecentsTableView();
    ~WelcomeWindowRecentsTableView() override;

    GtkListBox* listBox() const { return GTK_LIST_BOX(widget()); }
    // The owner; the list never outlives it.
    Delegate* welcomeWindow = nullptr;

    // The rows a list of the start window's height shows, and a few more: built at once.
    static constexpr int rowsBuiltAtOnce = 16;

    // Builds the rows anew from the delegate: the first `rowsBuiltAtOnce` at once, the rest once
    // the main loop is idle (after the window that shows them is on screen).
    void reloadData();
    // Builds the rows still to come now.
    void finishRows();
    // The rows of the list, built or still to come.
    int numberOfRows() const { return rowCount_; }
    // Nullptr for a row still to come.
    WelcomeWindowRecentsRowBackgroundView* rowView(int row) const;
    // -1 when no row is selected.
    int selectedRow() const;
    // Selects `row`; while the keys are in the list they go with the selection, so that what
    // a screen reader reads is what Return opens.
    void selectRow(int row);
    // Gives the keys to the selected row; false, and the keys stay where they are, while the
    // list has none: an empty list is no control a screen reader could announce.
    bool focusSelectedRow();
    int rowAtY(double y) const;

    // The context menu for a press at `y` (list coordinates): selects the row there and shows
    // the menu, when the delegate lets it be selected. The menu, or nullptr when none showed.
    std::shared_ptr<NativeMenu> menuForEvent(double y, const GdkEventButton* event);
    // The same for the selected row, below it: Shift+F10 and the Menu key.
    std::shared_ptr<NativeMenu> menuForSelectedRow();
    // Shows the selected document in the file manager.
    void showInFinder();

private:
    // Shows the menu for `row` at `at` (the top-level window's points; none: the pointer).
    std::shared_ptr<NativeMenu> showMenu(int row, std::optional<Rect> at);
    void buildRows(int end);

    std::vector<std::unique_ptr<WelcomeWindowRecentsRowBackgroundView>> rows_;
    int rowCount_ = 0;
    // Which build the idle callback finishes; a new build or the list's end makes it stale.
    std::shared_ptr<int> build_ = std::make_shared<int>(0);
};

} // namespace kx
