// A window without a title bar whose content fills it, which moves when its background is
// dragged, and which carries a content view with its origin at the top left for its owners
// and subclasses to fill. It shows no window buttons and cannot be resized or closed by the
// user; its owner closes it. The start window and the login window stand on it.
#pragma once

#include "Platform/UI/Window.h"

namespace kx {

class TitlelessWindow : public Window {
public:
    explicit TitlelessWindow(Size contentSize);

    // Children are placed at points from the top left; it keeps the content size it was made
    // with.
    GtkFixed* flippedContentView() const { return flippedContentView_; }

private:
    GtkFixed* flippedContentView_;
};

} // namespace kx
