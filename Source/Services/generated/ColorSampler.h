// The screen colour sampler, opened for the page.
#pragma once

#include "Services/generated/KorvelServices.h"
#include "Services/generated/ServiceDeclaration.h"

namespace kx::ColorSampler {

// sampleColor answers the colour the user picked; no colour when the sampler closed without one.
#define KX_ColorSampler_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                                    \
    WITHOUT_ARGUMENT(sampleColor, KorvelServices::Color)

KX_SERVICE_INTERFACE(KX_ColorSampler_METHODS)

} // namespace kx::ColorSampler
