// Where the start window's views stand. The design's frames are for text at 100 %: each grows
// by the desktop's text scale, as the drawn texts do and as WebKit zooms the page, so that the
// page is laid out in the same room at any text size. A window that the work area cannot hold
// at that size is as large as it holds: the sidebar gives up width first, down to its width at
// 100 % text, then the page. Frames are in whole points, from the top left of the content.
#pragma once

#include "Platform/UI/Geometry.h"

namespace kx {

struct WelcomeWindowLayout {
    // The design's measures at 100 % text.
    static constexpr double sideBarWidth = 240.0;
    static constexpr double bottomBarHeight = 32.0;
    static constexpr double rowHeight = 44.0;
    static constexpr double dragStripHeight = 65.0;
    static constexpr double closeButtonSize = 30.0;
    static constexpr Rect noRecentDocumentsFrame{{0, 169}, {sideBarWidth, 49}};

    // The layout of a window of `designSize` at 100 % text, at text scale `scale` (1 at
    // 100 %), in `available` room at most.
    static WelcomeWindowLayout make(Size designSize, double scale, Size available);
    // The window's size at text scale `scale` for a design of `designSize` (at 100 %).
    static Size windowSize(Size designSize, double scale);

    Size window;
    double scale = 1;
    // The sidebar's width and the bottom bar's height in this window.
    double sidebarWidth = sideBarWidth;
    double barHeight = bottomBarHeight;
    Size row;
    Rect sidebarBox;
    Rect scrollView;
    Rect bottomBar;
    // In the bottom bar.
    Rect openButton;
    Rect newButton;
    Rect page;
    Rect dragStrip;
    Rect closeButton;
    Rect menuButton;
    // In the list.
    Rect noRecentDocuments;

    friend bool operator==(const WelcomeWindowLayout&, const WelcomeWindowLayout&) = default;
};

} // namespace kx
