#include "App/web/RKColorSamplerGeometry.h"

#include <cmath>

namespace kx::RKColorSamplerGeometry {

Point flipped(Point point, double screenHeight)
{
    return {point.x, screenHeight - point.y};
}

Rect flipped(const Rect& rect, double screenHeight)
{
    return {{rect.origin.x, screenHeight - rect.origin.y - rect.size.height}, rect.size};
}

Rect captureRect(Point mouse, double screenHeight)
{
    const double x = std::floor(mouse.x);
    const double y = std::floor(mouse.y);
    const double half = std::floor(captureSide * 0.5);
    return {{x - half, screenHeight - y - half}, {captureSide, captureSide}};
}

Point windowOrigin(Point mouse, Size size)
{
    return {std::floor(mouse.x) - std::floor(size.width * 0.5), std::floor(mouse.y) - std::floor(size.height * 0.5)};
}

bool contains(const Rect& rect, Point point)
{
    return point.x >= rect.origin.x && point.x < rect.origin.x + rect.size.width && point.y >= rect.origin.y
        && point.y < rect.origin.y + rect.size.height;
}

Rect hexLabelFrame(Size bounds)
{
    constexpr double width = 64;
    constexpr double height = 18;
    auto nearest = [](double value) { return std::floor(value + 0.5); };
    const double minX = nearest((bounds.width - width) * 0.5);
    const double maxX = nearest((bounds.width - width) * 0.5 + width);
    return {{minX, 30}, {maxX - minX, height}};
}

Rect crossHairRect(Size bounds)
{
    return {{bounds.width * 0.5 - 4, bounds.height * 0.5 - 4}, {8, 8}};
}

} // namespace kx::RKColorSamplerGeometry
