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

using Service = GeneratedService<Interface>;

const Service& service();

} // namespace kx::ColorSampler
