// The page's verdict on one menu or edit action, as the web view applies it to a menu item:
// enabled (with a title and check mark of the page's choice), disabled, hidden, or left to
// the web view's own handling. Its JSON form is true (enabled, without options), false, or
// "native"; hidden has none.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "App/web/WebBridgeActionOptions.h"
#include "Services/generated/KorvelServices.h"
#include "Services/runtime/JSONCoding.h"

namespace kx::WebBridge {

struct ActionState {
    enum class Kind { on, off, hidden, deferToNative };
    Kind kind = Kind::deferToNative;
    std::optional<ActionOptions> options; // `on` only

    static ActionState on(std::optional<ActionOptions> options = std::nullopt) { return {Kind::on, std::move(options)}; }
    static ActionState off() { return {Kind::off, std::nullopt}; }
    static ActionState hidden() { return {Kind::hidden, std::nullopt}; }
    static ActionState deferToNative() { return {Kind::deferToNative, std::nullopt}; }

    // First rule that holds: invisible is hidden, enabled is on, deferring is left to native
    // handling, anything else is off.
    static ActionState from(const KorvelServices::MenuActionState& state);
    // Action name to state, in the answer's order: a later state for a name replaces an earlier.
    static std::map<std::string, ActionState> states(const KorvelServices::MenuValidationResult& result);

    friend bool operator==(const ActionState&, const ActionState&) = default;
};

} // namespace kx::WebBridge

namespace kx {

template <>
struct JSONCoding<WebBridge::ActionState> {
    // Options are no part of the form: an enabled state is true. Hidden cannot be written.
    static void encode(JSONWriter& writer, const WebBridge::ActionState& state, const CodingPathNode* path);
    static WebBridge::ActionState decode(const nlohmann::json& json, const CodingPathNode* path);
};

} // namespace kx
