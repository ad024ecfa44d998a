// Watches one document file or folder for being renamed, moved or removed: a GFileMonitor with
// move tracking on the item itself, and a descriptor held on the item (O_PATH), which follows
// it wherever it goes within its file system, also where the monitor cannot tell (inotify
// reports a move out of the folder without its destination).
//
// The held item is the document's file, known by its device and inode, whatever stands at the
// path: an item that left the path is reported where it went, also when another one took its
// place at once (`mv A B; mkdir A` is a move to B). What stands at the path is taken for the
// document's file only where it replaced it: a save of ours, or another program that renamed
// a new file over the old one (the document then checks that file's version before it writes
// over it). A folder in place of one deleted is another folder, and the document's is gone.
//
// An item put in the Trash is watched there too: taken out again, to its path or anywhere else
// outside the Trash, it is reported as moved to where it is now, until the owner makes a new
// watcher for it. Moved from one place in the Trash to another (emptying the Trash moves each
// item to "expunged" before it deletes it there), it is still in the Trash. A deleted one is
// gone for good. Main thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>

#include <gio/gio.h>

#include "Platform/Foundation/FileDescriptor.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

class DocumentFileWatcher {
public:
    // What became of the item that left the path: moved to `movedTo` (also out of the Trash
    // again), else to a Trash folder (where it lies there, `trashedTo`) or deleted.
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
    // Whether what stands at `path` now is the item followed (not another one put there).
    bool holdsItemAt(const std::filesystem::path& path) const;

    // Around a save of ours at the path: what stands there meanwhile is the save's work (a
    // folder's old version aside under another name, say), not news. Once it ended, the new
    // item at the path is followed from now on (at once, not when the monitor's report of it
    // arrives, which may come after a move of it), unless the one held left for another place
    // meanwhile: that is a move, told at the next look.
    void ownWriteBegins() { ++ownWrites_; }
    void ownWriteEnded();

    // For a caller about to write: where the item went, as the held item tells now, taken
    // note of as a report of the monitor would be. The monitor's report may still be on its
    // way (inotify holds back the first half of a move for its second, and the report then
    // waits for the main loop). None while the item, or a file put in its place (held from now
    // on), stands at the path; once it left, each call tells where it is (in the Trash, out of
    // it again, or deleted).
    std::optional<Departure> takeDepartureNow();

    // The held item opened as a folder, wherever it is now: to write beneath it through the
    // descriptor, never through the path, which another program may give to another folder
    // meanwhile. None when the item held is not a folder, or nothing is held.
    FileDescriptor openHeldFolder() const;

    // Whether `path` lies anywhere under a Trash root: the home's ($XDG_DATA_HOME/Trash, or
    // .local/share/Trash of any home) or a volume's (.Trash-UID, .Trash/UID), in "files", "info",
    // "expunged" or anything else there. Nothing else named Trash is one.
    static bool isInTrash(const std::filesystem::path& path);

private:
    // Where the held item is, when it still is.
    struct Place {
        bool held = false;    // an item is held
        bool deleted = false; // the held item is no longer in any folder
        std::optional<std::filesystem::path> path;
    };

    void changed(GFile* file, GFile* otherFile, GFileMonitorEvent event);
    // What became of the item since it was last looked for, taken note of (the state moves
    // on); `reported` is where the monitor says it went (used when nothing is held).
    std::optional<Departure> takeDeparture(const std::optional<std::filesystem::path>& reported);
    // The same for each state: the item last seen at the path, or in the Trash.
    std::optional<Departure> takeDepartureFromPath(const std::optional<std::filesystem::path>& reported);
    std::optional<Departure> takeWayOutOfTrash();
    // The item is at `to` now, somewhere other than the path: into the Trash (watched there),
    // within it, or out of it.
    std::optional<Departure> takeArrival(const std::filesystem::path& to);
    Place heldPlace() const;
    // Holds the item now at the path, if any.
    void holdItem();
    void watchInTrash(const std::filesystem::path& trashedTo);
    GObjectRef<GFileMonitor> monitor(const std::filesystem::path& path, SignalConnection& connection);
    static void closeAside(int descriptor);

    enum class State { atPath, inTrash, deleted };

    std::filesystem::path path_;
    Moved moved_;
    Removed removed_;
    GObjectRef<GFileMonitor> monitor_;
    SignalConnection connection_;
    // Where the item lies in the Trash, watched for its way out.
    GObjectRef<GFileMonitor> trashMonitor_;
    SignalConnection trashConnection_;
    std::filesystem::path trashedTo_;
    State state_ = State::atPath;
    int ownWrites_ = 0;
    int item_ = -1;
};

} // namespace kx
