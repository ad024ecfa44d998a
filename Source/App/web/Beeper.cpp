#include "App/web/Beeper.h"

#include "Platform/UI/Workspace.h"

namespace kx {

void Beeper::beep(CompletionHandler<Unit> completionHandler)
{
    Workspace::shared().beep();
    completionHandler(Result<Unit, ServiceError>::success(Unit{}));
}

} // namespace kx
