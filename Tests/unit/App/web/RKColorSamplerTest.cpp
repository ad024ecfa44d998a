#include <gtest/gtest.h>

#include <vector>

#include "App/web/RKColorSampler.h"

using namespace kx;

namespace {

// Keeps the window rules the sampler relies on: hiding a key loupe makes it resign (Escape and
// a taken grab do just that), and a loupe that cannot read the screen resigns at once.
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
    // As the loupe on screen takes a click.
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

struct Page {
    Page()
        : sampler(std::make_unique<LoupeDouble>())
        , loupe(static_cast<LoupeDouble&>(sampler.colorSamplerWindow()))
    {
    }
    void ask()
    {
        sampler.sampleColor([this](Result<KorvelServices::Color, ServiceError> answer) {
            answers.push_back(answer.isSuccess() ? answer.value().color.value_or("none") : "failure");
        });
    }
    RKColorSampler sampler;
    LoupeDouble& loupe;
    std::vector<std::string> answers;
};

} // namespace

TEST(RKColorSampler, EachRequestIsAnsweredOnceWithRgbaTextOrNoColour)
{
    Page page;
    page.ask();
    EXPECT_TRUE(page.loupe.key && page.loupe.acceptsMouseMoved);
    // The hiding after the click resigns too, and finds nothing left to answer.
    page.loupe.click(Color{1, 0, 0, 1});
    EXPECT_FALSE(page.loupe.key || page.loupe.acceptsMouseMoved);
    page.ask();
    page.loupe.click(Color{0.2, 0.6, 0.999, 0.5}); // rounded by the format, not truncated
    page.ask();
    page.loupe.click(std::nullopt); // no capture held
    page.ask();
    page.loupe.orderOut();
    page.loupe.click(Color{1, 0, 0, 1});
    EXPECT_EQ(page.answers, (std::vector<std::string>{"rgba(255, 0, 0, 1.00)", "rgba(51, 153, 255, 0.50)", "none", "none"}));
}

TEST(RKColorSampler, ATakenOverOrUnreadablePickIsCancelledAtOnce)
{
    Page page;
    bool nativeAnswered = false;
    page.sampler.showWithCompletion([&](std::optional<Color>) { nativeAnswered = true; });
    page.ask();
    page.ask();
    EXPECT_EQ(page.answers, std::vector<std::string>{"none"});
    page.loupe.click(Color{0, 0, 1, 1});
    EXPECT_FALSE(nativeAnswered);
    EXPECT_EQ(page.answers, (std::vector<std::string>{"none", "rgba(0, 0, 255, 1.00)"}));

    page.loupe.screenReadable = false;
    page.ask();
    EXPECT_EQ(page.answers.back(), "none");
    EXPECT_FALSE(page.loupe.acceptsMouseMoved);
}
