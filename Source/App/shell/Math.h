// Linear mapping of a value from one range onto another, for values that follow a control's
// state (an opacity that follows a width, for example).
#pragma once

#include <span>

namespace kx {

class Math {
public:
    // |value - from[0]| scaled by |to[1] - to[0]| / |from[1] - from[0]|, added to to[0]: the
    // result always grows from to[0], whatever the order of the ends. With `limit`, the result
    // is kept within the target range. Ranges with fewer than two ends return the value as is;
    // further ends are ignored; an empty source range maps everything to to[0].
    static float modulate(double value, std::span<const double> from, std::span<const double> to, bool limit);
};

} // namespace kx
