// Where the loupe of the colour sampler goes and what it reads, as pure arithmetic. The
// sampler computes in screen points with the origin at the bottom left of the screen (the
// mouse, the window frame); the X server reads pixels with the origin at the top left. The two
// meet only through `flipped`.
#pragma once

#include "Platform/UI/Geometry.h"

namespace kx::RKColorSamplerGeometry {

inline constexpr double loupeSide = 121;
inline constexpr double captureSide = 13;

// A point of one origin convention in the other, on a screen `screenHeight` high.
Point flipped(Point point, double screenHeight);
// A rectangle of one origin convention in the other.
Rect flipped(const Rect& rect, double screenHeight);

// The square read around the mouse, in top-left pixel coordinates: 13 by 13, starting 6 left
// of and 6 above the whole-point mouse position.
Rect captureRect(Point mouse, double screenHeight);
// Origin (bottom left) of a window of `size` centred on the whole-point mouse position.
Point windowOrigin(Point mouse, Size size);
// Whether `point` lies in `rect`: the minimum edges belong to it, the maximum ones do not.
bool contains(const Rect& rect, Point point);

// In view coordinates with the origin at the bottom left:
// the value label, 64 by 18, centred, 30 above the bottom edge, its edges on whole points (GTK
// places children on whole logical pixels);
Rect hexLabelFrame(Size bounds);
// the 8 by 8 square around the sampled pixel.
Rect crossHairRect(Size bounds);

} // namespace kx::RKColorSamplerGeometry
