// The preview window's size, place, snapping and title, apart from any window.
#include <gtest/gtest.h>

#include <cmath>

#include "App/preview/PreviewSizing.h"

namespace {

using namespace kx;
using namespace kx::PreviewSizing;

DeviceDescriptor device(std::int64_t width, std::int64_t height, std::optional<double> ratio = std::nullopt)
{
    DeviceDescriptor descriptor;
    descriptor.title = "Device";
    descriptor.screen = {width, height};
    descriptor.pixelRatio = ratio;
    return descriptor;
}

NimbetSelection selection(bool rotate = false, std::optional<double> width = {}, std::optional<double> height = {})
{
    NimbetSelection value;
    value.metadata.settings.rotate = rotate;
    value.metadata.width = width;
    value.metadata.height = height;
    return value;
}

const Rect workArea{{0, 0}, {1600, 1000}};

TEST(PreviewSizing, IntrinsicSizeOfDevicesAndCanvas)
{
    const auto phone = device(1170, 2532, 3);
    EXPECT_EQ(intrinsicContentSize(std::nullopt, &phone, false), (Size{390, 844}));
    EXPECT_EQ(intrinsicContentSize(selection(true), &phone, false), (Size{844, 390}));
    const auto plain = device(375, 812);
    EXPECT_EQ(intrinsicContentSize(selection(), &plain, false), (Size{375, 812}));
    EXPECT_EQ(intrinsicContentSize(selection(), nullptr, false), (Size{0, 0}));

    // The page's numbers are not trusted: no division by zero, no window inside out.
    for (double ratio : {0.0, -2.0}) {
        const auto odd = device(300, 600, ratio);
        EXPECT_EQ(intrinsicContentSize(selection(), &odd, false), (Size{300, 600})) << ratio;
    }
    const auto negative = device(-300, 600);
    EXPECT_EQ(intrinsicContentSize(selection(), &negative, false), (Size{0, 600}));
    // A ratio barely above 0 gives no size rather than an infinite one.
    const auto overflowing = device(INT64_MAX, 600, 5e-324);
    EXPECT_EQ(intrinsicContentSize(selection(), &overflowing, false), (Size{0, 0}));

    EXPECT_EQ(intrinsicContentSize(selection(false, 320, 480), &phone, true), (Size{320, 480}));
    EXPECT_EQ(intrinsicContentSize(selection(false, 320), &phone, true), (Size{0, 0}));
    EXPECT_EQ(intrinsicContentSize(std::nullopt, &phone, true), (Size{0, 0}));
}

TEST(PreviewSizing, FirstAppearanceBesideTheDocumentWindow)
{
    const Rect document{{100, 50}, {800, 900}};
    const Rect current{{0, 0}, {500, 400}};
    EXPECT_EQ(firstAppearanceFrame(current, {375, 812}, 38, document, workArea), (Rect{{900, 50}, {375, 850}}));
    // Pulled left where the screen ends.
    const Rect wide{{500, 50}, {900, 900}};
    EXPECT_EQ(firstAppearanceFrame(current, {375, 812}, 38, wide, workArea), (Rect{{1225, 50}, {375, 850}}));
    // Without a size of its own the window keeps its size.
    EXPECT_EQ(firstAppearanceFrame(current, {50, 812}, 38, document, workArea), (Rect{{900, 50}, {500, 400}}));
    // A device larger than the screen keeps its shape and stays on the screen.
    const Rect frame = firstAppearanceFrame(current, {3000, 5000}, 38, document, workArea);
    EXPECT_LE(frame.size.height, workArea.size.height);
    EXPECT_NEAR(frame.size.width / (frame.size.height - 38), 0.6, 1e-9);
    EXPECT_GE(frame.origin.x, 0);
    EXPECT_GE(frame.origin.y, 0);
    // A document window off the screen does not take the preview with it.
    const Rect away{{-3000, -2000}, {800, 900}};
    const Rect placed = firstAppearanceFrame(current, {375, 812}, 38, away, workArea);
    EXPECT_EQ(placed.origin, (Point{0, 0}));
    // A device narrower than the toolbar: placed at the width the window takes, so that its
    // right edge stays on the screen.
    EXPECT_EQ(firstAppearanceFrame(current, {198, 242}, 38, wide, workArea, {236, 39}), (Rect{{1364, 50}, {236, 280}}));
}

ResizeContext resizing(Size intrinsic, std::optional<Size> start = std::nullopt, bool bezel = false)
{
    ResizeContext context;
    context.isLiveResizing = true;
    context.titleBarHeight = 38;
    context.intrinsic = intrinsic;
    context.startSize = start;
    context.showsBezel = bezel;
    return context;
}

TEST(PreviewSizing, CornerDragsSnapToScaleStepsAndTheAspectLine)
{
    const Size phone{375, 812};
    // Within 7.5 % of 100 %, 50 % and 200 %.
    EXPECT_EQ(snappedSize({390, 800 + 38}, resizing(phone)), (Size{375, 812 + 38}));
    EXPECT_EQ(snappedSize({190, 400 + 38}, resizing(phone)), (Size{188, 406 + 38}));
    EXPECT_EQ(snappedSize({760, 1600 + 38}, resizing(phone)), (Size{750, 1624 + 38}));
    // With the bezel shown only the aspect line snaps.
    const Size onLine = snappedSize({390, 800 + 38}, resizing(phone, std::nullopt, true));
    EXPECT_NEAR(onLine.width / (onLine.height - 38), 375.0 / 812.0, 1e-9);
    EXPECT_NE(onLine, (Size{375, 850}));
    // Far from both: as proposed.
    EXPECT_EQ(snappedSize({600, 500}, resizing(phone)), (Size{600, 500}));
    // Not live, free or without a shape: never snapped.
    auto context = resizing(phone);
    context.isLiveResizing = false;
    EXPECT_EQ(snappedSize({390, 838}, context), (Size{390, 838}));
    context = resizing(phone);
    context.freeResizing = true;
    EXPECT_EQ(snappedSize({390, 838}, context), (Size{390, 838}));
    for (Size shapeless : {Size{0, 812}, Size{375, 0}, Size{-5, 10}, Size{1e-200, 1e-200}, Size{1e200, 1e200}}) {
        const Size result = snappedSize({390, 838}, resizing(shapeless));
        EXPECT_EQ(result, (Size{390, 838}));
    }
}

TEST(PreviewSizing, EdgeDragsFollowTheOtherSide)
{
    const Size phone{375, 812};
    const Size start{375, 850};
    // The right edge: the width snaps to the shape of the height, the height stays.
    EXPECT_EQ(snappedSize({385, 850}, resizing(phone, start)), (Size{375, 850}));
    EXPECT_EQ(snappedSize({420, 850}, resizing(phone, start)), (Size{420, 850}));
    // The bottom edge: the height follows the width.
    const Size bottom = snappedSize({375, 862}, resizing(phone, start));
    EXPECT_EQ(bottom, (Size{375, 850}));
}

TEST(PreviewSizing, SnappingOffersOnlySizesTheWindowCanTake)
{
    const Size phone{375, 812};
    auto context = resizing(phone);
    context.minimumSize = {236, 38 + 1};
    // The 50 % step (188 wide) is narrower than the toolbar: near it the window takes the
    // smallest size on the phone's shape instead.
    Size size = snappedSize({190, 400 + 38}, context);
    EXPECT_DOUBLE_EQ(size.width, 236);
    EXPECT_NEAR(size.height - 38, 236 * 812.0 / 375, 1e-9);
    // The steps the window can take still snap exactly.
    EXPECT_EQ(snappedSize({390, 800 + 38}, context), (Size{375, 812 + 38}));
    EXPECT_EQ(snappedSize({760, 1600 + 38}, context), (Size{750, 1624 + 38}));
    // Far from the shape: as proposed (the window is then at least its minimum).
    EXPECT_EQ(snappedSize({150, 600 + 38}, context), (Size{150, 600 + 38}));
    // A watch snaps to its 100 % step; when that is narrower than the toolbar it has no step
    // at all, and its shape still holds.
    size = snappedSize({200, 245 + 38}, resizing({198, 242}));
    EXPECT_EQ(size, (Size{198, 242 + 38}));
    context = resizing({198, 242});
    context.minimumSize = {236, 39};
    size = snappedSize({200, 245 + 38}, context);
    EXPECT_DOUBLE_EQ(size.width, 236);
    EXPECT_NEAR(size.height - 38, 236 * 242.0 / 198, 1e-9);
    // A right edge that would snap narrower than the window can be stays where it is.
    context = resizing(phone, Size{300, 400 + 38});
    context.minimumSize = {236, 39};
    EXPECT_EQ(snappedSize({200, 400 + 38}, context), (Size{200, 400 + 38}));
    EXPECT_DOUBLE_EQ(snappedSize({200, 400 + 38}, resizing(phone, Size{300, 400 + 38})).width, 400 * 375.0 / 812);
}

TEST(PreviewSizing, RestoredFramesComeBackWholeOnAMonitor)
{
    const std::vector<Rect> monitors{{{0, 0}, {1600, 1000}}, {{1600, 0}, {1920, 1040}}};
    // Far off every monitor: into the nearest work area.
    EXPECT_EQ(frameOnMonitor({{-30000, 20000}, {390, 882}}, monitors, 38), (Rect{{0, 118}, {390, 882}}));
    EXPECT_EQ(frameOnMonitor({{40000, 500}, {390, 882}}, monitors, 38), (Rect{{3130, 158}, {390, 882}}));
    // Inside one: where the user left it.
    EXPECT_EQ(frameOnMonitor({{1700, 100}, {390, 882}}, monitors, 38), (Rect{{1700, 100}, {390, 882}}));
    // Across two: onto the one that holds most of it.
    EXPECT_EQ(frameOnMonitor({{1300, 100}, {390, 882}}, monitors, 38), (Rect{{1210, 100}, {390, 882}}));
    EXPECT_EQ(frameOnMonitor({{1500, 100}, {390, 882}}, monitors, 38), (Rect{{1600, 100}, {390, 882}}));
    // Partly past an outer edge: moved in.
    EXPECT_EQ(frameOnMonitor({{-350, 300}, {390, 882}}, monitors, 38), (Rect{{0, 118}, {390, 882}}));
    EXPECT_EQ(frameOnMonitor({{3480, 10}, {390, 882}}, monitors, 38), (Rect{{3130, 10}, {390, 882}}));
    EXPECT_EQ(frameOnMonitor({{500, -30}, {390, 882}}, monitors, 38), (Rect{{500, 0}, {390, 882}}));
    // Larger than the work area it comes back to: smaller, on its own shape.
    const Rect large = frameOnMonitor({{9000, 9000}, {1560, 3500}}, {{{0, 0}, {1600, 1000}}}, 38);
    EXPECT_EQ(large.origin.y, 0);
    EXPECT_DOUBLE_EQ(large.size.height, 1000);
    EXPECT_NEAR(large.size.width / (large.size.height - 38), 1560.0 / (3500 - 38), 1e-9);
    // Never smaller than the window can be: a narrow saved frame takes the toolbar's width,
    // and the whole of it fits.
    EXPECT_EQ(frameOnMonitor({{1500, 100}, {100, 300}}, {{{0, 0}, {1600, 1000}}}, 38, {236, 39}),
              (Rect{{1364, 100}, {236, 300}}));
    // No monitor known: nothing to bring it to.
    EXPECT_EQ(frameOnMonitor({{-30000, 0}, {390, 882}}, {}, 38), (Rect{{-30000, 0}, {390, 882}}));
}

TEST(PreviewSizing, FramesStayInTheWorkArea)
{
    const Rect area{{100, 30}, {1000, 700}};
    EXPECT_EQ(constrainedToWorkArea({{50, 10}, {200, 100}}, area), (Rect{{100, 30}, {200, 100}}));
    EXPECT_EQ(constrainedToWorkArea({{1000, 700}, {200, 100}}, area), (Rect{{900, 630}, {200, 100}}));
    EXPECT_EQ(constrainedToWorkArea({{0, 0}, {5000, 1e300}}, area), (Rect{{100, 30}, {1000, 700}}));
    EXPECT_EQ(constrainedToWorkArea({{NAN, INFINITY}, {10, 10}}, area), (Rect{{100, 30}, {10, 10}}));
}

TEST(PreviewSizing, InspectorFrameGivesTheInspectorRoom)
{
    const Rect document{{100, 100}, {1200, 800}};
    const Rect preview{{1300, 100}, {390, 600}};
    const Rect screen{{0, 0}, {1600, 1000}};
    // 500 + 200 would be too narrow for WebKitGTK to attach the inspector.
    const Rect frame = inspectorFrame(document, preview, 500, screen);
    EXPECT_EQ(frame.size, (Size{750, 800}));
    EXPECT_EQ(frame.origin.x, 850);
    EXPECT_EQ(frame.origin.y + frame.size.height, 900); // bottoms lined up
    EXPECT_EQ(inspectorFrame(document, preview, 600, screen).size.width, 800);
    // Half the document window wins when it is wider.
    EXPECT_EQ(inspectorFrame({{0, 0}, {1700, 800}}, preview, 500, screen).size.width, 850);
}

TEST(PreviewSizing, TitleTextAndPlace)
{
    EXPECT_EQ(titleText(1.0, false, std::nullopt, 38), "100%");
    EXPECT_EQ(titleText(0.333, false, std::nullopt, 38), "33%");
    EXPECT_EQ(titleText(0.125, false, std::nullopt, 38), "13%");
    EXPECT_EQ(titleText(-0.001, false, std::nullopt, 38), "0%");
    EXPECT_EQ(titleText(1e300, false, std::nullopt, 38).back(), '%');
    EXPECT_EQ(titleText(1.0, true, Size{400.9, 600}, 38), "400 \u00D7 562");
    EXPECT_EQ(titleText(0.5, true, std::nullopt, 38), "50%");

    const Rect narrow = titleFrame({250, 38}, {40, 16});
    EXPECT_EQ(narrow, (Rect{{72, 11}, {58, 16}}));
    EXPECT_FALSE(titleIsVisible(true, narrow));
    const Rect wide = titleFrame({252, 38}, {40, 15});
    EXPECT_EQ(wide.size.width, 60);
    EXPECT_TRUE(titleIsVisible(true, wide));
    EXPECT_FALSE(titleIsVisible(false, wide));
}

} // namespace
