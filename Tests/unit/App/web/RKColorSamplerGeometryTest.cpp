#include <gtest/gtest.h>

#include "App/web/RKColorSamplerGeometry.h"

using namespace kx;
namespace geometry = kx::RKColorSamplerGeometry;

TEST(RKColorSamplerGeometry, CaptureAndLoupeFollowTheWholePointMouse)
{
    const Point mouse{500.7, 300.2};
    EXPECT_EQ(geometry::captureRect(mouse, 900), (Rect{{494, 594}, {13, 13}}));
    EXPECT_EQ(geometry::windowOrigin(mouse, {121, 121}), (Point{440, 240}));

    // The pixel under an X pointer at (500, 600) on a 900-high screen is the centre of the
    // capture, and the loupe's middle row sits right above it.
    const Point x11Mouse = geometry::flipped(Point{500, 600}, 900);
    const Rect capture = geometry::captureRect(x11Mouse, 900);
    EXPECT_EQ(capture.origin.x + 6, 500);
    EXPECT_EQ(capture.origin.y + 6, 600);
    const Rect onScreen = geometry::flipped(Rect{geometry::windowOrigin(x11Mouse, {121, 121}), {121, 121}}, 900);
    EXPECT_EQ(onScreen.origin, (Point{440, 539}));
    EXPECT_TRUE(geometry::contains({geometry::windowOrigin(x11Mouse, {121, 121}), {121, 121}}, x11Mouse));

    // Negative positions (a screen left of or below the primary one) floor, not truncate.
    EXPECT_EQ(geometry::captureRect({-0.5, -0.5}, 900), (Rect{{-7, 895}, {13, 13}}));
}

TEST(RKColorSamplerGeometry, FrameEdgesAndViewParts)
{
    const Rect frame{{10, 20}, {121, 121}};
    EXPECT_TRUE(geometry::contains(frame, {10, 20}));
    EXPECT_FALSE(geometry::contains(frame, {131, 50}));
    EXPECT_FALSE(geometry::contains(frame, {50, 141}));
    EXPECT_FALSE(geometry::contains(frame, {9.9, 50}));

    // (121 - 64) / 2 = 28.5 lands on whole points.
    EXPECT_EQ(geometry::hexLabelFrame({121, 121}), (Rect{{29, 30}, {64, 18}}));
    EXPECT_EQ(geometry::hexLabelFrame({120, 120}), (Rect{{28, 30}, {64, 18}}));
    EXPECT_EQ(geometry::crossHairRect({121, 121}), (Rect{{56.5, 56.5}, {8, 8}}));
    EXPECT_EQ(geometry::flipped(Rect{{29, 30}, {64, 18}}, 121), (Rect{{29, 73}, {64, 18}}));
}
