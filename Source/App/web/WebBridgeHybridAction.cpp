#include "App/web/WebBridgeHybridAction.h"

namespace kx::WebBridge {

const HybridAction HybridAction::undo{"undo", "undo:", "Command+Z"};
const HybridAction HybridAction::redo{"redo", "redo:", "Command+Shift+Z"};
const HybridAction HybridAction::cut{"cut", "cut:", "Command+X"};
const HybridAction HybridAction::copy{"copy", "copy:", "Command+C"};
const HybridAction HybridAction::paste{"paste", "paste:", "Command+V"};
const HybridAction HybridAction::deleteAction{"delete", "delete:", "Backspace"};
const HybridAction HybridAction::selectAll{"selectAll", "selectAll:", "Command+A"};

const std::map<std::string, HybridAction>& roleToHybridActionMap()
{
    static const std::map<std::string, HybridAction> map = [] {
        std::map<std::string, HybridAction> rows;
        for (const HybridAction* row : {&HybridAction::undo, &HybridAction::redo, &HybridAction::cut, &HybridAction::copy,
                                        &HybridAction::paste, &HybridAction::deleteAction, &HybridAction::selectAll})
            rows.emplace(row->action, *row);
        return rows;
    }();
    return map;
}

const std::map<std::string, std::string>& nativeSelectorToActionMap()
{
    static const std::map<std::string, std::string> map = [] {
        std::map<std::string, std::string> selectors;
        for (const auto& [action, row] : roleToHybridActionMap())
            selectors.emplace(row.nativeSelector, action);
        return selectors;
    }();
    return map;
}

std::optional<HybridAction> hybridAction(const std::string& role)
{
    const auto& map = roleToHybridActionMap();
    if (auto found = map.find(role); found != map.end())
        return found->second;
    return std::nullopt;
}

} // namespace kx::WebBridge
