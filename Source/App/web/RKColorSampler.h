// Picks a colour anywhere on the screen: shows the loupe, and reports the colour the user
// clicked, or none when the loupe closed without a click (Escape, lost keyboard, or a screen
// that cannot be read). One sampler serves the whole process and every web view's page; each
// pick is answered once.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "App/shell/Color.h"
#include "App/web/RKColorSamplerWindowDelegate.h"
#include "App/web/RKColorSamplerWindowInterface.h"
#include "Services/generated/ColorSampler.h"

namespace kx {

class RKColorSampler final : public RKColorSamplerWindowDelegate, public ColorSampler::Interface {
public:
    using Completion = std::function<void(std::optional<Color>)>;

    // Made on first use, on the main thread, and kept for the life of the process.
    static const std::shared_ptr<RKColorSampler>& shared();

    // With the loupe window on screen.
    RKColorSampler();
    // With another loupe window.
    explicit RKColorSampler(std::unique_ptr<RKColorSamplerWindowInterface> window);
    ~RKColorSampler() override;
    RKColorSampler(const RKColorSampler&) = delete;
    RKColorSampler& operator=(const RKColorSampler&) = delete;

    // Opens the loupe for `completion`. A pick still pending is taken over: its completion is
    // never called.
    void showWithCompletion(Completion completion);

    // The page's request: a picked colour as "rgba(r, g, b, a)", a cancelled pick as no colour.
    // It never fails. A request still waiting when another one takes the loupe over (from any
    // page) is answered with no colour.
    void sampleColor(CompletionHandler<KorvelServices::Color> completionHandler) override;

    RKColorSamplerWindowInterface& colorSamplerWindow() const { return *colorSamplerWindow_; }

    void window(RKColorSamplerWindowInterface& window, Point clickedAtPoint, std::optional<Color> withColor) override;
    void windowDidResignKey(RKColorSamplerWindowInterface& window) override;

private:
    void configureSamplerWindow(std::unique_ptr<RKColorSamplerWindowInterface> window);

    std::unique_ptr<RKColorSamplerWindowInterface> colorSamplerWindow_;
    Completion completion_;
    std::shared_ptr<CompletionHandler<KorvelServices::Color>> pendingRequest_;
};

} // namespace kx
