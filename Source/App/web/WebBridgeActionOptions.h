// What the page may set on a menu item with an enabled action: its title and check mark.
#pragma once

#include <optional>
#include <string>

namespace kx::WebBridge {

struct ActionOptions {
    std::optional<std::string> label; // the item's title
    std::optional<bool> checked;      // its check mark
    std::optional<bool> visible;      // kept as the page said; an invisible action is hidden
    friend bool operator==(const ActionOptions&, const ActionOptions&) = default;
};

} // namespace kx::WebBridge
