#include "App/shell/application/DocumentControllerHook.h"

#include "App/shell/RKLog.h"
#include "App/shell/application/PDApplication.h"

namespace kx {

namespace {

void documentsNotAvailable(const std::string& what)
{
    RKLog(what + ": documents are not available yet", 0);
}

// With nothing else on screen, the start window comes back.
void showStartWindow()
{
    if (PDApplication* application = PDApplication::current())
        application->showWelcomeWindow(nullptr);
}

} // namespace

std::size_t DocumentControllerHook::documentCount()
{
    return 0;
}

void DocumentControllerHook::openDocuments(const std::vector<std::string>& uris)
{
    if (uris.empty())
        return;
    documentsNotAvailable("Not opening " + std::to_string(uris.size()) + (uris.size() == 1 ? " file" : " files"));
    showStartWindow();
}

void DocumentControllerHook::newDocument()
{
    documentsNotAvailable("No new document");
    showStartWindow();
}

void DocumentControllerHook::openDocument()
{
    documentsNotAvailable("No open panel");
    showStartWindow();
}

bool DocumentControllerHook::showStoreInLastDocument(const std::string&)
{
    return false;
}

bool DocumentControllerHook::showStoreInNewDocument(const std::string&)
{
    documentsNotAvailable("No document for the store");
    return false;
}

void DocumentControllerHook::saveDocumentsWithFiles()
{
}

bool DocumentControllerHook::reviewDocumentsBeforeQuitting()
{
    return true;
}

} // namespace kx
