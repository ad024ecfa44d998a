#include "App/shell/Math.h"

#include <algorithm>
#include <cmath>

namespace kx {

float Math::modulate(double value, std::span<const double> from, std::span<const double> to, bool limit)
{
    if (from.size() < 2 || to.size() < 2)
        return static_cast<float>(value);
    const double a = from[0], b = from[1], c = to[0], d = to[1];
    // A zero-width source range has no slope; dividing by it would give NaN or infinity.
    double result = a == b ? c : std::fabs(value - a) * (std::fabs(d - c) / std::fabs(b - a)) + c;
    if (limit) {
        result = std::max(result, std::min(c, d));
        result = std::min(result, std::max(c, d));
    }
    return static_cast<float>(result);
}

} // namespace kx
