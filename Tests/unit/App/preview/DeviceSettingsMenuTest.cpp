// The device menu built from a catalogue, its check marks, and the order of devices, also for
// catalogues that try to break the sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <any>
#include <random>

#include "App/preview/DeviceManager.h"
#include "App/preview/DeviceMenuHost.h"
#include "App/preview/DeviceSettingsMenuController.h"
#include "Platform/UI/NativeMenu.h"

namespace {

using namespace kx;
using nlohmann::json;

class FakeHost : public DeviceMenuHost {
public:
    FakeHost()
    {
        item->setSubmenu(menu);
    }
    const DeviceManager& deviceManager() const override { return manager; }
    NativeMenu* deviceCategoriesMenu() const override { return menu.get(); }
    NativeMenuItem* deviceMenuItem() const override { return item.get(); }
    std::string deviceMenuType() const override { return current; }
    void handleDeviceMenuSelection(const std::string& menuType) override { chosen.push_back(menuType); }

    DeviceManager manager;
    std::shared_ptr<NativeMenu> menu = NativeMenu::make("Devices");
    std::shared_ptr<NativeMenuItem> item = NativeMenuItem::make("Device");
    std::string current = "Canvas";
    std::vector<std::string> chosen;
};

json device(const std::string& title, std::optional<std::string> category, std::optional<std::string> kind,
            std::optional<std::string> selector = std::nullopt, json skins = nullptr)
{
    json d{{"title", title}, {"screen", {{"width", 100}, {"height", 200}}}};
    if (category)
        d["category"] = *category;
    if (kind)
        d["kind"] = *kind;
    if (selector)
        d["selector"] = *selector;
    if (!skins.is_null())
        d["skins"] = skins;
    return d;
}

void load(DeviceManager& manager, const json& devices)
{
    // Built as text so that the page's member order survives.
    std::string text = R"({"deviceSkins": {}, "devices": {)";
    bool first = true;
    for (const auto& [id, value] : devices.items()) {
        text += (first ? "" : ",") + json(id).dump() + ":" + value.dump();
        first = false;
    }
    text += "}}";
    manager.parse(json(text));
}

std::vector<std::string> titles(const NativeMenu& menu)
{
    std::vector<std::string> result;
    for (const auto& item : menu.items())
        result.push_back(item->isSeparatorItem() ? "-" : item->title());
    return result;
}

const json skin = {{"package", "@skins/x"}};

TEST(DeviceSettingsMenu, CategoriesKindsAndSkins)
{
    FakeHost host;
    DeviceSettingsMenuController controller(host);
    json devices = json::object();
    devices["tab"] = device("Tablet", "Apple", "tablet", "T1");
    devices["ph2"] = device("Phone Two", "Apple", "phone", "P2", {{"sand", skin}, {"gold", skin}});
    devices["ph1"] = device("Phone One", "Apple", "phone", std::nullopt);
    devices["odd"] = device("Odd", "Apple", std::nullopt, "Z");
    devices["tv"] = device("Television", "Other", "tv", "TV");
    devices["free"] = device("Loose", std::nullopt, "phone", "L", {{"", skin}});
    load(host.manager, devices); // the catalogue's notification rebuilds the menu
    // The canvas category first, without devices; phones by selector (missing reads as empty),
    // a separator before each new kind, the device without kind after the known kinds, one
    // separator after each category; the uncategorized at the end without separators.
    EXPECT_EQ(titles(*host.menu),
              (std::vector<std::string>{"-", "Phone One", "P2", "-", "T1", "-", "Z", "-", "TV", "-", "L"}));
    auto phone = host.menu->itemWithTitle("P2");
    ASSERT_TRUE(phone->submenu());
    EXPECT_EQ(titles(*phone->submenu()), (std::vector<std::string>{"Screen Size Only", "-", "gold", "sand"}));
    EXPECT_EQ(std::any_cast<std::string>(phone->submenu()->itemAtIndex(3)->representedObject()), "ph2;skin:sand");
    // An empty skin key names the device alone.
    EXPECT_EQ(std::any_cast<std::string>(host.menu->itemWithTitle("L")->submenu()->itemAtIndex(2)->representedObject()), "free");
    EXPECT_FALSE(host.menu->itemWithTitle("T1")->submenu());

    // A chosen item hands its menu type over.
    host.menu->performActionForItem(*phone->submenu()->itemAtIndex(3));
    EXPECT_EQ(host.chosen, (std::vector<std::string>{"ph2;skin:sand"}));

    // Check marks: "Screen Size Only" and its device, never the root item.
    host.current = "ph2";
    controller.updateDeviceMenuSelection();
    EXPECT_EQ(phone->state(), NativeMenuItem::State::on);
    EXPECT_EQ(phone->submenu()->itemAtIndex(0)->state(), NativeMenuItem::State::on);
    EXPECT_EQ(phone->submenu()->itemAtIndex(2)->state(), NativeMenuItem::State::off);
    EXPECT_EQ(host.item->state(), NativeMenuItem::State::off);
    host.current = "ph2;skin:gold";
    controller.updateDeviceMenuSelection();
    EXPECT_EQ(phone->submenu()->itemAtIndex(0)->state(), NativeMenuItem::State::off);
    EXPECT_EQ(phone->submenu()->itemAtIndex(2)->state(), NativeMenuItem::State::on);
    EXPECT_EQ(phone->state(), NativeMenuItem::State::on);
    host.current = "Canvas";
    controller.updateDeviceMenuSelection();
    for (const auto& item : controller.menuItems())
        EXPECT_EQ(item->state(), NativeMenuItem::State::off) << item->title();
}

TEST(DeviceSettingsMenu, TheSortIsATotalOrderWhateverTheCatalogue)
{
    DeviceManager manager;
    // Equal ranks under different unknown kinds, equal selectors, missing fields.
    json devices = json::object();
    std::mt19937 random(7);
    const std::vector<std::optional<std::string>> kinds{std::nullopt, "phone", "tablet", "toaster", "fridge", "", "tv"};
    const std::vector<std::optional<std::string>> selectors{std::nullopt, "", "A", "B", "a"};
    for (int i = 0; i < 300; ++i) {
        devices["d" + std::to_string(i)] =
            device("D", "C", kinds[random() % kinds.size()], selectors[random() % selectors.size()]);
    }
    load(manager, devices);
    std::vector<std::string> ids;
    for (const auto& [id, descriptor] : manager.devices())
        ids.push_back(id);
    // Ids the catalogue lacks are left out, wherever they stand.
    ids.push_back("missing");
    ids.insert(ids.begin() + 50, "also-missing");
    const auto sorted = DeviceSettingsMenuController::sortedDeviceList(manager, ids);
    EXPECT_EQ(sorted.size(), ids.size() - 2);
    EXPECT_EQ(std::count(sorted.begin(), sorted.end(), "missing"), 0);
    // The same list whatever the order it came in: only a total order gives that.
    for (int round = 0; round < 20; ++round) {
        std::shuffle(ids.begin(), ids.end(), random);
        ASSERT_EQ(DeviceSettingsMenuController::sortedDeviceList(manager, ids), sorted);
    }
    // Known kinds in their fixed order, then the others.
    std::vector<std::string> order;
    for (const auto& id : sorted) {
        const auto& kind = manager.descriptorForDevice(id)->kind;
        const std::string name = kind.value_or("");
        if (order.empty() || order.back() != name)
            order.push_back(name);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"phone", "tablet", "tv", "", "fridge", "toaster"}));
}

TEST(DeviceSettingsMenu, NothingToSortOrBuild)
{
    FakeHost host;
    DeviceSettingsMenuController controller(host);
    EXPECT_TRUE(controller.getSortedDeviceList({}).empty());
    EXPECT_TRUE(controller.getSortedDeviceList({"unknown", "Canvas"}).empty());
    controller.updateDeviceMenu();
    // Only the canvas category, which has no devices: its separator.
    EXPECT_EQ(titles(*host.menu), (std::vector<std::string>{"-"}));
}

} // namespace
