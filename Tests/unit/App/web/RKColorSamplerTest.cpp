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
