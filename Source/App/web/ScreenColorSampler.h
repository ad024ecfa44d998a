// The screen colour picker that a page's colour request opens (the loupe). One is shared by
// every web view; it is installed by whoever provides it.
#pragma once

#include <functional>
#include <optional>

#include "App/shell/Color.h"

namespace kx {

class ScreenColorSampler {
public:
    virtual ~ScreenColorSampler() = default;
    // Shows the picker. The handler gets the picked colour, or nothing when the user
    // cancelled; a later call replaces a handler still waiting.
    virtual void showWithCompletion(std::function<void(std::optional<Color>)> completion) = 0;
};

} // namespace kx
