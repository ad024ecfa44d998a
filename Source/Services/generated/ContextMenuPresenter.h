// Context menus that the page asks native code to show.
#pragma once

#include "Services/generated/KorvelServices.h"
#include "Services/generated/ServiceDeclaration.h"

namespace kx::ContextMenuPresenter {

// showContextMenu shows the menu and answers the chosen item's position.
#define KX_ContextMenuPresenter_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                            \
    WITH_ARGUMENT(showContextMenu, KorvelServices::ContextMenu, KorvelServices::ContextMenuResult)

KX_SERVICE_INTERFACE(KX_ContextMenuPresenter_METHODS)

} // namespace kx::ContextMenuPresenter
