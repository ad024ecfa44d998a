#include "App/shell/application/DocumentControllerHook.h"

#include "App/shell/RKLog.h"
#include "App/shell/application/WelcomeWindowHook.h"

namespace kx {

namespace {

void documentsNotAvailable(const std::string& what)
{
    RKLog(what + ": documents are not available yet", 0);
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
    // Nothing else is on screen for an open that did not happen.
    WelcomeWindowHook::show();
}

void DocumentControllerHook::newDocument()
{
    documentsNotAvailable("No new document");
    WelcomeWindowHook::show();
}

void DocumentControllerHook::openDocument()
{
    documentsNotAvailable("No open panel");
    WelcomeWindowHook::show();
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
