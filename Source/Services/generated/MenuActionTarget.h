// The page's side of menu and edit actions: their states and their performing.
#pragma once

#include "Services/generated/KorvelServices.h"
#include "Services/generated/ServiceDeclaration.h"

namespace kx::MenuActionTarget {

// validate answers the states of the action (of every action for "*"); dispatch performs it.
#define KX_MenuActionTarget_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                                \
    WITH_ARGUMENT(validate, KorvelServices::MenuAction, KorvelServices::MenuValidationResult)        \
    WITH_ARGUMENT(dispatch, KorvelServices::MenuAction, KorvelServices::MenuDispatchResult)

KX_SERVICE_INTERFACE(KX_MenuActionTarget_METHODS)

} // namespace kx::MenuActionTarget
