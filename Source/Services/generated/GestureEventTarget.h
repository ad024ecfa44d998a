// The page's receiver of trackpad gestures.
#pragma once

#include "Services/runtime/Service.h"
#include "Services/generated/KorvelServices.h"

namespace kx::GestureEventTarget {

class Interface {
public:
    virtual ~Interface() = default;
    // Hands one step of a pinch gesture to the page.
    virtual void dispatchMagnificationEvent(KorvelServices::MagnificationEvent value, CompletionHandler<Unit> completionHandler) = 0;
};

using Service = GeneratedService<Interface>;

const Service& service();

} // namespace kx::GestureEventTarget
