#include "App/web/MagnificationTracker.h"

namespace kx {

KorvelServices::MagnificationEvent MagnificationTracker::update(Phase phase, double magnification)
{
    using Type = KorvelServices::MagnificationEventType;
    if (phase == Phase::ended) {
        isMagnifying_ = false;
        return {Type::magnificationEnded, 0, {0, 0}};
    }
    // The type follows our own state, not the recogniser's: a pinch whose first report is
    // already a change still starts with "began".
    const Type type = isMagnifying_ ? Type::magnificationChanged : Type::magnificationBegan;
    isMagnifying_ = true;
    return {type, magnification, {0, 0}};
}

} // namespace kx
