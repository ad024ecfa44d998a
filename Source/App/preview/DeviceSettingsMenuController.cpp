#include "App/preview/DeviceSettingsMenuController.h"

#include <algorithm>
#include <any>
#include <array>

#include "App/preview/DeviceManager.h"
#include "App/preview/PreviewWindowController.h"
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

DeviceSettingsMenuController::DeviceSettingsMenuController(PreviewWindowController& controller)
    : controller_(controller)
{
    addAction(selectionAction, [this](Sender sender) { handleSelection(sender); });
    devicesObserver_ = NotificationCenter::defaultCenter().addObserver(
        DevicesChangeNotification, &controller.deviceManager(), [this](const Notification&) { updateDeviceMenu(); });
}

DeviceSettingsMenuController::~DeviceSettingsMenuController() = default;

std::vector<std::string> DeviceSettingsMenuController::getSortedDeviceList(std::vector<std::string> devices) const
{
    const DeviceManager& manager = controller_.deviceManager();
    std::vector<std::pair<std::string, const DeviceDescriptor*>> pairs;
    for (auto& id : devices)
        pairs.emplace_back(std::move(id), manager.descriptorForDevice(id));
    // Devices without a descriptor compare with nothing; a stable sort leaves them in place
    // relative to each other, and the menu leaves them out.
    std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) {
        if (!a.second || !b.second)
            return false;
        if (a.second->kind.value_or("") == b.second->kind.value_or(""))
            return a.second->selector.value_or("") < b.second->selector.value_or("");
        return kindRank(a.second->kind) < kindRank(b.second->kind);
    });
    std::vector<std::string> sorted;
    for (auto& pair : pairs)
        sorted.push_back(std::move(pair.first));
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
    const DeviceDescriptor* descriptor = controller_.deviceManager().descriptorForDevice(device);
    if (!descriptor)
        return;
    auto item = createMenuItem(descriptor->selector.value_or(descriptor->title), device);
    auto skins = controller_.deviceManager().skinsForDevice(device).keys();
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
    NativeMenu* menu = controller_.deviceCategoriesMenu();
    if (!menu)
        return;
    menu->removeAllItems();
    menuItems_.clear();
    const DeviceManager& manager = controller_.deviceManager();
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
    const std::string current = controller_.deviceMenuType();
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
    if (!item || item == controller_.deviceMenuItem())
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
        controller_.handleDeviceMenuSelection(*type);
}

} // namespace kx
