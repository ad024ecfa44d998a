// The list of recently opened projects, kept in the desktop's recent-files store
// (GtkRecentManager, $XDG_DATA_HOME/recently-used.xbel), so that the file manager and the
// file choosers see the same list. The document controller notes each project it opens; the
// start window shows the list.
//
// The store is shared with every other application. Our items are the ones registered under
// our application's name whose path has a project extension: a folder project or a legacy
// project is a folder to the desktop ("inode/directory"), so the MIME type alone cannot tell.
// Main thread only (GTK).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "Platform/Foundation/GObjectRef.h"

namespace kx {

class RecentDocuments {
public:
    // One entry of the store as the selection sees it.
    struct Item {
        std::string uri;
        std::int64_t modified = 0; // seconds since the epoch
        std::vector<std::string> applications;
    };

    // The list holds at most this many projects: the store is any program's to write.
    static constexpr std::size_t maximumRecentDocumentCount = 100;

    // Over the desktop's own store, under the bundle's name.
    static RecentDocuments& shared();
    // Over `store`, registering items under `applicationName` with the command `applicationExec`
    // ("korvel-x %u").
    RecentDocuments(GObjectRef<GtkRecentManager> store, std::string applicationName, std::string applicationExec);

    // Our projects, most recently used first. Files that are gone are listed too: the store
    // keeps them, the reader decides.
    std::vector<std::filesystem::path> recentDocumentURLs() const;
    // Adds the project at `path`, or marks it as used now.
    void noteNewRecentDocumentURL(const std::filesystem::path& path);

    GtkRecentManager* store() const { return store_.get(); }
    const std::string& applicationName() const { return applicationName_; }

    // The selection and order of `recentDocumentURLs`: local files registered by
    // `applicationName` with a project extension, latest first (items of equal time keep their
    // order), at most `maximumRecentDocumentCount`.
    static std::vector<std::filesystem::path> select(const std::vector<Item>& items, const std::string& applicationName);
    // "korvelx" (zip or folder package) or "korvel" (legacy folder), exactly.
    static bool hasProjectExtension(const std::filesystem::path& path);

private:
    GObjectRef<GtkRecentManager> store_;
    std::string applicationName_;
    std::string applicationExec_;
};

} // namespace kx
