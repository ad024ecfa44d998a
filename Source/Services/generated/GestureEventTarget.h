// The page's receiver of trackpad gestures.
#pragma once

#include "Services/generated/KorvelServices.h"
#include "Services/generated/ServiceDeclaration.h"

namespace kx::GestureEventTarget {

// dispatchMagnificationEvent hands one step of a pinch gesture to the page.
#define KX_GestureEventTarget_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                              \
    WITH_ARGUMENT(dispatchMagnificationEvent, KorvelServices::MagnificationEvent, Unit)

KX_SERVICE_INTERFACE(KX_GestureEventTarget_METHODS)

} // namespace kx::GestureEventTarget
