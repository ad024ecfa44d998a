#include <gtest/gtest.h>

#include "App/web/WebBridgeActionState.h"
#include "Services/runtime/JSONDecoder.h"
#include "Services/runtime/JSONEncoder.h"

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

TEST(WebBridgeActionState, StatesAndOptionsHaveTheirJSONForms)
{
    const kx::JSONDecoder decoder;
    EXPECT_EQ(decoder.decode<ActionState>("true"), ActionState::on());
    EXPECT_EQ(decoder.decode<ActionState>("false"), ActionState::off());
    EXPECT_EQ(decoder.decode<ActionState>(R"("native")"), ActionState::deferToNative());
    for (const char* other : {R"("Native")", R"("hidden")", "1", "null", "{}", "[true]"}) {
        try {
            decoder.decode<ActionState>(other);
            ADD_FAILURE() << other;
        } catch (const kx::DecodingError& error) {
            EXPECT_EQ(error.kind(), kx::DecodingError::Kind::typeMismatch) << other;
            EXPECT_EQ(error.debugDescription(), R"(ActionState must be true, false or "native")") << other;
        }
    }

    const kx::JSONEncoder encoder;
    EXPECT_EQ(encoder.encode(ActionState::on(ActionOptions{"Copy", true, true})), "true");
    EXPECT_EQ(encoder.encode(ActionState::off()), "false");
    EXPECT_EQ(encoder.encode(ActionState::deferToNative()), R"("native")");
    EXPECT_THROW(encoder.encode(ActionState::hidden()), kx::EncodingError);

    EXPECT_EQ(decoder.decode<ActionOptions>(R"({"label": "Copy Layer", "checked": null, "other": 1})"),
              (ActionOptions{"Copy Layer", std::nullopt, std::nullopt}));
    EXPECT_EQ(decoder.decode<ActionOptions>("{}"), ActionOptions{});
    EXPECT_THROW(decoder.decode<ActionOptions>(R"({"checked": 1})"), kx::DecodingError);
    EXPECT_EQ(encoder.encode(ActionOptions{"A", false, std::nullopt}), R"({"label":"A","checked":false})");
}
