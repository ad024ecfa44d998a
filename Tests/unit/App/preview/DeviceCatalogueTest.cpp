// The device catalogue as the preview page sends it, the manager that keeps it, and the
// selection that carries a device inline.
#include <gtest/gtest.h>

#include <vector>

#include "App/preview/DeviceManager.h"
#include "App/preview/NimbetSelection.h"
#include "App/server/ServerController.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "support/StdoutCapture.h"

namespace {

using namespace kx;
using nlohmann::json;

const char* fullDevice = R"({"devices": {"phone": {
    "title": "Phone", "category": "Phones", "selector": "A1", "kind": "phone",
    "screen": {"width": 1170, "height": 2532.0},
    "skins": {"graphite": {"image": "g.svg", "imageWidth": 1300, "imageHeight": 2700, "padding": 12.5, "background": "#222"},
              "market": {"package": "@skins/market", "image": "x"}},
    "hands": {"right": {"image": "r.svg", "width": 400, "height": 900, "offset": -20},
              "left": {"package": "@hands/left"}},
    "canRotate": true, "pixelRatio": 3, "unknown": [1, {"deep": true}]}},
    "deviceSkins": {}})";

Result<DevicesData, Error> decode(const std::string& text)
{
    return DevicesData::decode(text);
}

std::string failure(const std::string& text)
{
    auto result = decode(text);
    EXPECT_TRUE(result.isFailure()) << text;
    return result.isFailure() ? result.error().localizedDescription : std::string();
}

TEST(DeviceCatalogue, EveryFieldOfADevice)
{
    auto result = decode(fullDevice);
    ASSERT_TRUE(result.isSuccess()) << result.error().localizedDescription;
    const DeviceDescriptor& phone = *result.value().devices.find("phone");
    EXPECT_EQ(phone.title, "Phone");
    EXPECT_EQ(phone.category, "Phones");
    EXPECT_EQ(phone.selector, "A1");
    EXPECT_EQ(phone.kind, "phone");
    EXPECT_EQ(phone.screen, (DeviceScreen{1170, 2532}));
    EXPECT_EQ(phone.canRotate, true);
    EXPECT_EQ(phone.pixelRatio, 3.0);

    ASSERT_TRUE(phone.skins);
    EXPECT_EQ(phone.skins->keys(), (std::vector<std::string>{"graphite", "market"}));
    EXPECT_EQ(*phone.skins->find("graphite"), (DeviceSkin{InternalDeviceSkin{"g.svg", 1300, 2700, 12.5, "#222"}}));
    EXPECT_EQ(*phone.skins->find("market"), (DeviceSkin{ExternalDeviceSkin{"@skins/market"}}));
    ASSERT_TRUE(phone.hands);
    // The page's order, not the sorted one.
    EXPECT_EQ(phone.hands->keys(), (std::vector<std::string>{"right", "left"}));
    EXPECT_EQ(*phone.hands->find("right"), (DeviceHand{InternalDeviceHand{"r.svg", 400, 900, -20}}));
    EXPECT_EQ(*phone.hands->find("left"), (DeviceHand{ExternalDeviceHand{"@hands/left"}}));
}

TEST(DeviceCatalogue, OptionalFieldsMayBeMissingOrNull)
{
    auto empty = decode(R"({"devices": {}, "deviceSkins": {}})");
    ASSERT_TRUE(empty.isSuccess());
    EXPECT_TRUE(empty.value().devices.empty());

    auto bare = decode(R"({"devices": {"d": {"title": "D", "screen": {"width": 0, "height": 0}, "category": null,
                          "skins": null, "pixelRatio": null}}, "deviceSkins": {}})");
    ASSERT_TRUE(bare.isSuccess()) << bare.error().localizedDescription;
    const DeviceDescriptor& d = *bare.value().devices.find("d");
    EXPECT_FALSE(d.category || d.selector || d.kind || d.skins || d.hands || d.canRotate || d.pixelRatio);
}

TEST(DeviceCatalogue, SkinsAndHandsTakeTheInternalFormWhenComplete)
{
    // All five internal keys and a package: internal.
    auto both = decode(R"({"devices": {"d": {"title": "D", "screen": {"width": 1, "height": 1}, "skins": {"s":
        {"image": "i", "imageWidth": 750.0, "imageHeight": 2, "padding": 0, "background": "b", "package": "p"}}}},
        "deviceSkins": {}})");
    ASSERT_TRUE(both.isSuccess());
    EXPECT_TRUE(both.value().devices.find("d")->skins->find("s")->isIntern());
    EXPECT_EQ(std::get<InternalDeviceSkin>(both.value().devices.find("d")->skins->find("s")->value).imageWidth, 750);

    // Image and package without padding: external.
    auto partial = decode(R"({"devices": {"d": {"title": "D", "screen": {"width": 1, "height": 1}, "skins": {"s":
        {"image": "i", "imageWidth": 1, "imageHeight": 2, "background": "b", "package": "p"}}}}, "deviceSkins": {}})");
    ASSERT_TRUE(partial.isSuccess());
    EXPECT_FALSE(partial.value().devices.find("d")->skins->find("s")->isIntern());

    // Neither form: the second attempt's problem is reported.
    const std::string text = failure(R"({"devices": {"d": {"title": "D", "screen": {"width": 1, "height": 1},
        "skins": {"s": {"image": "i"}}}}, "deviceSkins": {}})");
    EXPECT_NE(text.find("\"package\""), std::string::npos) << text;
    EXPECT_NE(text.find("devices.d.skins.s"), std::string::npos) << text;
    const std::string hand = failure(R"({"devices": {"d": {"title": "D", "screen": {"width": 1, "height": 1},
        "hands": {"h": {"image": "i", "width": 1, "height": 1}}}}, "deviceSkins": {}})");
    EXPECT_NE(hand.find("\"package\""), std::string::npos) << hand;
}

TEST(DeviceCatalogue, MalformedCataloguesFailAsAWhole)
{
    const char* device = R"("d": {"title": "D", "screen": {"width": 1, "height": 1}})";
    failure(std::string(R"({"devices": {)") + device + "}}"); // no deviceSkins
    failure(R"({"devices": {"d": {"title": "D"}}, "deviceSkins": {}})"); // no screen
    failure(R"({"devices": {}, "deviceSkins": {"x": {"title": 3, "screen": {"width": 1, "height": 1}}}})");
    failure(R"({"devices": {"d": {"title": "D", "screen": {"width": 750.5, "height": 1}}}, "deviceSkins": {}})");
    failure(R"({"devices": {"d": {"title": "D", "screen": {"width": 1, "height": 1}, "canRotate": 1}}, "deviceSkins": {}})");
    failure(R"({"devices": {"d": {"title": "D", "screen": {"width": 1e30, "height": 1}}}, "deviceSkins": {}})");
    failure(R"({"devices": [], "deviceSkins": {}})");
    failure(R"({"devices": {}, "deviceSkins": {}} trailing)");
    failure("{\"devices\": {}, \"deviceSkins\": {\"\xff\": 1}}");
    failure(std::string(2000, '[') + std::string(2000, ']'));
    failure("");
    EXPECT_NE(failure(R"({"devices": {"d": {"screen": {"width": 1, "height": 1}}}, "deviceSkins": {}})").find("title"),
              std::string::npos);
}

TEST(DeviceCatalogue, RepeatedNamesKeepTheLastValueInTheFirstPlace)
{
    auto result = decode(R"({"devices": {"a": {"title": "A", "screen": {"width": 1, "height": 1}},
        "b": {"title": "B", "screen": {"width": 1, "height": 1}},
        "a": {"title": "A2", "screen": {"width": 2, "height": 2}}}, "deviceSkins": {}})");
    ASSERT_TRUE(result.isSuccess());
    EXPECT_EQ(result.value().devices.keys(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(result.value().devices.find("a")->title, "A2");
}

// Counts the manager's notifications.
struct Changes {
    int count = 0;
    NotificationCenter::Token token;
    explicit Changes(const DeviceManager& manager)
        : token(NotificationCenter::defaultCenter().addObserver(DevicesChangeNotification, &manager,
                                                                 [this](const Notification&) { ++count; }))
    {
    }
};

TEST(DeviceManager, ANewManagerKnowsOnlyTheCanvas)
{
    DeviceManager manager;
    EXPECT_EQ(manager.categories(), std::vector<std::string>{"Canvas"});
    EXPECT_EQ(manager.defaultDeviceForCategory("Phones"), "Canvas");
    EXPECT_EQ(manager.devicesForCategory("Canvas"), nullptr);
    EXPECT_TRUE(manager.skinsForDevice("phone").empty());
    EXPECT_EQ(manager.descriptorForDevice("Canvas"), nullptr);
}

TEST(DeviceManager, GroupsDevicesInTheOrderOfTheText)
{
    DeviceManager manager;
    Changes changes(manager);
    manager.parse(json(R"({"devices": {
        "z-phone": {"title": "Z", "category": "Phones", "screen": {"width": 1, "height": 1}},
        "watch": {"title": "W", "screen": {"width": 1, "height": 1}},
        "a-phone": {"title": "A", "category": "Phones", "screen": {"width": 1, "height": 1}},
        "board": {"title": "B", "category": "", "screen": {"width": 1, "height": 1}},
        "frame": {"title": "F", "category": "Canvas", "screen": {"width": 1, "height": 1}},
        "tv": {"title": "T", "screen": {"width": 1, "height": 1}}}, "deviceSkins": {"ignored":
        {"title": "I", "screen": {"width": 1, "height": 1}}}})"));
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(manager.categories(), (std::vector<std::string>{"Canvas", "Phones", ""}));
    EXPECT_EQ(*manager.devicesForCategory("Phones"), (std::vector<std::string>{"z-phone", "a-phone"}));
    EXPECT_EQ(manager.defaultDeviceForCategory("Phones"), "z-phone");
    EXPECT_EQ(manager.defaultDeviceForCategory("Canvas"), "frame");
    EXPECT_EQ(manager.uncategorized(), (std::vector<std::string>{"watch", "tv"}));
    EXPECT_EQ(manager.devices().size(), 6u);
    EXPECT_EQ(manager.descriptorForDevice("ignored"), nullptr);
}

TEST(DeviceManager, AFailedParseKeepsThePreviousCatalogue)
{
    DeviceManager manager;
    Changes changes(manager);
    manager.parse(json(fullDevice));
    ASSERT_EQ(changes.count, 1);
    EXPECT_EQ(manager.skinsForDevice("phone").keys(), (std::vector<std::string>{"graphite", "market"}));

    kxtest::StdoutCapture refused;
    manager.parse(json(R"({"devices": {}})"));
    const std::string& printed = refused.text();
    EXPECT_EQ(printed.rfind("Failed to decode Nimbet device data: ", 0), 0u) << printed;
    EXPECT_NE(printed.find("deviceSkins"), std::string::npos) << printed;
    EXPECT_EQ(changes.count, 1);
    EXPECT_NE(manager.descriptorForDevice("phone"), nullptr);

    // Not a text: ignored without a word.
    kxtest::StdoutCapture ignored;
    manager.parse(json::parse(R"({"devices": {}, "deviceSkins": {}})"));
    manager.parse(std::nullopt);
    EXPECT_EQ(ignored.text(), "");
    EXPECT_EQ(changes.count, 1);

    // A new catalogue replaces the old one entirely.
    manager.parse(json(R"({"devices": {"tablet": {"title": "T", "screen": {"width": 1, "height": 1}}}, "deviceSkins": {}})"));
    EXPECT_EQ(changes.count, 2);
    EXPECT_EQ(manager.descriptorForDevice("phone"), nullptr);
    EXPECT_EQ(manager.categories(), std::vector<std::string>{"Canvas"});
    EXPECT_EQ(manager.uncategorized(), std::vector<std::string>{"tablet"});
}

TEST(DeviceManager, MenuTypes)
{
    using MenuType = DeviceManager::MenuType;
    EXPECT_EQ(DeviceManager::parseMenuType("phone"), (MenuType{"phone", std::nullopt}));
    EXPECT_EQ(DeviceManager::parseMenuType("phone;skin:gold"), (MenuType{"phone", "gold"}));
    EXPECT_EQ(DeviceManager::parseMenuType("phone;skin:"), (MenuType{"phone", ""}));
    EXPECT_EQ(DeviceManager::parseMenuType(";skin:gold"), (MenuType{"", "gold"}));
    EXPECT_EQ(DeviceManager::parseMenuType("phone;skin:gold;skin:red"), (MenuType{"phone;skin:gold;skin:red", std::nullopt}));
    EXPECT_EQ(DeviceManager::createMenuType("phone", std::nullopt), "phone");
    EXPECT_EQ(DeviceManager::createMenuType("phone", ""), "phone");
    EXPECT_EQ(DeviceManager::createMenuType("phone", "gold"), "phone;skin:gold");
}

TEST(NimbetSelection, DecodesTheEditorsSelection)
{
    auto minimal = NimbetSelection::decode(
        R"({"metadata": {"selectionLock": false, "settings": {"responsive": false, "rotate": true, "bezel": true, "touch": false}}})");
    ASSERT_TRUE(minimal.isSuccess()) << minimal.error();
    EXPECT_FALSE(minimal.value().metadata.id);
    EXPECT_FALSE(minimal.value().metadata.settings.deviceType);
    EXPECT_TRUE(minimal.value().metadata.settings.rotate);

    auto full = NimbetSelection::decode(R"({"presentationNode": null, "metadata": {"id": "f1", "name": "Home",
        "width": 320.5, "height": 480, "selectionLock": true, "settings": {"deviceType": "phone", "skin": "graphite",
        "hand": "left", "zoom": 2, "responsive": false, "rotate": false, "bezel": true, "touch": true,
        "deviceDescriptor": {"title": "Inline", "screen": {"width": 10, "height": 20},
        "hands": {"b": {"package": "p"}, "a": {"package": "q"}}}}}})");
    ASSERT_TRUE(full.isSuccess()) << full.error();
    const auto& metadata = full.value().metadata;
    EXPECT_EQ(metadata.id, "f1");
    EXPECT_EQ(metadata.width, 320.5);
    EXPECT_EQ(metadata.settings.zoom, 2.0);
    ASSERT_TRUE(metadata.settings.deviceDescriptor);
    EXPECT_EQ(metadata.settings.deviceDescriptor->hands->keys(), (std::vector<std::string>{"b", "a"}));

    EXPECT_TRUE(NimbetSelection::decode(R"({"presentationNode": {}, "metadata": {"selectionLock": false,
        "settings": {"responsive": false, "rotate": false, "bezel": false, "touch": false}}})").isFailure());
    EXPECT_TRUE(NimbetSelection::decode(R"({"metadata": {"selectionLock": false,
        "settings": {"responsive": false, "rotate": false, "bezel": false}}})").isFailure());
    EXPECT_TRUE(NimbetSelection::decode(R"({"metadata": {"selectionLock": 0,
        "settings": {"responsive": false, "rotate": false, "bezel": false, "touch": false}}})").isFailure());
    EXPECT_TRUE(NimbetSelection::decode("not json").isFailure());
}

} // namespace
