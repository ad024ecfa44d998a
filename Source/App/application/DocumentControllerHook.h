// Where the application reaches documents: the one document controller of the process, made
// when the application object is; opening files given at launch or by another instance, new
// and opened documents, the store in a document, saving before quitting and whether any
// document is open. It also wires the controller to the application (the start window, the
// recent documents, the update check) and the start window to the controller.
// Main thread only.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kx {

class DocumentControllerHook {
public:
    // Makes the shared document controller (once) and connects it with the application and
    // the start window. A controller already made (tests make their own) is connected instead.
    static void start();
    // Drops the controller made by `start` and the start window's connections to it.
    static void stop();

    // Reopens what was open when the application last ended (files and unsaved drafts), once
    // per process and only for a user who may open documents; true when something opened.
    static bool restoreDocuments();

    // The open documents.
    static std::size_t documentCount();

    // Files (as URIs) given on the command line or by another instance.
    static void openDocuments(const std::vector<std::string>& uris);
    // The New, Open and Open Project Folder commands. With nothing left on screen after a
    // cancelled or failed open, the start window comes back.
    static void newDocument();
    static void openDocument();
    static void openFolder();

    // Shows the store link in the open document whose window lies furthest back and brings
    // that window forward; false when no document is open.
    static bool showStoreInLastDocument(const std::string& url);
    // Makes an untitled document and shows the store link in that document; false when no
    // document was made (the sign-in gate refused).
    static bool showStoreInNewDocument(const std::string& url);

    // Saves every document that has a file (untitled documents are skipped).
    static void saveDocumentsWithFiles();
    // Before quitting: autosaves every document (untitled ones into their drafts) and keeps
    // the list for the next launch; false when one could not be saved and the user stays.
    static bool reviewDocumentsBeforeQuitting();
    // The same without questions, for an end the user did not ask for here (a signal, the
    // session ending).
    static void saveDocumentsBeforeEnding();
};

} // namespace kx
