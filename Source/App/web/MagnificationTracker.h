// Turns the steps of a pinch into the page's magnification events: the first step of a pinch
// is "began", every later one "changed", and the end (or a cancel) "ended" with magnification
// 0. The offset of the two-finger centre is always (0, 0): GTK reports no finger positions
// for a touchpad pinch.
#pragma once

#include "Services/generated/KorvelServices.h"

namespace kx {

class MagnificationTracker {
public:
    enum class Phase { began, changed, ended };

    // The event for one step; `magnification` is the growth since the pinch began (scale - 1).
    KorvelServices::MagnificationEvent update(Phase phase, double magnification);

    bool isMagnifying() const { return isMagnifying_; }

private:
    bool isMagnifying_ = false;
};

} // namespace kx
