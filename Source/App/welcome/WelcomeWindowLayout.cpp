#include "App/welcome/WelcomeWindowLayout.h"

#include <algorithm>
#include <cmath>

namespace kx {

namespace {

double scaled(double value, double scale)
{
    return std::round(value * scale);
}

} // namespace

Size WelcomeWindowLayout::windowSize(Size designSize, double scale)
{
    return {scaled(designSize.width, scale), scaled(designSize.height, scale)};
}

WelcomeWindowLayout WelcomeWindowLayout::make(Size designSize, double scale, Size available)
{
    if (!(scale > 0) || !std::isfinite(scale))
        scale = 1;
    const Size wanted = windowSize(designSize, scale);
    WelcomeWindowLayout layout;
    layout.window = {std::max(1.0, std::floor(std::min(wanted.width, available.width))),
                     std::max(1.0, std::floor(std::min(wanted.height, available.height)))};
    layout.scale = scale;
    const double width = layout.window.width;
    const double height = layout.window.height;
    // The page keeps its room while the sidebar can give some.
    const double fullSideBar = scaled(sideBarWidth, scale);
    const double page = scaled(designSize.width - sideBarWidth, scale);
    const double sideBar = std::min(std::clamp(width - page, std::min(sideBarWidth, fullSideBar), fullSideBar),
                                    std::floor(width / 2));
    const double bar = std::min(scaled(bottomBarHeight, scale), std::floor(height / 2));
    const double x0 = width - sideBar;
    layout.sidebarWidth = sideBar;
    layout.barHeight = bar;
    layout.row = {sideBar - 3, scaled(rowHeight, scale)};
    // The design's box reaches one point past the top, right and bottom edges, where the
    // window cuts it; a box that stayed that large would make the window larger.
    layout.sidebarBox = {{x0, 0}, {sideBar, height}};
    layout.scrollView = {{x0, 0}, {sideBar, height - bar}};
    layout.bottomBar = {{x0, height - bar}, {sideBar, bar}};
    // Two buttons, each half the bar less the lines between them.
    const double inset = scaled(2, scale);
    const double buttonWidth = std::floor(sideBar * 0.5) - 2 * inset;
    layout.openButton = {{inset, inset}, {buttonWidth, bar - 2 * inset}};
    layout.newButton = {{std::floor(sideBar * 0.5) - 1 + inset, inset}, {buttonWidth, bar - 2 * inset}};
    layout.page = {{0, 0}, {x0, height}};
    layout.dragStrip = {{0, 0}, {x0, std::min(scaled(dragStripHeight, scale), height)}};
    const double button = scaled(closeButtonSize, scale);
    layout.closeButton = {{scaled(-2, scale), scaled(-1, scale)}, {button, button}};
    layout.menuButton = {{x0 - button, scaled(-1, scale)}, {button, button}};
    layout.noRecentDocuments = {{0, scaled(noRecentDocumentsFrame.origin.y, scale)},
                                {sideBar, scaled(noRecentDocumentsFrame.size.height, scale)}};
    return layout;
}

} // namespace kx
