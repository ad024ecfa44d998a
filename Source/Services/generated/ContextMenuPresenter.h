// Context menus that the page asks native code to show.
#pragma once

#include "Services/runtime/Service.h"
#include "Services/generated/KorvelServices.h"

namespace kx::ContextMenuPresenter {

class Interface {
public:
    virtual ~Interface() = default;
    // Shows the menu and answers the chosen item's position.
    virtual void showContextMenu(KorvelServices::ContextMenu value, CompletionHandler<KorvelServices::ContextMenuResult> completionHandler) = 0;
};

class Service {
public:
    using Interface = ContextMenuPresenter::Interface;
    const std::string id = "__ContextMenuPresenter__";
    const std::string fingerprint = "a93df917284e037b101c5c2e51738ad7";
    IncomingHandler newIncomingWrapper(std::shared_ptr<Interface> implementation) const;
    std::shared_ptr<Interface> newOutgoingWrapper(SendFunction helper) const;
};

const Service& service();

} // namespace kx::ContextMenuPresenter
