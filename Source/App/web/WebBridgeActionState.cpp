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
