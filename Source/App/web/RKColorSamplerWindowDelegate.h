// What the loupe window tells its owner.
#pragma once

#include <optional>

#include "App/shell/Color.h"
#include "Platform/UI/Geometry.h"

namespace kx {

class RKColorSamplerWindowInterface;

class RKColorSamplerWindowDelegate {
public:
    virtual ~RKColorSamplerWindowDelegate() = default;

    // A click in the loupe at `clickedAtPoint` (screen points, origin bottom left) picked
    // `withColor`; none when the loupe held no capture to read.
    virtual void window(RKColorSamplerWindowInterface& window, Point clickedAtPoint, std::optional<Color> withColor) = 0;
    // The loupe lost the keyboard: hidden, Escape, or its grab taken by someone else.
    virtual void windowDidResignKey(RKColorSamplerWindowInterface& window) = 0;
};

} // namespace kx
