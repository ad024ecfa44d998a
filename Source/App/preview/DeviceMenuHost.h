// What the device menu needs of the window it serves: the document's catalogue, the menu to
// fill and the item that holds it, the device shown now, and where a choice goes.
#pragma once

#include <string>

namespace kx {

class DeviceManager;
class NativeMenu;
class NativeMenuItem;

class DeviceMenuHost {
public:
    virtual ~DeviceMenuHost() = default;
    virtual const DeviceManager& deviceManager() const = 0;
    // nullptr when the window has none.
    virtual NativeMenu* deviceCategoriesMenu() const = 0;
    virtual NativeMenuItem* deviceMenuItem() const = 0;
    virtual std::string deviceMenuType() const = 0;
    virtual void handleDeviceMenuSelection(const std::string& menuType) = 0;
};

} // namespace kx
