// Plain geometry values in points. Frames that are computed with the origin at the bottom left
// stay in these types and are flipped once where they meet GTK.
#pragma once

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

} // namespace kx
