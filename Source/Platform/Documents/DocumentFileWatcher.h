// Watches one document file or folder for being renamed, moved or removed: a GFileMonitor with
// move tracking on the item itself, and a descriptor held on the item (O_PATH), which follows
// it wherever it goes within its file system, also where the monitor cannot tell (inotify
// reports a move out of the folder without its destination). Something renamed onto the path
// (a save of ours, another program replacing the file) is no move of the document and is not
// reported. Main thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>

#include <gio/gio.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

class DocumentFileWatcher {
public:
    // What became of the item that left the path: moved to `movedTo`, else to a Trash folder
    // (where it lies there, `trashedTo`) or deleted.
    struct Departure {
        std::optional<std::filesystem::path> movedTo;
        std::optional<std::filesystem::path> trashedTo;
        bool trashed() const { return trashedTo.has_value(); }
    };

    using Moved = std::function<void(const std::filesystem::path& to)>;
    // The item left its path for a Trash folder or was deleted.
    using Removed = std::function<void(const Departure& gone)>;

    // Nothing is watched when the monitor cannot be made (the error is ignored: a document
    // whose file is not watched still saves safely, it only misses renames).
    DocumentFileWatcher(std::filesystem::path path, Moved moved, Removed removed = {});
    ~DocumentFileWatcher();
    DocumentFileWatcher(const DocumentFileWatcher&) = delete;
    DocumentFileWatcher& operator=(const DocumentFileWatcher&) = delete;

    const std::filesystem::path& path() const { return path_; }
    bool isWatching() const { return bool(monitor_); }

    // A save of ours put a new file at the path: that one is followed from now on (at once, not
    // when the monitor's report of it arrives, which may come after a move of it).
    void itemWasReplaced() { holdItem(); }

    // For a caller about to write at the path: whether the item left it, as the held item tells
    // now. The monitor's report may still be on its way (inotify holds back the first half of
    // a move for its second, and the report then waits for the main loop). None while the item,
    // or a file put in its place (held from now on), stands at the path.
    std::optional<Departure> departureNow();

    // Whether `path` lies in a Trash folder (the home's or a volume's).
    static bool isInTrash(const std::filesystem::path& path);

private:
    void changed(GFile* file, GFile* otherFile, GFileMonitorEvent event);
    // Whether something stands at the path; what does is held.
    bool holdsWhatStandsAtPath();
    // Where the held item went, else where the monitor says (`reported`); none when it cannot
    // be told or it is back at the path.
    std::optional<Departure> departure(const std::optional<std::filesystem::path>& reported) const;
    // Holds the item now at the path, if any.
    void holdItem();
    static void closeAside(int descriptor);

    std::filesystem::path path_;
    Moved moved_;
    Removed removed_;
    GObjectRef<GFileMonitor> monitor_;
    SignalConnection connection_;
    int item_ = -1;
};

} // namespace kx
