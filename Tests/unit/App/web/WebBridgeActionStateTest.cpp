#include <gtest/gtest.h>

#include "App/web/WebBridgeActionState.h"
#include "Services/runtime/JSONDecoder.h"

using kx::WebBridge::ActionOptions;
using kx::WebBridge::ActionState;

namespace {
kx::KorvelServices::MenuValidationResult answer(const char* json)
{
    return kx::JSONDecoder().decode<kx::KorvelServices::MenuValidationResult>(json);
}
} // namespace

TEST(WebBridgeActionState, TheFirstMatchingRuleOfThePageAnswerWins)
{
    const auto states = ActionState::states(answer(R"({"states": [
        {"action": "hidden", "enabled": true, "visible": false},
        {"action": "absent"},
        {"action": "both", "enabled": true, "deferToNative": true, "label": "Both", "checked": false, "visible": true},
        {"action": "native", "enabled": false, "deferToNative": true},
        {"action": "twice", "enabled": true},
        {"action": "twice", "enabled": false}
    ]})"));
    EXPECT_EQ(states.at("hidden"), ActionState::hidden());
    EXPECT_EQ(states.at("absent"), ActionState::off());
    EXPECT_EQ(states.at("both"), ActionState::on(ActionOptions{"Both", false, true}));
    EXPECT_EQ(states.at("native"), ActionState::deferToNative());
    EXPECT_EQ(states.at("twice"), ActionState::off()); // the later state counts
    EXPECT_EQ(states.size(), 5u);
}
