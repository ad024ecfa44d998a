// The preview window as project documents have it: registers with the documents so that each
// document made afterwards gets its own preview window, reading the document's project server,
// editor and window as they are at each moment (a restarted server, a window made later).
// Main thread only.
#pragma once

namespace kx {

class DocumentPreview {
public:
    // Once, when the application starts its documents.
    static void registerWithDocuments();
};

} // namespace kx
