// The page's side of menu and edit actions: their states and their performing.
#pragma once

#include "Services/runtime/Service.h"
#include "Services/generated/KorvelServices.h"

namespace kx::MenuActionTarget {

class Interface {
public:
    virtual ~Interface() = default;
    // The states of the action (of every action for "*").
    virtual void validate(KorvelServices::MenuAction value, CompletionHandler<KorvelServices::MenuValidationResult> completionHandler) = 0;
    // Performs the action.
    virtual void dispatch(KorvelServices::MenuAction value, CompletionHandler<KorvelServices::MenuDispatchResult> completionHandler) = 0;
};

class Service {
public:
    using Interface = MenuActionTarget::Interface;
    const std::string id = "__MenuActionTarget__";
    const std::string fingerprint = "c4db8a6e44e670207d8e4fa156aa7438";
    IncomingHandler newIncomingWrapper(std::shared_ptr<Interface> implementation) const;
    std::shared_ptr<Interface> newOutgoingWrapper(SendFunction helper) const;
};

const Service& service();

} // namespace kx::MenuActionTarget
