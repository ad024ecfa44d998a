// Plain geometry values in points. Frames that are computed with the origin at the bottom left
// stay in these types and are flipped once where they meet GTK.
#pragma once

#include <algorithm>
#include <cmath>

namespace kx {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    Point origin;
    Size size;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Each dimension rounded up, so that content measured in fractions of a point still fits.
inline Size ceil(const Size& size)
{
    return {std::ceil(size.width), std::ceil(size.height)};
}

// `frame` moved and, where it is larger, shrunk so that it lies inside `workArea` (an empty
// area changes nothing; a side that is not a number goes to the area's edge).
inline Rect constrainedToWorkArea(Rect frame, const Rect& workArea)
{
    if (!(workArea.size.width > 0) || !(workArea.size.height > 0))
        return frame;
    frame.size.width = std::clamp(frame.size.width, 0.0, workArea.size.width);
    frame.size.height = std::clamp(frame.size.height, 0.0, workArea.size.height);
    const double maxX = workArea.origin.x + workArea.size.width - frame.size.width;
    const double maxY = workArea.origin.y + workArea.size.height - frame.size.height;
    frame.origin.x = std::isfinite(frame.origin.x) ? std::clamp(frame.origin.x, workArea.origin.x, maxX) : workArea.origin.x;
    frame.origin.y = std::isfinite(frame.origin.y) ? std::clamp(frame.origin.y, workArea.origin.y, maxY) : workArea.origin.y;
    return frame;
}

} // namespace kx
