// The device menu of a preview window: the catalogue's devices by category, sorted by kind and
// selector, with a separator between kinds, each a plain item or a submenu of its skins. It is
// rebuilt when the catalogue changes and keeps its check marks on the current device; a chosen
// item hands its menu type to the window. Main thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/NativeMenuItem.h"
#include "Platform/UI/Responder.h"

namespace kx {

class DeviceManager;
class DeviceMenuHost;

class DeviceSettingsMenuController : public Responder {
public:
    static constexpr const char* selectionAction = "handleSelectionWithMenuItem:";
    static constexpr const char* screenSizeOnlyTitle = "Screen Size Only";

    // Rebuilds on every catalogue change of `host`'s device manager.
    explicit DeviceSettingsMenuController(DeviceMenuHost& host);
    ~DeviceSettingsMenuController() override;

    void updateDeviceMenu();
    void updateDeviceMenuSelection();
    // The ids that have a descriptor, sorted by kind ("watch", "phone", "tablet", "computer",
    // "tv", then the others by name), then by selector, then by id: one total order, whatever
    // the catalogue holds. Ids without a descriptor are left out.
    std::vector<std::string> getSortedDeviceList(std::vector<std::string> devices) const;
    static std::vector<std::string> sortedDeviceList(const DeviceManager& manager, std::vector<std::string> devices);
    // The selectable items of the current menu, in the order they were made.
    const std::vector<std::shared_ptr<NativeMenuItem>>& menuItems() const { return menuItems_; }

private:
    std::shared_ptr<NativeMenuItem> createMenuItem(const std::string& title, const std::string& type);
    void addDevice(NativeMenu& menu, const std::string& device);
    void setMenuPathStates(NativeMenuItem* item, NativeMenuItem::State state);
    void handleSelection(Sender sender);

    DeviceMenuHost& host_;
    std::vector<std::shared_ptr<NativeMenuItem>> menuItems_;
    NotificationCenter::Token devicesObserver_;
};

} // namespace kx
