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

using Service = GeneratedService<Interface>;

const Service& service();

} // namespace kx::ContextMenuPresenter
