#include "App/web/MagnificationTracker.h"

#include <cmath>

namespace kx {

namespace {

double share(double moved, double extent)
{
    const double part = extent > 0 ? moved / extent : 0;
    return std::isfinite(part) ? part : 0;
}

} // namespace

KorvelServices::MagnificationEvent MagnificationTracker::update(Phase phase, double magnification,
                                                                KorvelServices::Point centreMoved,
                                                                KorvelServices::Size viewSize)
{
    using Type = KorvelServices::MagnificationEventType;
    if (phase == Phase::ended) {
        isMagnifying_ = false;
        offset_ = {};
        return {Type::magnificationEnded, 0, {0, 0}};
    }
    // The type follows our own state, not the recogniser's: a pinch whose first report is
    // already a change still starts with "began", from where its centre then is.
    if (!isMagnifying_) {
        isMagnifying_ = true;
        offset_ = {};
        return {Type::magnificationBegan, magnification, offset_};
    }
    const double x = offset_.x + share(centreMoved.x, viewSize.width);
    const double y = offset_.y + share(centreMoved.y, viewSize.height);
    // Sums of finite shares stay finite unless a hostile device sends enormous movements.
    if (std::isfinite(x) && std::isfinite(y))
        offset_ = {x, y};
    return {Type::magnificationChanged, magnification, offset_};
}

} // namespace kx
