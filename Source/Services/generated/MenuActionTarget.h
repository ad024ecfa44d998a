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

using Service = GeneratedService<Interface>;

const Service& service();

} // namespace kx::MenuActionTarget
