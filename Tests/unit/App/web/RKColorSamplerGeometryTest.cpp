#include <gtest/gtest.h>

#include "App/web/RKColorSamplerGeometry.h"

using namespace kx;
using namespace kx::RKColorSamplerGeometry;

TEST(RKColorSamplerGeometry, CaptureAndLoupeFollowTheWholePointMouse)
{
    EXPECT_EQ(captureRect({500.7, 300.2}, 900), (Rect{{494, 594}, {13, 13}}));
    EXPECT_EQ(windowOrigin({500.7, 300.2}, {121, 121}), (Point{440, 240}));
    EXPECT_EQ(captureRect({-0.5, -0.5}, 900), (Rect{{-7, 895}, {13, 13}})); // floored, not truncated

    // An X pointer at (500, 600) on a 900-high screen is the capture's centre and inside the loupe.
    const Point mouse = flipped(Point{500, 600}, 900);
    EXPECT_EQ(captureRect(mouse, 900).origin, (Point{494, 594}));
    const Rect frame{windowOrigin(mouse, {121, 121}), {121, 121}};
    EXPECT_EQ(flipped(frame, 900).origin, (Point{440, 539}));
    EXPECT_TRUE(contains(frame, mouse));
    EXPECT_FALSE(contains(frame, {frame.origin.x + 121, mouse.y}));
}

TEST(RKColorSamplerGeometry, LabelAndCrossHair)
{
    EXPECT_EQ(hexLabelFrame({121, 121}), (Rect{{29, 30}, {64, 18}})); // 28.5 to the nearest point
    EXPECT_EQ(crossHairRect({121, 121}), (Rect{{56.5, 56.5}, {8, 8}}));
}
