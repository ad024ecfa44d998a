// The device the preview window shows for the editor's selection: the values without a
// selection, the catalogue's entry against one carried inline, the canvas's special cases, and
// the device remembered for after the canvas across selections.
#include <gtest/gtest.h>

#include "App/preview/PreviewDeviceSelection.h"

namespace {

using namespace kx;
using nlohmann::json;

const char* devicesCatalogue = R"({"deviceSkins": {}, "devices": {
  "Canvas": {"title": "Canvas", "kind": "canvas", "screen": {"width": 0, "height": 0}},
  "phone": {"title": "Phone", "kind": "phone", "canRotate": true, "pixelRatio": 2,
            "screen": {"width": 780, "height": 1688},
            "skins": {"graphite": {"package": "@s/g"}}, "hands": {"right": {"package": "@h/r"}}},
  "strip": {"title": "Strip", "kind": "phone", "screen": {"width": 0, "height": 900}}}})";

class PreviewDeviceSelectionTest : public ::testing::Test {
protected:
    void SetUp() override { manager.parse(json(devicesCatalogue)); }

    void select(json settings, std::optional<std::string> id = "frame-1")
    {
        for (const char* flag : {"responsive", "rotate", "bezel", "touch"}) {
            if (!settings.contains(flag))
                settings[flag] = false;
        }
        json metadata{{"selectionLock", false}, {"settings", settings}};
        if (id)
            metadata["id"] = *id;
        device.take(json{{"metadata", metadata}}.dump());
        ASSERT_TRUE(device.hasSelection());
    }

    DeviceManager manager;
    PreviewDeviceSelection device{manager, true};
};

TEST_F(PreviewDeviceSelectionTest, WithoutASelectionTheWindowShowsTheBareCanvas)
{
    EXPECT_TRUE(device.deviceIsCanvas());
    EXPECT_EQ(device.deviceZoom(), -1);
    EXPECT_EQ(device.deviceMenuType(), "Canvas");
    ASSERT_NE(device.deviceDescriptor(), nullptr);
    EXPECT_EQ(device.deviceDescriptor()->title, "Canvas");
    EXPECT_FALSE(device.deviceShowBezel());
    EXPECT_FALSE(device.deviceSkin());
    EXPECT_FALSE(device.canSendSettings());
    EXPECT_EQ(device.intrinsicContentSize(), Size{});

    // Without a document there is no catalogue to ask.
    PreviewDeviceSelection orphan(manager, false);
    EXPECT_EQ(orphan.deviceDescriptor(), nullptr);
    EXPECT_FALSE(orphan.deviceCanRotate());
}

TEST_F(PreviewDeviceSelectionTest, ADeviceIsReadFromTheCatalogueUnlessOneComesInline)
{
    select({{"deviceType", "phone"}, {"skin", "graphite"}, {"hand", "right"}, {"bezel", true}, {"rotate", true},
            {"zoom", 0.5}});
    EXPECT_FALSE(device.deviceIsCanvas());
    EXPECT_EQ(device.deviceMenuType(), "phone;skin:graphite");
    EXPECT_TRUE(device.deviceShowHand());
    EXPECT_TRUE(device.deviceCanRotate());
    EXPECT_TRUE(device.deviceHasHand());
    EXPECT_EQ(device.deviceZoom(), 0.5);
    EXPECT_EQ(device.deviceSize(), (Size{780, 1688}));
    EXPECT_EQ(device.intrinsicContentSize(), (Size{844, 390})); // halved by the ratio, turned
    EXPECT_TRUE(device.canSendSettings());

    // An inline device wins over the catalogue's entry of the same type.
    select({{"deviceType", "phone"},
            {"deviceDescriptor", {{"title", "Own"}, {"kind", "phone"}, {"screen", {{"width", 100}, {"height", 0}}}}}});
    EXPECT_EQ(device.deviceDescriptor()->title, "Own");
    EXPECT_FALSE(device.deviceHasSize());
    EXPECT_EQ(device.deviceSize(), (Size{100, 0})); // reported although it has no size
    EXPECT_FALSE(device.deviceCanRotate());
    EXPECT_FALSE(device.deviceHasHand());
}

TEST_F(PreviewDeviceSelectionTest, TheCanvasTypeAndEmptyValuesCountAsNone)
{
    // "Canvas" named: no skin, no bezel, no hand, even when the settings carry them.
    select({{"deviceType", "Canvas"}, {"skin", "graphite"}, {"bezel", true}, {"hand", "right"}});
    EXPECT_TRUE(device.deviceIsCanvas());
    EXPECT_FALSE(device.deviceSkin());
    EXPECT_EQ(device.deviceMenuType(), "Canvas");
    EXPECT_FALSE(device.deviceShowBezel());
    EXPECT_FALSE(device.deviceShowHand());
    EXPECT_EQ(device.deviceHand(), "right");

    // A missing type is the canvas, but the bezel shows; an empty hand is no hand.
    select({{"bezel", true}, {"hand", ""}, {"responsive", true}});
    EXPECT_TRUE(device.deviceIsCanvas());
    EXPECT_TRUE(device.deviceShowBezel());
    EXPECT_FALSE(device.deviceHand());
    EXPECT_TRUE(device.isFreeResizing());
    select({{"deviceType", "Canvas"}, {"responsive", true}});
    EXPECT_FALSE(device.isFreeResizing());
}

TEST_F(PreviewDeviceSelectionTest, TheDeviceBeforeTheCanvasLastsAsLongAsTheSelection)
{
    select({{"deviceType", "phone"}, {"skin", "graphite"}});
    device.rememberDeviceBeforeCanvas();
    select({{"deviceType", "Canvas"}}); // the same selection, now on the canvas
    EXPECT_EQ(device.postCanvasModeDeviceMenuType(), "phone;skin:graphite");
    EXPECT_EQ(device.takeDeviceBeforeCanvas(), "phone;skin:graphite");
    EXPECT_FALSE(device.postCanvasModeDeviceMenuType());

    device.rememberDeviceBeforeCanvas();
    EXPECT_EQ(device.postCanvasModeDeviceMenuType(), "Canvas");
    select({{"deviceType", "phone"}}, "frame-2");
    EXPECT_FALSE(device.postCanvasModeDeviceMenuType());

    // Data that does not read leaves no selection, and no device to go back to.
    device.rememberDeviceBeforeCanvas();
    device.take("{\"metadata\": {}}");
    EXPECT_FALSE(device.hasSelection());
    EXPECT_FALSE(device.postCanvasModeDeviceMenuType());
    device.rememberDeviceBeforeCanvas();
    device.take(std::string("\xff\xfe", 2));
    EXPECT_FALSE(device.hasSelection());
    EXPECT_EQ(device.postCanvasModeDeviceMenuType(), "Canvas"); // no id before, none after
}

} // namespace
