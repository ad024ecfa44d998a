#include "App/web/MagnificationTracker.h"

namespace kx {

MagnificationTracker::Event MagnificationTracker::update(Phase phase, double magnification)
{
    if (phase == Phase::ended) {
        isMagnifying_ = false;
        return {EventType::magnificationEnded, 0, {0, 0}};
    }
    // The type follows our own state, not the recogniser's: a pinch whose first report is
    // already a change still starts with "began".
    const EventType type = isMagnifying_ ? EventType::magnificationChanged : EventType::magnificationBegan;
    isMagnifying_ = true;
    return {type, magnification, {0, 0}};
}

} // namespace kx
