// The device catalogue of one document, as its preview page last sent it and as it decoded:
// devices by id, the categories in the order the catalogue met them ("Canvas" first), the ids
// of each category and of the devices without one. It also makes and splits menu types, the
// texts that name a device with one of its skins ("phone;skin:gold"). A catalogue that does not
// decode leaves the previous one in place. Main thread only.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "App/preview/DeviceCatalogue.h"

namespace kx {

class DeviceManager {
public:
    static constexpr const char* canvasDevice = "Canvas";
    static constexpr const char* skinSeparator = ";skin:";

    DeviceManager() = default;
    DeviceManager(const DeviceManager&) = delete;
    DeviceManager& operator=(const DeviceManager&) = delete;

    // A text holding the catalogue replaces the current one and posts
    // DevicesChangeNotification (with this manager as sender) before returning. Anything else is
    // ignored; a text that does not decode prints "Failed to decode Nimbet device data: " and
    // the reason, and changes nothing.
    void parse(const std::optional<nlohmann::json>& data);

    const std::map<std::string, DeviceDescriptor>& devices() const { return devices_; }
    const std::vector<std::string>& categories() const { return categories_; } // "deviceCategories"
    const std::map<std::string, std::vector<std::string>>& categoryDevices() const { return categoryDevices_; }
    const std::vector<std::string>& uncategorized() const { return uncategorized_; }

    const DeviceDescriptor* descriptorForDevice(const std::string& device) const;
    // Empty for an unknown device or one without skins.
    OrderedMap<DeviceSkin> skinsForDevice(const std::string& device) const;
    const std::vector<std::string>* devicesForCategory(const std::string& category) const;
    // The category's first device, else "Canvas".
    std::string defaultDeviceForCategory(const std::string& category) const;

    struct MenuType {
        std::string type;
        std::optional<std::string> skin;
        friend bool operator==(const MenuType&, const MenuType&) = default;
    };
    // Exactly one separator splits the text; none or several leave it whole, without skin.
    static MenuType parseMenuType(const std::string& menuType);
    static std::string createMenuType(const std::string& device, const std::optional<std::string>& skin);

private:
    std::map<std::string, DeviceDescriptor> devices_;
    std::vector<std::string> categories_{canvasDevice};
    std::map<std::string, std::vector<std::string>> categoryDevices_;
    std::vector<std::string> uncategorized_;
};

} // namespace kx
