// The seven edit commands that either the page or native code performs: their names with the
// page and in menu descriptions, their native actions and their default shortcuts.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace kx::WebBridge {

struct HybridAction {
    std::string action;         // "copy": the page's name, and the role in menu descriptions
    std::string nativeSelector; // "copy:": the responder action
    std::string accelerator;    // "Command+C", in the editor's accelerator notation

    static const HybridAction undo;
    static const HybridAction redo;
    static const HybridAction cut;
    static const HybridAction copy;
    static const HybridAction paste;
    static const HybridAction deleteAction; // "delete"
    static const HybridAction selectAll;
};

// The action that performs a page's web-only command named by the sender's represented object.
inline const std::string selector = "performWebAction:";

// The hybrid action of a menu role, none for any other role.
std::optional<HybridAction> hybridAction(const std::string& role);
const std::map<std::string, HybridAction>& roleToHybridActionMap();
// Native selector to the page's action name.
const std::map<std::string, std::string>& nativeSelectorToActionMap();

} // namespace kx::WebBridge
