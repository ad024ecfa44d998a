#include "App/preview/DeviceManager.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "App/server/ServerController.h"
#include "Platform/Foundation/NotificationCenter.h"

namespace kx {

void DeviceManager::parse(const std::optional<nlohmann::json>& data)
{
    if (!data || !data->is_string())
        return;
    auto decoded = DevicesData::decode(data->get_ref<const std::string&>());
    if (decoded.isFailure()) {
        std::printf("Failed to decode Nimbet device data: %s\n", decoded.error().localizedDescription.c_str());
        std::fflush(stdout);
        return;
    }
    devices_.clear();
    categories_ = {canvasDevice};
    categoryDevices_.clear();
    uncategorized_.clear();
    // In the order of the page's text: it decides the order of categories and of their devices.
    // The decoded ids are unique already; the names met are looked up, not searched for, so
    // that a catalogue of many devices or categories takes no more than its length.
    std::unordered_set<std::string> categoriesMet{categories_.begin(), categories_.end()};
    for (const auto& [id, descriptor] : decoded.value().devices) {
        devices_.insert_or_assign(id, descriptor);
        if (descriptor.category) {
            const std::string& category = *descriptor.category;
            if (categoriesMet.insert(category).second)
                categories_.push_back(category);
            categoryDevices_[category].push_back(id);
        } else {
            uncategorized_.push_back(id);
        }
    }
    NotificationCenter::defaultCenter().post(DevicesChangeNotification, this);
}

const DeviceDescriptor* DeviceManager::descriptorForDevice(const std::string& device) const
{
    const auto found = devices_.find(device);
    return found == devices_.end() ? nullptr : &found->second;
}

OrderedMap<DeviceSkin> DeviceManager::skinsForDevice(const std::string& device) const
{
    const DeviceDescriptor* descriptor = descriptorForDevice(device);
    return descriptor && descriptor->skins ? *descriptor->skins : OrderedMap<DeviceSkin>{};
}

const std::vector<std::string>* DeviceManager::devicesForCategory(const std::string& category) const
{
    const auto found = categoryDevices_.find(category);
    return found == categoryDevices_.end() ? nullptr : &found->second;
}

std::string DeviceManager::defaultDeviceForCategory(const std::string& category) const
{
    const auto* list = devicesForCategory(category);
    return list && !list->empty() ? list->front() : std::string(canvasDevice);
}

DeviceManager::MenuType DeviceManager::parseMenuType(const std::string& menuType)
{
    const std::string separator = skinSeparator;
    const auto first = menuType.find(separator);
    if (first == std::string::npos || menuType.find(separator, first + separator.size()) != std::string::npos)
        return {menuType, std::nullopt};
    return {menuType.substr(0, first), menuType.substr(first + separator.size())};
}

std::string DeviceManager::createMenuType(const std::string& device, const std::optional<std::string>& skin)
{
    if (skin && !skin->empty())
        return device + skinSeparator + *skin;
    return device;
}

} // namespace kx
