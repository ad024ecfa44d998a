// What the page may set on a menu item with an enabled action: its title and check mark. Its
// JSON form is an object with the optional keys "label", "checked" and "visible".
#pragma once

#include <optional>
#include <string>

#include "Services/runtime/ServiceRecord.h"

namespace kx::WebBridge {

struct ActionOptions {
    std::optional<std::string> label; // the item's title
    std::optional<bool> checked;      // its check mark
    std::optional<bool> visible;      // kept as the page said; an invisible action is hidden
    KX_RECORD(ActionOptions, label, checked, visible)
    friend bool operator==(const ActionOptions&, const ActionOptions&) = default;
};

} // namespace kx::WebBridge
