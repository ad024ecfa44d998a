#include "App/web/RKColorSampler.h"

#include <utility>

#include "App/web/RKColorSamplerGeometry.h"
#include "App/web/RKColorSamplerWindow.h"

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

void RKColorSampler::sampleColor(CompletionHandler<KorvelServices::Color> completionHandler)
{
    using Answer = Result<KorvelServices::Color, ServiceError>;
    // The loupe forgets the pick it replaces; that page hears "cancelled" instead of nothing.
    if (auto waiting = std::exchange(pendingRequest_, nullptr))
        (*waiting)(Answer::success({}));
    auto request = std::make_shared<CompletionHandler<KorvelServices::Color>>(std::move(completionHandler));
    pendingRequest_ = request;
    showWithCompletion([this, request](std::optional<Color> color) {
        if (pendingRequest_ != request)
            return;
        pendingRequest_.reset();
        KorvelServices::Color answer;
        if (color)
            answer.color = "rgba" + color->RGBAColorString();
        (*request)(Answer::success(std::move(answer)));
    });
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
