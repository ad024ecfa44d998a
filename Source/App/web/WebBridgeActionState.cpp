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

Result<ActionState, std::string> ActionState::fromJSON(const nlohmann::json& json)
{
    using R = Result<ActionState, std::string>;
    if (json.is_boolean())
        return R::success(json.get<bool>() ? on() : off());
    if (json.is_string() && json.get_ref<const std::string&>() == "native")
        return R::success(deferToNative());
    return R::failure("ActionState must be true, false or \"native\"");
}

Result<ActionOptions, std::string> ActionState::optionsFromJSON(const nlohmann::json& json)
{
    using R = Result<ActionOptions, std::string>;
    if (!json.is_object())
        return R::failure("ActionOptions must be an object");
    auto member = [&json](const char* key) -> const nlohmann::json* {
        auto found = json.find(key);
        return found == json.end() || found->is_null() ? nullptr : &*found;
    };
    ActionOptions options;
    if (const auto* label = member("label")) {
        if (!label->is_string())
            return R::failure("\"label\" must be a string");
        options.label = label->get<std::string>();
    }
    for (auto [key, field] : {std::pair{"checked", &options.checked}, std::pair{"visible", &options.visible}}) {
        if (const auto* value = member(key)) {
            if (!value->is_boolean())
                return R::failure(std::string("\"") + key + "\" must be a Boolean");
            *field = value->get<bool>();
        }
    }
    return R::success(std::move(options));
}

} // namespace kx::WebBridge
