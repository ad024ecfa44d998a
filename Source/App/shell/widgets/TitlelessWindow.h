// A window without a title bar whose content fills it, which moves when its background is
// dragged, and which carries a content view with its origin at the top left for its owners
// and subclasses to fill. It shows no window buttons and cannot be resized or closed by the
// user; its owner closes it. The start window and the login window stand on it.
//
// What stands in for a title bar (a strip that moves the window, the close button, the menu
// button) is placed above the content: it takes the input there from the first showing, also
// over a view of the content that gets its own window only later (a page shown once it has
// loaded would otherwise lie above whatever was placed before it).
//
// With no menu bar on screen, the window carries the application's main menu the way GNOME
// applications do: as its hidden bar, so that every key of the menu works here as in a
// document window, and behind a menu button for its owner to place in the title area.
#pragma once

#include <memory>

#include "App/shell/widgets/ImageMouseOverButton.h"
#include "Platform/UI/Window.h"

namespace kx {

class TitlelessWindow : public Window {
public:
    explicit TitlelessWindow(Size contentSize);

    // Children are placed at points from the top left; it keeps the content size it was made
    // with, or was given last.
    GtkFixed* flippedContentView() const { return flippedContentView_; }
    void setContentSize(Size size);

    // Puts `view` above every view of the content at `frame` (points from the top left, like
    // the content's); later ones lie above earlier ones. Placing it again moves it. The view is
    // shown by whoever placed it.
    void placeAbove(GtkWidget* view, const Rect& frame);

    // The button that pops the main menu up ("Main Menu"), in the close button's colours by
    // day and by night; nullptr while the application has no main menu (the window was made
    // before it). Placed by the owner.
    ImageMouseOverButton* menuButton() const { return menuButton_.get(); }
    static constexpr const char* menuButtonTooltip = "Main Menu";

private:
    void updateMenuButtonAppearance();

    GtkFixed* root_;
    GtkFixed* flippedContentView_;
    std::unique_ptr<ImageMouseOverButton> menuButton_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace kx
