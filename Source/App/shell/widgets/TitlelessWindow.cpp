#include "App/shell/widgets/TitlelessWindow.h"

#include <cmath>

#include "App/shell/AppAppearance.h"
#include "App/shell/Color.h"

namespace kx {

TitlelessWindow::TitlelessWindow(Size contentSize)
    : Window(contentSize)
    , root_(GTK_FIXED(gtk_fixed_new()))
    , flippedContentView_(GTK_FIXED(gtk_fixed_new()))
{
    hideTitleBar();
    GtkWindow* window = gtkWindow();
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_deletable(window, FALSE);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_NORMAL);
    setMovableByWindowBackground(true);
    setMenuBarVisible(false);
    setContentSize(contentSize);
    // The content has a window of its own, made before those of the views placed above it:
    // whatever window a view of the content makes later stays inside it, below them. (A
    // GtkOverlay would not do: its windows would hide the page below them.)
    gtk_widget_set_has_window(GTK_WIDGET(flippedContentView_), TRUE);
    gtk_fixed_put(root_, GTK_WIDGET(flippedContentView_), 0, 0);
    gtk_widget_show(GTK_WIDGET(flippedContentView_));
    setContentView(GTK_WIDGET(root_));

    if (auto menu = NativeMenu::mainMenu()) {
        setMenu(std::move(menu));
        menuButton_ = std::make_unique<ImageMouseOverButton>("menu");
        gtk_widget_set_tooltip_text(menuButton_->widget(), menuButtonTooltip);
        menuButton_->setAccessibleRole(ATK_ROLE_PUSH_BUTTON_MENU);
        menuButton_->setAction([this] { popUpMenu(menuButton_->widget()); });
        updateMenuButtonAppearance();
        AppAppearance::shared().observeHandlers.push_back([this, alive = std::weak_ptr<int>(alive_)] {
            if (!alive.expired())
                updateMenuButtonAppearance();
        });
    }
}

void TitlelessWindow::setContentSize(Size size)
{
    const int width = int(std::lround(size.width));
    const int height = int(std::lround(size.height));
    gtk_widget_set_size_request(GTK_WIDGET(flippedContentView_), width, height);
    gtk_window_set_default_size(gtkWindow(), width, height);
}

void TitlelessWindow::updateMenuButtonAppearance()
{
    const bool isDark = AppAppearance::shared().isDark();
    menuButton_->setTintColor(Color::colorWithHexColorString(isDark ? "666666" : "BBBBBB"));
    menuButton_->setHighlightTintColor(Color::colorWithHexColorString(isDark ? "888888" : "666666"));
}

void TitlelessWindow::placeAbove(GtkWidget* view, const Rect& frame)
{
    gtk_widget_set_size_request(view, int(std::lround(frame.size.width)), int(std::lround(frame.size.height)));
    const int x = int(std::lround(frame.origin.x));
    const int y = int(std::lround(frame.origin.y));
    if (gtk_widget_get_parent(view) == GTK_WIDGET(root_))
        gtk_fixed_move(root_, view, x, y);
    else
        gtk_fixed_put(root_, view, x, y);
}

} // namespace kx
