// The screen colour sampler, opened for the page.
#pragma once

#include "Services/runtime/Service.h"
#include "Services/generated/KorvelServices.h"

namespace kx::ColorSampler {

class Interface {
public:
    virtual ~Interface() = default;
    // The colour the user picked; no colour when the sampler closed without one.
    virtual void sampleColor(CompletionHandler<KorvelServices::Color> completionHandler) = 0;
};

class Service {
public:
    using Interface = ColorSampler::Interface;
    const std::string id = "__ColorSampler__";
    const std::string fingerprint = "47e58950414de7a0679a8b7847789793";
    IncomingHandler newIncomingWrapper(std::shared_ptr<Interface> implementation) const;
    std::shared_ptr<Interface> newOutgoingWrapper(SendFunction helper) const;
};

const Service& service();

} // namespace kx::ColorSampler
