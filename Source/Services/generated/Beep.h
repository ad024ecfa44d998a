// The system beep, sounded for the page.
#pragma once

#include "Services/generated/ServiceDeclaration.h"

namespace kx::Beep {

#define KX_Beep_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                                            \
    WITHOUT_ARGUMENT(beep, Unit)

KX_SERVICE_INTERFACE(KX_Beep_METHODS)

} // namespace kx::Beep
