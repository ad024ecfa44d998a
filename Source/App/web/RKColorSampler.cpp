#include "App/web/RKColorSampler.h"

#include <utility>

#include "App/web/RKColorSamplerGeometry.h"
#include "App/web/RKColorSamplerWindow.h"
#include "Platform/Foundation/MainQueue.h"

namespace kx {

const std::shared_ptr<RKColorSampler>& RKColorSampler::shared()
{
    // Never destroyed: its window must not outlive the display at exit.
    static const auto* instance = new std::shared_ptr<RKColorSampler>(std::make_shared<RKColorSampler>());
    return *instance;
}

RKColorSampler::RKColorSampler()
{
    using RKColorSamplerGeometry::loupeSide;
    configureSamplerWindow(std::make_unique<RKColorSamplerWindow>(Rect{{0, 0}, {loupeSide, loupeSide}}));
}

RKColorSampler::RKColorSampler(std::unique_ptr<RKColorSamplerWindowInterface> window)
{
    configureSamplerWindow(std::move(window));
}

RKColorSampler::~RKColorSampler()
{
    colorSamplerWindow_->setDelegate(nullptr);
}

void RKColorSampler::configureSamplerWindow(std::unique_ptr<RKColorSamplerWindowInterface> window)
{
    colorSamplerWindow_ = std::move(window);
    colorSamplerWindow_->setDelegate(this);
}

void RKColorSampler::showWithCompletion(Completion completion)
{
    completion_ = std::move(completion);
    colorSamplerWindow_->setAcceptsMouseMovedEvents(true);
    colorSamplerWindow_->makeKeyAndOrderFront();
}

void RKColorSampler::window(RKColorSamplerWindowInterface&, Point, std::optional<Color> withColor)
{
    // Taken out first: the completion may open the next pick.
    if (auto completion = std::exchange(completion_, nullptr))
        completion(withColor);
}

void RKColorSampler::windowDidResignKey(RKColorSamplerWindowInterface& window)
{
    if (&window != colorSamplerWindow_.get())
        return;
    window.setAcceptsMouseMovedEvents(false);
    window.orderOut();
    if (auto completion = std::exchange(completion_, nullptr))
        completion(std::nullopt);
}

} // namespace kx
