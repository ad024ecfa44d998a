// The arithmetic of the preview window's size and place, apart from any window so that it can
// be checked on its own. Frames are whole windows as the user sees them (title bar included,
// the client-side shadow left out), with the origin at the top left of the screen, as GTK has
// them: "top edges line up" is an equal y, "bottoms line up" an equal y + height.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "App/preview/DeviceCatalogue.h"
#include "App/preview/NimbetSelection.h"
#include "Platform/UI/Geometry.h"

namespace kx::PreviewSizing {

// Used when a window has no measurable title bar.
inline constexpr double defaultTitleBarHeight = 38.0;

// The device's size in points: its screen divided by its pixel ratio (a missing ratio, or one
// not above 0, counts as 1; a negative side as 0), turned with `rotate`. In canvas mode, the
// selection's canvas size when it has both sides; 0 × 0 otherwise.
Size intrinsicContentSize(const std::optional<NimbetSelection>& selection, const DeviceDescriptor* descriptor,
                          bool deviceIsCanvas);

// The frame of the first showing: the device's size plus the title bar when both sides are
// above 50 (else the current size), never smaller than `minimum` (the window takes no less),
// right of the document window and pulled left where the screen ends, top edges lined up;
// then kept inside the work area.
Rect firstAppearanceFrame(Rect current, Size intrinsic, double titleBarHeight, Rect documentWindow, Rect workArea,
                          Size minimum = {});

// What a live resize by the user makes of a proposed window size.
struct ResizeContext {
    bool isLiveResizing = false;
    bool freeResizing = false;   // responsive settings without a device
    bool showsBezel = false;     // no whole scale steps while the frame is drawn
    double titleBarHeight = defaultTitleBarHeight;
    Size intrinsic;
    std::optional<Size> startSize; // the window's size when the resize began
    Size minimumSize;              // the window is never smaller (its toolbar's width)
};
// Sizes it snaps to are ones the window can take: a scale step smaller than its minimum is
// skipped, and a size on the device's shape that is too small becomes the smallest the window
// can take on that shape.
Size snappedSize(Size proposed, const ResizeContext& context);

// A frame from an earlier session on the monitors of today: inside the work area of the
// monitor that holds most of it (the nearest when none does), moved there and, where it is
// larger, shrunk on its own shape; never smaller than `minimum`. Without work areas it stays
// as it is.
Rect frameOnMonitor(Rect frame, const std::vector<Rect>& workAreas, double titleBarHeight, Size minimum = {});

// WebKitGTK attaches no inspector to a view narrower than this, whatever the minimum size the
// web view reports: below it the inspector opens in a window of its own.
inline constexpr double webKitMinimumAttachWidth = 750.0;

// The frame that gives an attached Web Inspector room: at least the larger of half the
// document window's width (rounded up) and the inspector's minimum width plus 200, and never
// narrower than WebKitGTK attaches to; its right edge at most at the screen's, bottoms lined
// up, at least as tall as the document window.
Rect inspectorFrame(Rect documentWindow, Rect preview, double minimumAttachWidth, std::optional<Rect> screen);

// The title shown while resizing: the content scale in whole percent ("33%"), or in free
// responsive mode the window's width and content height in whole points ("390 × 844").
std::string titleText(double contentScale, bool freeResizing, std::optional<Size> windowSize, double titleBarHeight);
// The label's frame in a title bar of `titleBar` size, for a label that fits in `fitting`.
Rect titleFrame(Size titleBar, Size fitting);
// Shown only during a live resize, and only when at least 60 points wide.
bool titleIsVisible(bool isLiveResizing, const Rect& titleFrame);

} // namespace kx::PreviewSizing
