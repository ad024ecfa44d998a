// An invisible strip that moves its window when it is pressed, so that the top of a page can
// be dragged like a title bar. The first press on an inactive window already starts the drag.
#pragma once

#include "App/shell/widgets/View.h"

namespace kx {

class WindowDragView : public View {
public:
    WindowDragView();
};

} // namespace kx
