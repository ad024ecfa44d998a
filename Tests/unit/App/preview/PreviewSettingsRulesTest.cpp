// The settings menu's enablement, check marks and titles, and the partial settings its actions
// send, all worked out from the editor's last selection.
#include <gtest/gtest.h>

#include "App/preview/PreviewDeviceSelection.h"
#include "App/preview/PreviewSettingsRules.h"

namespace {

using namespace kx;
using nlohmann::json;
using Rules = PreviewSettingsRules;
using State = NativeMenuItem::State;

// A phone with two hands (in the page's order: right, left) and two skins, a tablet that
// cannot rotate, a device named by its title only.
const char* catalogue = R"({"deviceSkins": {}, "devices": {
  "phone": {"title": "Phone", "selector": "P1", "category": "Phones", "kind": "phone", "canRotate": true,
            "screen": {"width": 390, "height": 844},
            "skins": {"graphite": {"package": "@s/g"}, "sand": {"package": "@s/s"}},
            "hands": {"right": {"package": "@h/r"}, "left": {"package": "@h/l"}}},
  "tablet": {"title": "Tablet", "category": "Tablets", "kind": "tablet", "screen": {"width": 800, "height": 1000}}}})";

class PreviewSettingsRulesTest : public ::testing::Test {
protected:
    void SetUp() override { manager.parse(json(catalogue)); }

    // The window's derived device state for a selection given as its settings.
    PreviewMenuContext select(const std::optional<json>& settings, std::optional<std::string> id = "frame-1")
    {
        device.emplace(manager, true);
        if (settings) {
            json metadata{{"selectionLock", false}, {"settings", *settings}};
            if (id)
                metadata["id"] = *id;
            device->take(json{{"metadata", metadata}}.dump());
            EXPECT_TRUE(device->hasSelection());
        }
        return device->menuContext();
    }
    const NimbetSelection& selection() const { return *device->selection(); }
    static json flags(json extra = json::object(), bool responsive = false, bool rotate = false)
    {
        json settings{{"responsive", responsive}, {"rotate", rotate}, {"bezel", true}, {"touch", false}};
        settings.update(extra);
        return settings;
    }
    Rules::Validation validate(const PreviewMenuContext& context, const char* action, std::any represented = {},
                               bool documentSays = true)
    {
        return Rules::validate(context, action, represented, false, [documentSays] { return documentSays; });
    }

    DeviceManager manager;
    std::optional<PreviewDeviceSelection> device;
};

TEST_F(PreviewSettingsRulesTest, ValidationWithoutSelection)
{
    const auto context = select(std::nullopt);
    EXPECT_TRUE(validate(context, Rules::selectCanvasModeAction).enabled);
    EXPECT_EQ(validate(context, Rules::selectCanvasModeAction).state, State::on);
    EXPECT_EQ(validate(context, Rules::selectResponsiveCanvasModeAction).state, State::off);
    EXPECT_FALSE(validate(context, Rules::toggleResponsiveAction).enabled);
    EXPECT_FALSE(validate(context, Rules::toggleTouchCursorAction).enabled);
    EXPECT_FALSE(validate(context, Rules::toggleHandAction).enabled);
    EXPECT_FALSE(validate(context, Rules::showPreviewInspectorAction).enabled);
    EXPECT_FALSE(validate(context, Rules::reloadPreviewAction).enabled);
    // A skin item is enabled but its mark is left alone.
    EXPECT_TRUE(validate(context, Rules::selectSkinAction, std::string("phone")).enabled);
    EXPECT_FALSE(validate(context, Rules::selectSkinAction, std::string("phone")).state);
    // The device item follows the selection whatever its action.
    EXPECT_FALSE(Rules::validate(context, "anything:", {}, true, nullptr).enabled);

    const auto look = Rules::deviceItemLook(context, std::nullopt, manager);
    EXPECT_FALSE(look.canvasEnabled);
    EXPECT_FALSE(look.deviceEnabled);
    EXPECT_FALSE(look.deviceChecked);
    EXPECT_EQ(look.deviceTitle, "Device");
    // In canvas mode the item names the device to go back to.
    EXPECT_EQ(Rules::deviceItemLook(context, "phone;skin:sand", manager).deviceTitle, "P1");
    EXPECT_EQ(Rules::deviceItemLook(context, "gone", manager).deviceTitle, "Device");
}

TEST_F(PreviewSettingsRulesTest, ValidationOnADevice)
{
    auto context = select(flags({{"deviceType", "phone"}, {"skin", "sand"}, {"hand", "left"}}));
    EXPECT_EQ(validate(context, Rules::selectCanvasModeAction).state, State::off);
    EXPECT_EQ(validate(context, Rules::selectSkinAction, std::string("phone;skin:sand")).state, State::on);
    EXPECT_EQ(validate(context, Rules::selectSkinAction, std::string("phone")).state, State::off);
    EXPECT_TRUE(validate(context, Rules::toggleHandAction).enabled);
    EXPECT_TRUE(validate(context, Rules::orientationAction).enabled);
    EXPECT_TRUE(validate(context, Rules::reloadPreviewAction).enabled);
    EXPECT_FALSE(validate(context, Rules::reloadPreviewAction, {}, false).enabled);
    EXPECT_FALSE(validate(context, "somethingElse:", {}, false).enabled);
    auto look = Rules::deviceItemLook(context, std::nullopt, manager);
    EXPECT_TRUE(look.canvasEnabled && look.deviceEnabled && look.deviceChecked);
    EXPECT_EQ(look.deviceTitle, "P1");

    // No hand in landscape, none on a device without hands; no rotation on the tablet.
    context = select(flags({{"deviceType", "phone"}}, false, true));
    EXPECT_FALSE(validate(context, Rules::toggleHandAction).enabled);
    context = select(flags({{"deviceType", "tablet"}}));
    EXPECT_FALSE(validate(context, Rules::toggleHandAction).enabled);
    EXPECT_FALSE(validate(context, Rules::orientationAction).enabled);
    EXPECT_EQ(Rules::deviceItemLook(context, std::nullopt, manager).deviceTitle, "Tablet");
    context = select(flags({{"deviceType", "unknown-device"}}));
    EXPECT_EQ(Rules::deviceItemLook(context, std::nullopt, manager).deviceTitle, "Nameless Device");

    // Responsive canvas.
    context = select(flags({{"deviceType", "Canvas"}}, true));
    EXPECT_EQ(validate(context, Rules::selectCanvasModeAction).state, State::off);
    EXPECT_EQ(validate(context, Rules::selectResponsiveCanvasModeAction).state, State::on);
    EXPECT_EQ(validate(context, Rules::toggleResponsiveAction).state, State::on);

    // Without the document nothing is enabled.
    context.hasDocument = false;
    EXPECT_FALSE(validate(context, Rules::selectCanvasModeAction).enabled);
    EXPECT_FALSE(validate(context, Rules::selectSkinAction, std::string("phone")).enabled);
}

TEST_F(PreviewSettingsRulesTest, DeviceSettingsFromMenuTypes)
{
    EXPECT_EQ(Rules::deviceSettings("phone;skin:sand", manager), (json{{"deviceType", "phone"}, {"skin", "sand"}, {"bezel", true}}));
    EXPECT_EQ(Rules::deviceSettings("phone", manager), (json{{"deviceType", "phone"}, {"skin", ""}, {"bezel", false}}));
    EXPECT_EQ(Rules::deviceSettings("phone;skin:chrome", manager), (json{{"deviceType", "phone"}, {"skin", ""}, {"bezel", false}}));
    EXPECT_EQ(Rules::deviceSettings("Canvas", manager), (json{{"deviceType", "Canvas"}, {"skin", ""}, {"bezel", false}}));
    EXPECT_EQ(Rules::deviceSettings("tablet;skin:x", manager), (json{{"deviceType", "tablet"}, {"skin", ""}, {"bezel", false}}));
    EXPECT_EQ(Rules::canvasSettings(true), (json{{"deviceType", nullptr}, {"responsive", true}, {"rotate", false}}));
}

TEST_F(PreviewSettingsRulesTest, TogglesSendTheOppositeOfTheSelection)
{
    select(flags({{"touch", true}}, true, false));
    EXPECT_EQ(Rules::toggleResponsiveSettings(selection()), (json{{"responsive", false}}));
    EXPECT_EQ(Rules::toggleTouchCursorSettings(selection()), (json{{"touch", false}}));
    EXPECT_EQ(Rules::rotateSettings(selection()), (json{{"rotate", true}}));
}

TEST_F(PreviewSettingsRulesTest, TheHandCycle)
{
    // Hands in reverse catalogue order: left, right; then none.
    auto context = select(flags({{"deviceType", "phone"}, {"skin", "sand"}}));
    EXPECT_EQ(Rules::toggleHandSettings(context),
              (json{{"hand", "left"}, {"deviceType", "phone"}, {"bezel", true}, {"skin", "sand"}}));
    context = select(flags({{"deviceType", "phone"}, {"skin", "sand"}, {"hand", "left"}}));
    EXPECT_EQ(Rules::toggleHandSettings(context), (json{{"hand", "right"}}));
    context = select(flags({{"deviceType", "phone"}, {"hand", "right"}}));
    EXPECT_EQ(Rules::toggleHandSettings(context), (json{{"hand", nullptr}}));
    // A hand the device does not know counts as none; without a skin the first one is taken.
    context = select(flags({{"deviceType", "phone"}, {"hand", "tentacle"}, {"skin", ""}}));
    EXPECT_EQ(Rules::toggleHandSettings(context),
              (json{{"hand", "left"}, {"deviceType", "phone"}, {"bezel", true}, {"skin", "graphite"}}));
    // A device without hands or descriptor: no hand to turn on.
    context = select(flags());
    EXPECT_EQ(Rules::toggleHandSettings(context), (json{{"hand", nullptr}, {"deviceType", "Canvas"}, {"bezel", true}, {"skin", ""}}));
    // An inline device wins over the catalogue.
    context = select(flags({{"deviceType", "phone"},
                            {"deviceDescriptor", {{"title", "Inline"}, {"screen", {{"width", 1}, {"height", 1}}},
                                                  {"hands", {{"only", {{"package", "@h/o"}}}}}}}}));
    EXPECT_EQ(Rules::toggleHandSettings(context)["hand"], json("only"));
}

} // namespace
