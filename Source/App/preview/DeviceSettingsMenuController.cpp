#include "App/preview/DeviceSettingsMenuController.h"

#include <algorithm>
#include <any>
#include <array>
#include <tuple>

#include "App/preview/DeviceManager.h"
#include "App/preview/DeviceMenuHost.h"
#include "App/server/ServerController.h"
#include "Platform/UI/NativeMenu.h"

namespace kx {

namespace {

std::size_t kindRank(const std::optional<std::string>& kind)
{
    static constexpr std::array<std::string_view, 5> kinds{"watch", "phone", "tablet", "computer", "tv"};
    const auto found = std::find(kinds.begin(), kinds.end(), kind.value_or(""));
    return std::size_t(found - kinds.begin());
}

} // namespace

DeviceSettingsMenuController::DeviceSettingsMenuController(DeviceMenuHost& host)
    : host_(host)
{
    addAction(selectionAction, [this](Sender sender) { handleSelection(sender); });
    devicesObserver_ = NotificationCenter::defaultCenter().addObserver(
        DevicesChangeNotification, &host.deviceManager(), [this](const Notification&) { updateDeviceMenu(); });
}

DeviceSettingsMenuController::~DeviceSettingsMenuController() = default;

std::vector<std::string> DeviceSettingsMenuController::getSortedDeviceList(std::vector<std::string> devices) const
{
    return sortedDeviceList(host_.deviceManager(), std::move(devices));
}

std::vector<std::string> DeviceSettingsMenuController::sortedDeviceList(const DeviceManager& manager,
                                                                        std::vector<std::string> devices)
{
    struct Entry {
        std::size_t rank;
        std::string_view kind;
        std::string_view selector;
        std::string id;
    };
    std::vector<Entry> entries;
    for (auto& id : devices) {
        // A device that compares with nothing has no place in a sort: it would make the order
        // partial, which std::sort does not survive.
        const DeviceDescriptor* descriptor = manager.descriptorForDevice(id);
        if (!descriptor)
            continue;
        entries.push_back({kindRank(descriptor->kind), descriptor->kind ? std::string_view(*descriptor->kind) : "",
                           descriptor->selector ? std::string_view(*descriptor->selector) : "", std::move(id)});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return std::tie(a.rank, a.kind, a.selector, a.id) < std::tie(b.rank, b.kind, b.selector, b.id);
    });
    std::vector<std::string> sorted;
    for (auto& entry : entries)
        sorted.push_back(std::move(entry.id));
    return sorted;
}

std::shared_ptr<NativeMenuItem> DeviceSettingsMenuController::createMenuItem(const std::string& title, const std::string& type)
{
    auto item = NativeMenuItem::make(title, selectionAction);
    item->setTarget(this);
    item->setRepresentedObject(type);
    menuItems_.push_back(item);
    return item;
}

void DeviceSettingsMenuController::addDevice(NativeMenu& menu, const std::string& device)
{
    const DeviceDescriptor* descriptor = host_.deviceManager().descriptorForDevice(device);
    if (!descriptor)
        return;
    auto item = createMenuItem(descriptor->selector.value_or(descriptor->title), device);
    auto skins = host_.deviceManager().skinsForDevice(device).keys();
    std::sort(skins.begin(), skins.end());
    if (!skins.empty()) {
        auto submenu = NativeMenu::make();
        submenu->addItem(createMenuItem(screenSizeOnlyTitle, device));
        submenu->addItem(NativeMenuItem::separatorItem());
        for (const auto& skin : skins)
            submenu->addItem(createMenuItem(skin, DeviceManager::createMenuType(device, skin)));
        item->setSubmenu(std::move(submenu));
    }
    menu.addItem(std::move(item));
}

void DeviceSettingsMenuController::updateDeviceMenu()
{
    NativeMenu* menu = host_.deviceCategoriesMenu();
    if (!menu)
        return;
    menu->removeAllItems();
    menuItems_.clear();
    const DeviceManager& manager = host_.deviceManager();
    for (const auto& category : manager.categories()) {
        const auto* listed = manager.devicesForCategory(category);
        // A device without kind remembers none: the device after it gets no separator.
        std::optional<std::string> rememberedKind;
        for (const auto& device : getSortedDeviceList(listed ? *listed : std::vector<std::string>{})) {
            const DeviceDescriptor* descriptor = manager.descriptorForDevice(device);
            if (!descriptor)
                continue;
            if (rememberedKind && (!descriptor->kind || *rememberedKind != *descriptor->kind))
                menu->addItem(NativeMenuItem::separatorItem());
            addDevice(*menu, device);
            rememberedKind = descriptor->kind;
        }
        menu->addItem(NativeMenuItem::separatorItem());
    }
    for (const auto& device : getSortedDeviceList(manager.uncategorized()))
        addDevice(*menu, device);
    updateDeviceMenuSelection();
}

void DeviceSettingsMenuController::updateDeviceMenuSelection()
{
    const std::string current = host_.deviceMenuType();
    NativeMenuItem* selected = nullptr;
    for (const auto& item : menuItems_) {
        const auto* type = std::any_cast<std::string>(&item->representedObject());
        if (type && *type == current)
            selected = item.get(); // "Screen Size Only" wins over its device's item
        else
            setMenuPathStates(item.get(), NativeMenuItem::State::off);
    }
    if (selected)
        setMenuPathStates(selected, NativeMenuItem::State::on);
}

void DeviceSettingsMenuController::setMenuPathStates(NativeMenuItem* item, NativeMenuItem::State state)
{
    if (!item || item == host_.deviceMenuItem())
        return;
    if (NativeMenu* menu = item->menu())
        setMenuPathStates(menu->supermenuItem(), state);
    item->setState(state);
}

void DeviceSettingsMenuController::handleSelection(Sender sender)
{
    NativeMenuItem* item = sender ? sender->asMenuItem() : nullptr;
    const auto* type = item ? std::any_cast<std::string>(&item->representedObject()) : nullptr;
    if (type)
        host_.handleDeviceMenuSelection(*type);
}

} // namespace kx
