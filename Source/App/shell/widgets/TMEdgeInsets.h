// The widths of the four caps of a stretchable image, in points.
#pragma once

namespace kx {

struct TMEdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;
    friend bool operator==(const TMEdgeInsets&, const TMEdgeInsets&) = default;
};

inline TMEdgeInsets TMEdgeInsetsMake(double top, double left, double bottom, double right)
{
    return {top, left, bottom, right};
}

} // namespace kx
