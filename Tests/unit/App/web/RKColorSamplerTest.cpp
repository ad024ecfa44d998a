#include <gtest/gtest.h>

#include <vector>

#include "App/web/RKColorSampler.h"

using namespace kx;

namespace {

// A loupe that follows the window rules the sampler relies on: hiding a key loupe makes it
// resign; one that cannot read the screen resigns as soon as it is asked to show.
class LoupeDouble final : public RKColorSamplerWindowInterface {
public:
    void setDelegate(RKColorSamplerWindowDelegate* delegate) override { this->delegate = delegate; }
    void setAcceptsMouseMovedEvents(bool accepts) override { acceptsMouseMoved = accepts; }
    void makeKeyAndOrderFront() override
    {
        if (!screenReadable)
            return delegate->windowDidResignKey(*this);
        visible = key = true;
    }
    void orderOut() override
    {
        const bool wasKey = key;
        visible = key = false;
        if (wasKey)
            delegate->windowDidResignKey(*this);
    }

    // What the real loupe does on a click, on Escape and when its grab is taken.
    void click(std::optional<Color> color)
    {
        delegate->window(*this, {1, 2}, color);
        orderOut();
    }
    void escape() { orderOut(); }
    void breakGrab()
    {
        visible = key = false;
        delegate->windowDidResignKey(*this);
    }

    RKColorSamplerWindowDelegate* delegate = nullptr;
    bool acceptsMouseMoved = false;
    bool visible = false;
    bool key = false;
    bool screenReadable = true;
};

struct Picks {
    std::vector<std::optional<Color>> answers;
    RKColorSampler::Completion completion()
    {
        return [this](std::optional<Color> color) { answers.push_back(color); };
    }
};

struct Fixture {
    Fixture()
        : sampler(std::make_unique<LoupeDouble>())
        , loupe(static_cast<LoupeDouble&>(sampler.colorSamplerWindow()))
    {
    }
    RKColorSampler sampler;
    LoupeDouble& loupe;
    Picks picks;
};

const Color red{1, 0, 0, 1};

} // namespace

TEST(RKColorSampler, EachWayOutAnswersExactlyOnce)
{
    {
        Fixture f;
        EXPECT_EQ(f.loupe.delegate, &f.sampler);
        f.sampler.showWithCompletion(f.picks.completion());
        EXPECT_TRUE(f.loupe.key && f.loupe.visible && f.loupe.acceptsMouseMoved);
        EXPECT_TRUE(f.picks.answers.empty());
        // The click answers; the hiding that follows resigns, and finds nothing left to answer.
        f.loupe.click(red);
        EXPECT_EQ(f.picks.answers, (std::vector<std::optional<Color>>{red}));
        EXPECT_FALSE(f.loupe.visible || f.loupe.acceptsMouseMoved);
    }
    for (auto leave : {&LoupeDouble::escape, &LoupeDouble::breakGrab}) {
        Fixture f;
        f.sampler.showWithCompletion(f.picks.completion());
        (f.loupe.*leave)();
        EXPECT_EQ(f.picks.answers, (std::vector<std::optional<Color>>{std::nullopt}));
        EXPECT_FALSE(f.loupe.visible || f.loupe.acceptsMouseMoved);
        f.loupe.orderOut();
        f.loupe.click(red);
        EXPECT_EQ(f.picks.answers.size(), 1u);
    }
}

TEST(RKColorSampler, NothingToReadAnswersNoColourAtOnce)
{
    Fixture f;
    f.loupe.screenReadable = false;
    f.sampler.showWithCompletion(f.picks.completion());
    EXPECT_EQ(f.picks.answers, (std::vector<std::optional<Color>>{std::nullopt}));
    EXPECT_FALSE(f.loupe.visible || f.loupe.acceptsMouseMoved);

    // A click while no capture is held: no colour, not a crash.
    Fixture g;
    g.sampler.showWithCompletion(g.picks.completion());
    g.loupe.click(std::nullopt);
    EXPECT_EQ(g.picks.answers, (std::vector<std::optional<Color>>{std::nullopt}));
}

TEST(RKColorSampler, ANewPickTakesOverAndMayStartFromAnAnswer)
{
    Fixture f;
    Picks first;
    f.sampler.showWithCompletion(first.completion());
    f.sampler.showWithCompletion(f.picks.completion());
    f.loupe.click(red);
    EXPECT_TRUE(first.answers.empty());
    EXPECT_EQ(f.picks.answers.size(), 1u);

    // A completion that opens the next pick keeps that pick's completion pending.
    Picks next;
    f.sampler.showWithCompletion([&](std::optional<Color>) { f.sampler.showWithCompletion(next.completion()); });
    f.loupe.escape();
    EXPECT_TRUE(f.loupe.key);
    EXPECT_TRUE(next.answers.empty());
    f.loupe.escape();
    EXPECT_EQ(next.answers, (std::vector<std::optional<Color>>{std::nullopt}));

    // Resigning of some other window is not the loupe's.
    LoupeDouble other;
    f.sampler.showWithCompletion(f.picks.completion());
    f.sampler.windowDidResignKey(other);
    EXPECT_EQ(f.picks.answers.size(), 1u);
    EXPECT_TRUE(f.loupe.key);
}
