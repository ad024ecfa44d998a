// The change tracking of a project folder against the file system: the directory monitor that
// reports changed paths, whether it lost events (its reports are then incomplete until the
// folder is read again), and the reads of large changed files, which run on a worker and count
// only while no newer report of the same file came. Main thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "App/archive/KVDocumentArchive.h"
#include "App/documents/container/KVDirectoryMonitor.h"

namespace kx {

class KVContainerFolderWatch {
public:
    using Entry = KVDocumentArchive::Manifest::Entry;
    using Log = std::function<void(const std::string& message)>;

    // A changed file from this size on is read and hashed on a worker: a file of megabytes
    // would stall the main loop.
    static constexpr std::uint64_t largeChangedFileSize = 1u << 20;

    // Watches the project folder from scratch (the paths archives include); a lost event is
    // logged and remembered.
    void start(const std::filesystem::path& projectDirectory, KVDirectoryMonitor::Handler changed, Log log);
    void stop() { monitor_.reset(); }
    // Reports now what the kernel or the monitor still holds (see KVDirectoryMonitor).
    void reportWaitingChanges()
    {
        if (monitor_)
            monitor_->reportWaitingChanges();
    }

    bool eventsWereLost() const { return eventsWereLost_; }
    void setEventsWereLost(bool lost) { eventsWereLost_ = lost; }

    // A report of `relativePath` came: a read of it still under way no longer counts.
    void supersedeRead(const std::string& relativePath) { pendingReads_.erase(relativePath); }
    // The whole file list was read again: it is newer than every read under way.
    void supersedeReads() { pendingReads_.clear(); }
    bool isReading(const std::string& relativePath) const { return pendingReads_.contains(relativePath); }
    // Starts a read of `relativePath` from `backing` on a worker; `finish` runs on the main
    // loop with the read's number and what it found: the file's entry, or none, with
    // `notFound` when the file is gone. Touches nothing of this object off the main loop.
    using Finish = std::function<void(std::uint64_t number, std::optional<Entry> entry, bool notFound)>;
    void startRead(std::shared_ptr<KVDocumentArchiveBacking> backing, const std::string& relativePath, Finish finish);
    // Whether the read `number` of `relativePath` is still the latest; it is done then.
    bool finishRead(const std::string& relativePath, std::uint64_t number);

    // Reads and hashes one file of `backing` on the calling thread; `notFound` when it is gone.
    // Throws what the backing throws but its notFound and the like.
    static std::optional<Entry> readEntry(const KVDocumentArchiveBacking& backing, const std::string& relativePath, bool& notFound);

private:
    std::unique_ptr<KVDirectoryMonitor> monitor_;
    bool eventsWereLost_ = false;
    std::map<std::string, std::uint64_t> pendingReads_; // path: the number of its latest read
    std::uint64_t readCount_ = 0;
};

} // namespace kx
