// Where the application reaches documents: opening files given at launch or by another
// instance, new and opened documents, the store in a document, saving before quitting and
// whether any document is open. Documents are not part of the application yet: this file
// says so honestly (no document is ever open, an open logs that documents are not available
// and shows the start window) until the document controller takes its place.
// Main thread only.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kx {

class DocumentControllerHook {
public:
    // The open documents.
    static std::size_t documentCount();

    // Files (as URIs) given on the command line or by another instance.
    static void openDocuments(const std::vector<std::string>& uris);
    // The New and Open commands.
    static void newDocument();
    static void openDocument();

    // Shows the store link in the open document whose window lies furthest back and brings
    // that window forward; false when no document is open.
    static bool showStoreInLastDocument(const std::string& url);
    // Makes an untitled document and shows the store link in that document; false when no
    // document was made (the sign-in gate refused, or documents are not available).
    static bool showStoreInNewDocument(const std::string& url);

    // Saves every document that has a file (untitled documents are skipped).
    static void saveDocumentsWithFiles();
    // Before quitting: lets the user save or discard unsaved changes; false to stay.
    static bool reviewDocumentsBeforeQuitting();
};

} // namespace kx
