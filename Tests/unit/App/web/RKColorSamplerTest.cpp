#include <gtest/gtest.h>

#include <vector>

#include "App/web/RKColorSampler.h"

using namespace kx;

namespace {

// Keeps the window rules the sampler relies on: hiding a key loupe makes it resign, and a
// loupe that cannot read the screen resigns as soon as it is asked to show.
class LoupeDouble final : public RKColorSamplerWindowInterface {
public:
    void setDelegate(RKColorSamplerWindowDelegate* delegate) override { this->delegate = delegate; }
    void setAcceptsMouseMovedEvents(bool accepts) override { acceptsMouseMoved = accepts; }
    void makeKeyAndOrderFront() override
    {
        key = screenReadable;
        if (!key)
            delegate->windowDidResignKey(*this);
    }
    void orderOut() override
    {
        if (std::exchange(key, false))
            delegate->windowDidResignKey(*this);
    }
    // As the loupe on screen reacts to a click; Escape is orderOut, a taken grab the same
    // without ungrabbing.
    void click(std::optional<Color> color)
    {
        delegate->window(*this, {1, 2}, color);
        orderOut();
    }

    RKColorSamplerWindowDelegate* delegate = nullptr;
    bool acceptsMouseMoved = false;
    bool key = false;
    bool screenReadable = true;
};

struct Pick {
    Pick()
        : sampler(std::make_unique<LoupeDouble>())
        , loupe(static_cast<LoupeDouble&>(sampler.colorSamplerWindow()))
    {
    }
    void show()
    {
        sampler.showWithCompletion([this](std::optional<Color> color) { answers.push_back(color); });
    }
    RKColorSampler sampler;
    LoupeDouble& loupe;
    std::vector<std::optional<Color>> answers;
};

using Answers = std::vector<std::optional<Color>>;
const Color red{1, 0, 0, 1};

} // namespace

TEST(RKColorSampler, AClickAnswersOnceThoughHidingAlsoResigns)
{
    Pick pick;
    pick.show();
    EXPECT_TRUE(pick.loupe.key && pick.loupe.acceptsMouseMoved);
    pick.loupe.click(red);
    EXPECT_EQ(pick.answers, Answers{red});
    EXPECT_FALSE(pick.loupe.key || pick.loupe.acceptsMouseMoved);

    // A click while no capture is held: no colour, not a crash.
    pick.show();
    pick.loupe.click(std::nullopt);
    EXPECT_EQ(pick.answers, (Answers{red, std::nullopt}));
}

TEST(RKColorSampler, CancellingOrAnUnreadableScreenAnswersNoColourOnce)
{
    Pick escape;
    escape.show();
    escape.loupe.orderOut();
    escape.loupe.click(red);
    EXPECT_EQ(escape.answers, Answers{std::nullopt});

    Pick unreadable;
    unreadable.loupe.screenReadable = false;
    unreadable.show();
    EXPECT_EQ(unreadable.answers, Answers{std::nullopt});
    EXPECT_FALSE(unreadable.loupe.acceptsMouseMoved);
}

TEST(RKColorSampler, ASecondPickTakesOverTheFirst)
{
    Pick pick;
    bool firstAnswered = false;
    pick.sampler.showWithCompletion([&](std::optional<Color>) { firstAnswered = true; });
    pick.show();
    pick.loupe.click(red);
    EXPECT_FALSE(firstAnswered);
    EXPECT_EQ(pick.answers, Answers{red});
}

TEST(RKColorSampler, ThePageHearsRgbaTextOrNoColourAndNeverAFailure)
{
    Pick pick;
    std::vector<Result<KorvelServices::Color, ServiceError>> page;
    auto ask = [&] { pick.sampler.sampleColor([&](auto answer) { page.push_back(std::move(answer)); }); };

    ask();
    pick.loupe.click(red);
    ask();
    pick.loupe.click(Color{0.2, 0.6, 0.999, 0.5});
    ask();
    pick.loupe.orderOut();
    // Taken over by a second request: the first hears "cancelled" at once, the second the pick.
    ask();
    ask();
    ASSERT_EQ(page.size(), 4u);
    pick.loupe.click(red);
    ASSERT_EQ(page.size(), 5u);

    std::vector<std::optional<std::string>> texts;
    for (const auto& answer : page) {
        ASSERT_TRUE(answer.isSuccess());
        texts.push_back(answer.value().color);
    }
    EXPECT_EQ(texts, (std::vector<std::optional<std::string>>{"rgba(255, 0, 0, 1.00)", "rgba(51, 153, 255, 0.50)",
                                                                std::nullopt, std::nullopt, "rgba(255, 0, 0, 1.00)"}));
}
