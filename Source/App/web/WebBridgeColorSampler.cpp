#include "App/web/WebBridgeColorSampler.h"

namespace kx {

const std::shared_ptr<WebBridgeColorSampler>& WebBridgeColorSampler::shared()
{
    static const auto sampler = std::make_shared<WebBridgeColorSampler>();
    return sampler;
}

void WebBridgeColorSampler::setSampler(std::shared_ptr<ScreenColorSampler> sampler)
{
    sampler_ = std::move(sampler);
}

KorvelServices::Color WebBridgeColorSampler::serviceColor(const std::optional<Color>& color)
{
    if (!color)
        return {std::nullopt};
    return {"rgba" + color->RGBAColorString()};
}

void WebBridgeColorSampler::sampleColor(CompletionHandler<KorvelServices::Color> completionHandler)
{
    using Answer = Result<KorvelServices::Color, ServiceError>;
    if (!sampler_)
        return completionHandler(Answer::failure(ServiceError::implementation("No screen colour sampler")));
    // The picker drops the handler it replaces; its page hears "no colour" instead of nothing.
    if (auto waiting = std::exchange(pending_, nullptr))
        (*waiting)(Answer::success(serviceColor(std::nullopt)));
    auto request = std::make_shared<CompletionHandler<KorvelServices::Color>>(std::move(completionHandler));
    pending_ = request;
    sampler_->showWithCompletion([weak = weak_from_this(), request](std::optional<Color> color) {
        // Only the request that still waits is answered, and only once.
        auto self = weak.lock();
        if (!self || self->pending_ != request)
            return;
        self->pending_.reset();
        (*request)(Answer::success(serviceColor(color)));
    });
}

} // namespace kx
