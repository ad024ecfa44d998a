#include <gtest/gtest.h>

#include <cmath>

#include "App/web/MagnificationTracker.h"

namespace {

using kx::MagnificationTracker;
using Phase = MagnificationTracker::Phase;
using Type = kx::KorvelServices::MagnificationEventType;

TEST(MagnificationTracker, APinchBeginsChangesAndEndsWithZero)
{
    MagnificationTracker tracker;
    EXPECT_EQ(tracker.update(Phase::began, 0.0).type, Type::magnificationBegan);
    auto changed = tracker.update(Phase::changed, 0.25);
    EXPECT_EQ(changed.type, Type::magnificationChanged);
    EXPECT_EQ(changed.magnification, 0.25);
    auto ended = tracker.update(Phase::ended, 0.25);
    EXPECT_EQ(ended.type, Type::magnificationEnded);
    EXPECT_EQ(ended.magnification, 0);

    // A pinch whose first report is a change still begins, and the next pinch begins afresh.
    EXPECT_EQ(tracker.update(Phase::changed, -0.5).type, Type::magnificationBegan);
    tracker.update(Phase::ended, 0);
    EXPECT_EQ(tracker.update(Phase::began, 0).type, Type::magnificationBegan);
}

TEST(MagnificationTracker, TheOffsetIsTheCentresMovementSinceThePinchBeganAsAShareOfTheView)
{
    using kx::KorvelServices::Point;
    const kx::KorvelServices::Size view{400, 200};
    MagnificationTracker tracker;
    // The first step's movement is where the pinch starts from, not part of its offset.
    auto began = tracker.update(Phase::began, 0, {30, 30}, view);
    EXPECT_EQ(began.normalizedTouchOffset.x, 0);
    EXPECT_EQ(began.normalizedTouchOffset.y, 0);
    tracker.update(Phase::changed, 0.1, {20, 0}, view);
    auto changed = tracker.update(Phase::changed, 0.2, {20, -10}, view);
    EXPECT_DOUBLE_EQ(changed.normalizedTouchOffset.x, 0.1); // 40 of 400 to the right
    EXPECT_DOUBLE_EQ(changed.normalizedTouchOffset.y, -0.05); // 10 of 200 upwards

    // Movements that cannot be measured count as none.
    const double nan = std::nan("");
    changed = tracker.update(Phase::changed, 0.2, {nan, 1e308}, {400, 1e-308});
    changed = tracker.update(Phase::changed, 0.2, {5, 5}, {0, -1});
    EXPECT_DOUBLE_EQ(changed.normalizedTouchOffset.x, 0.1);
    EXPECT_DOUBLE_EQ(changed.normalizedTouchOffset.y, -0.05);

    auto ended = tracker.update(Phase::ended, 0, {50, 50}, view);
    EXPECT_EQ(ended.normalizedTouchOffset.x, 0);
    EXPECT_EQ(ended.normalizedTouchOffset.y, 0);
    // The next pinch starts again from nothing.
    tracker.update(Phase::began, 0, {}, view);
    changed = tracker.update(Phase::changed, 0.1, {-40, 0}, view);
    EXPECT_DOUBLE_EQ(changed.normalizedTouchOffset.x, -0.1);
    EXPECT_EQ(changed.normalizedTouchOffset.y, 0);
}

} // namespace
