// A window without a title bar whose content fills it, which moves when its background is
// dragged, and which carries a content view with its origin at the top left for its owners
// and subclasses to fill. It shows no window buttons and cannot be resized or closed by the
// user; its owner closes it. The start window and the login window stand on it.
//
// What stands in for a title bar (a strip that moves the window, the close button, the menu
// button) is placed above the content: it takes the input there from the first showing, also
// over a view of the content that gets its own window only later (a page shown once it has
// loaded would otherwise lie above whatever was placed before it).
#pragma once

#include "Platform/UI/Window.h"

namespace kx {

class TitlelessWindow : public Window {
public:
    explicit TitlelessWindow(Size contentSize);

    // Children are placed at points from the top left; it keeps the content size it was made
    // with.
    GtkFixed* flippedContentView() const { return flippedContentView_; }

    // Puts `view` above every view of the content at `frame` (points from the top left, like
    // the content's); later ones lie above earlier ones. Placing it again moves it. The view is
    // shown by whoever placed it.
    void placeAbove(GtkWidget* view, const Rect& frame);

private:
    GtkFixed* root_;
    GtkFixed* flippedContentView_;
};

} // namespace kx
