// The list of recently opened projects. Ours is a file of its own, the last hundred projects in
// the order they were used (one file URI a line, most recent first, in the application's data
// folder): the desktop's recent-files store (GtkRecentManager, $XDG_DATA_HOME/recently-used.xbel)
// forgets items older than a month outside GNOME and ranks them by whole seconds. Each project
// is noted in that store as well, so that the file manager and the file choosers see it. The
// document controller notes each project it opens; the start window shows the list.
//
// Before our list exists (the first launch of a version that keeps one), it starts from our
// items in the store: the ones registered under our application's name whose path has a
// project extension (a folder project or a legacy project is a folder to the desktop,
// "inode/directory", so the MIME type alone cannot tell).
//
// The list file is read as anyone could have written it: a file of at most `maximumListLength`
// bytes (no link, FIFO or device), lines that name no local file left out, a log line for what
// was not read. It is written whole or not at all. A list that cannot be read is never written
// over: the next project noted moves it aside (`unreadableSuffix` added to its name, a link
// moved, not followed) and starts a new one from the store as above, or, when that name is
// taken, leaves the list file alone. Main thread only (GTK).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtk/gtk.h>

#include "Platform/Foundation/GObjectRef.h"

namespace kx {

class RecentDocuments {
public:
    // One entry of the desktop's store as the selection sees it.
    struct Item {
        std::string uri;
        std::int64_t modified = 0; // seconds since the epoch
        std::vector<std::string> applications;
    };

    // The list holds at most this many projects.
    static constexpr std::size_t maximumRecentDocumentCount = 100;
    // Far beyond a hundred of the longest paths: a larger list file is not read.
    static constexpr std::size_t maximumListLength = 2 << 20;
    static constexpr const char* listFileName = "RecentDocuments.txt";
    static constexpr const char* unreadableSuffix = ".unreadable";

    // Over the desktop's own store, under the bundle's name, with our list in the
    // application's data folder.
    static RecentDocuments& shared();
    // Over `store`, registering items under `applicationName` with the command `applicationExec`
    // ("korvel-x %u"), with our list in `listFile`.
    RecentDocuments(GObjectRef<GtkRecentManager> store, std::string applicationName, std::string applicationExec,
                    std::filesystem::path listFile);

    // Our projects, most recently used first. Files that are gone are listed too: the list
    // keeps them, the reader decides.
    std::vector<std::filesystem::path> recentDocumentURLs() const;
    // Makes the project at `path` the most recent one, in our list and in the store.
    void noteNewRecentDocumentURL(const std::filesystem::path& path);
    // A listed project moved from `from` to `to`: listed there now, in the same place; the
    // store's item follows. Nothing when `from` is not listed.
    void documentURLDidMove(const std::filesystem::path& from, const std::filesystem::path& to);

    GtkRecentManager* store() const { return store_.get(); }
    const std::string& applicationName() const { return applicationName_; }
    const std::filesystem::path& listFile() const { return listFile_; }

    // The list file's text for `paths`, and back. Decoding keeps the order, drops repeats, and
    // counts the lines that name no absolute local path (blank lines aside); at most
    // `maximumRecentDocumentCount` paths are taken, the rest counted as left out too.
    static std::string encodeList(const std::vector<std::filesystem::path>& paths);
    struct DecodedList {
        std::vector<std::filesystem::path> paths;
        std::size_t leftOut = 0;
    };
    static DecodedList decodeList(std::string_view text);

    // Our items of the desktop's store, in the order of `recentDocumentURLs` before our list
    // existed: local files registered by `applicationName` with a project extension, latest
    // first (items of equal time keep their order), at most `maximumRecentDocumentCount`.
    static std::vector<std::filesystem::path> select(const std::vector<Item>& items, const std::string& applicationName);
    // "korvelx" (zip or folder package) or "korvel" (legacy folder), exactly.
    static bool hasProjectExtension(const std::filesystem::path& path);

private:
    // None when a list file is there but cannot be read (said once in the log).
    std::optional<std::vector<std::filesystem::path>> readList() const;
    // Moves an unreadable list file out of the list's way; false (logged) when it stays.
    bool moveUnreadableListAside() const;
    std::vector<std::filesystem::path> storeDocumentURLs() const;
    void noteInStore(const std::filesystem::path& path);
    // Writes `list` whole, or logs why it could not.
    void writeList(const std::vector<std::filesystem::path>& list) const;

    GObjectRef<GtkRecentManager> store_;
    std::string applicationName_;
    std::string applicationExec_;
    std::filesystem::path listFile_;
    mutable bool unreadableReported_ = false;
};

} // namespace kx
