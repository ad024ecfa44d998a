// The system beep, sounded for the page.
#pragma once

#include "Services/runtime/Service.h"

namespace kx::Beep {

class Interface {
public:
    virtual ~Interface() = default;
    // Sounds the beep.
    virtual void beep(CompletionHandler<Unit> completionHandler) = 0;
};

class Service {
public:
    using Interface = Beep::Interface;
    const std::string id = "__Beep__";
    const std::string fingerprint = "61a1004615dc1e33269b7165105b3499";
    IncomingHandler newIncomingWrapper(std::shared_ptr<Interface> implementation) const;
    std::shared_ptr<Interface> newOutgoingWrapper(SendFunction helper) const;
};

const Service& service();

} // namespace kx::Beep
