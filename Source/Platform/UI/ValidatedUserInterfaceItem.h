// What asks the responder chain whether its action is available: a menu item, a toolbar item.
// Validation looks at the action and, for menu items, may change the item itself.
#pragma once

#include <string>

namespace kx {

class NativeMenuItem;

class ValidatedUserInterfaceItem {
public:
    virtual ~ValidatedUserInterfaceItem() = default;
    // The action selector ("copy:"), empty for none.
    virtual const std::string& action() const = 0;
    virtual NativeMenuItem* asMenuItem() { return nullptr; }
};

} // namespace kx
