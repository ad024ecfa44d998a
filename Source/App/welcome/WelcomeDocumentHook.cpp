#include "App/welcome/WelcomeDocumentHook.h"

#include "App/shell/RKLog.h"

namespace kx {

WelcomeDocumentHook& WelcomeDocumentHook::shared()
{
    static WelcomeDocumentHook* hook = [] {
        auto* made = new WelcomeDocumentHook();
        made->reset();
        return made;
    }();
    return *hook;
}

Error WelcomeDocumentHook::unavailableError()
{
    return Error(unavailableDomain, unavailableCode, "Documents are not available yet.");
}

void WelcomeDocumentHook::reset()
{
    openDocument = [](const std::filesystem::path&, bool, Completion completion) {
        RKLog(unavailableMessage, RKLogKind::general);
        if (completion)
            completion(unavailableError());
    };
    openTemplate = [](const std::filesystem::path&, const std::string&) -> std::optional<Error> {
        RKLog(unavailableMessage, RKLogKind::general);
        return unavailableError();
    };
    newDocument = [] { RKLog(unavailableMessage, RKLogKind::general); };
    openPanel = [] { RKLog(unavailableMessage, RKLogKind::general); };
    presentError = [](const Error& error) { RKLog("Cannot open the document: " + error.localizedDescription, RKLogKind::general); };
}

} // namespace kx
