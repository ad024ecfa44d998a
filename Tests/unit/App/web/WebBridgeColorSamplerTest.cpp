#include <gtest/gtest.h>

#include "App/web/WebBridgeColorSampler.h"

namespace {


// Keeps each picker request until the test answers it.
class HeldPicks final : public kx::ScreenColorSampler {
public:
    void showWithCompletion(std::function<void(std::optional<kx::Color>)> completion) override
    {
        waiting.push_back(std::move(completion));
    }
    std::vector<std::function<void(std::optional<kx::Color>)>> waiting;
};

TEST(WebBridgeColorSampler, PicksReachThePageAsRgbaText)
{
    EXPECT_EQ(kx::WebBridgeColorSampler::serviceColor(kx::Color{1, 0, 0, 1}).color, "rgba(255, 0, 0, 1.00)");
    EXPECT_EQ(kx::WebBridgeColorSampler::serviceColor(kx::Color{0.502, 0.2, 0.998, 0.5}).color, "rgba(128, 51, 254, 0.50)");
    EXPECT_EQ(kx::WebBridgeColorSampler::serviceColor(std::nullopt).color, std::nullopt);
}

TEST(WebBridgeColorSampler, ANewRequestAnswersTheWaitingOneWithNoColour)
{
    auto picks = std::make_shared<HeldPicks>();
    auto service = std::make_shared<kx::WebBridgeColorSampler>();
    std::vector<std::string> answers;
    auto record = [&](kx::Result<kx::KorvelServices::Color, kx::ServiceError> result) {
        answers.push_back(result.isFailure() ? "failure" : result.value().color.value_or("none"));
    };

    service->sampleColor(record);
    EXPECT_EQ(answers, std::vector<std::string>{"failure"}); // no picker installed

    service->setSampler(picks);
    service->sampleColor(record);
    service->sampleColor(record);
    EXPECT_EQ(answers, (std::vector<std::string>{"failure", "none"}));
    picks->waiting[0](kx::Color{0, 0, 1, 1}); // the replaced handler is never heard
    picks->waiting[1](kx::Color{0, 1, 0, 1});
    picks->waiting[1](kx::Color{0, 1, 0, 1});
    EXPECT_EQ(answers, (std::vector<std::string>{"failure", "none", "rgba(0, 255, 0, 1.00)"}));

    service->sampleColor(record);
    picks->waiting[2](std::nullopt);
    EXPECT_EQ(answers.back(), "none");
}

} // namespace
