#include "App/web/WebBridgeActionState.h"

namespace kx::WebBridge {

ActionState ActionState::from(const KorvelServices::MenuActionState& state)
{
    if (state.visible == false)
        return hidden();
    if (state.enabled == true)
        return on(ActionOptions{state.label, state.checked, state.visible});
    if (state.deferToNative == true)
        return deferToNative();
    return off();
}

std::map<std::string, ActionState> ActionState::states(const KorvelServices::MenuValidationResult& result)
{
    std::map<std::string, ActionState> states;
    for (const auto& state : result.states)
        states.insert_or_assign(state.action, from(state));
    return states;
}

} // namespace kx::WebBridge

namespace kx {

void JSONCoding<WebBridge::ActionState>::encode(JSONWriter& writer, const WebBridge::ActionState& state,
                                                const CodingPathNode* path)
{
    using Kind = WebBridge::ActionState::Kind;
    switch (state.kind) {
    case Kind::on:
        return writer.writeBool(true);
    case Kind::off:
        return writer.writeBool(false);
    case Kind::deferToNative:
        return writer.writeString("native", path);
    case Kind::hidden:
        break;
    }
    throw EncodingError::invalidValue(path, "ActionState hidden has no JSON form");
}

WebBridge::ActionState JSONCoding<WebBridge::ActionState>::decode(const nlohmann::json& json, const CodingPathNode* path)
{
    if (json.is_boolean())
        return json.get<bool>() ? WebBridge::ActionState::on() : WebBridge::ActionState::off();
    if (json.is_string() && json.get_ref<const std::string&>() == "native")
        return WebBridge::ActionState::deferToNative();
    throw DecodingError(DecodingError::Kind::typeMismatch, path ? path->materialize() : std::vector<std::string>{},
                        "ActionState must be true, false or \"native\"");
}

} // namespace kx
