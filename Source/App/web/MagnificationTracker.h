// Turns the steps of a pinch into the page's magnification events: the first step of a pinch
// is "began", every later one "changed", and the end (or a cancel) "ended" with magnification
// 0. The offset is how far the two-finger centre has moved since the pinch began, as a share
// of the view's width and height (y grows downwards); it is (0, 0) on the first and the last
// event.
#pragma once

#include "Services/generated/KorvelServices.h"

namespace kx {

class MagnificationTracker {
public:
    enum class Phase { began, changed, ended };

    // The event for one step. `magnification` is the growth since the pinch began (scale - 1);
    // `centreMoved` how far the two-finger centre moved since the previous step, in the view's
    // own units, and `viewSize` the view's size in the same units. A movement that cannot be
    // measured (an empty view, a value that is not finite) counts as none.
    KorvelServices::MagnificationEvent update(Phase phase, double magnification, KorvelServices::Point centreMoved = {},
                                              KorvelServices::Size viewSize = {});

    bool isMagnifying() const { return isMagnifying_; }

private:
    bool isMagnifying_ = false;
    KorvelServices::Point offset_;
};

} // namespace kx
