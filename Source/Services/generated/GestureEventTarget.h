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

class Service {
public:
    using Interface = GestureEventTarget::Interface;
    const std::string id = "__GestureEventTarget__";
    const std::string fingerprint = "eea70ddc08f14b4c6d18b1989490f536";
    IncomingHandler newIncomingWrapper(std::shared_ptr<Interface> implementation) const;
    std::shared_ptr<Interface> newOutgoingWrapper(SendFunction helper) const;
};

const Service& service();

} // namespace kx::GestureEventTarget
