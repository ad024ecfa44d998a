// Watches a folder tree with inotify, one watch per folder, and reports on the main loop, in
// the order seen, every path below the root that may have changed: files
// written, created, removed, and both ends of a rename. A folder that appears is watched and
// its files are reported as they are found; a folder that goes is reported as a subtree.
// Folders the filter refuses are neither watched nor entered. When the kernel drops events
// (its queue overflowed) or no watch can be added (the user's watches ran out), `lostEvents`
// is called: what the reports say is then incomplete until the caller looks for itself.
// A burst of reports (another program writing hundreds of files) is handed over a few
// milliseconds' worth per turn of the main loop, so that the loop keeps turning; a path that
// waits to be reported is reported once, a path reported and changed again once more.
//
// GIO's file monitors are not used: they drop the kernel's overflow record and quietly poll
// for folders they could not watch, so a lost event could never be noticed. Main thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Foundation/SourceHandle.h"

namespace kx {

class KVDirectoryMonitor {
public:
    // A path relative to the root ("/"-separated); `subtree` when a whole folder went or came.
    using Handler = std::function<void(const std::string& relativePath, bool subtree)>;
    // Whether to watch the folder at this relative path (never asked for the root).
    using FolderFilter = std::function<bool(const std::string& relativeFolder)>;

    KVDirectoryMonitor(std::filesystem::path root, FolderFilter shouldWatch, Handler handler, std::function<void()> lostEvents);
    ~KVDirectoryMonitor();
    KVDirectoryMonitor(const KVDirectoryMonitor&) = delete;
    KVDirectoryMonitor& operator=(const KVDirectoryMonitor&) = delete;

    // Reads what the kernel holds and reports everything waiting, now: for a caller about to
    // act on what it knows of the files (a write over one of them). Not from within a report.
    void reportWaitingChanges();

    // True once an event was lost or a folder could not be watched.
    bool hasLostEvents() const { return lost_; }
    std::size_t watchCount() const { return folders_.size(); }

    // Test seam: a non-zero errno makes the next additions of watches fail so.
    static void setWatchFaultForTesting(int error);

private:
    void watchTree(const std::string& relativeFolder, bool reportFiles);
    bool addWatch(const std::string& relativeFolder);
    void unwatchTree(const std::string& relativeFolder);
    bool receive(bool wholly = false);
    // Hands over queued reports until the turn's time is up (or all of them, `wholly`); false
    // once the monitor is gone.
    bool deliver(bool wholly);
    void markLost();
    std::string join(const std::string& folder, const std::string& name) const;

    std::filesystem::path root_;
    FolderFilter shouldWatch_;
    Handler handler_;
    std::function<void()> lostEvents_;
    int fd_ = -1;
    SourceHandle source_;
    std::map<int, std::string> folders_;  // watch descriptor -> relative folder ("" = root)
    std::map<std::string, int> watches_;  // relative folder -> watch descriptor
    bool lost_ = false;
    std::vector<std::pair<std::string, bool>> pending_; // found by the current read
    std::deque<std::pair<std::string, bool>> queue_;    // waiting to be reported
    std::set<std::pair<std::string, bool>> queued_;     // the same, to report each once
    SourceHandle delivery_;                              // the next turn's delivery
    std::shared_ptr<bool> alive_;
};

} // namespace kx
