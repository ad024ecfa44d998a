// The page's ColorSampler service over the shared screen colour picker. A picked colour
// reaches the page as "rgba(r, g, b, a)", a cancelled pick as no colour. A request that
// arrives while another waits (from any web view) takes the picker over; the waiting one is
// answered with no colour, which the page treats as cancelled. Main thread only.
#pragma once

#include <memory>

#include "App/web/ScreenColorSampler.h"
#include "Services/generated/ColorSampler.h"

namespace kx {

class WebBridgeColorSampler final : public ColorSampler::Interface,
                                    public std::enable_shared_from_this<WebBridgeColorSampler> {
public:
    // The one every web view registers.
    static const std::shared_ptr<WebBridgeColorSampler>& shared();

    // Without a picker every request fails with an implementation error.
    void setSampler(std::shared_ptr<ScreenColorSampler> sampler);

    void sampleColor(CompletionHandler<KorvelServices::Color> completionHandler) override;

    static KorvelServices::Color serviceColor(const std::optional<Color>& color);

private:
    std::shared_ptr<ScreenColorSampler> sampler_;
    std::shared_ptr<CompletionHandler<KorvelServices::Color>> pending_;
};

} // namespace kx
