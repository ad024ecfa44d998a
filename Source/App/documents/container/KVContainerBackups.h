// The timed zip backups of one project folder: the document JSON and the code files, in the
// project's ".backups". Owns what the last attempt backed up (an unchanged project is not
// backed up again), the interval between two cycles and the writing of one backup, which runs
// on a worker. Main thread, except where said.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/archive/KVDocumentArchive.h"
#include "Platform/Foundation/DateFormat.h"

namespace kx {

class KVContainerBackups {
public:
    using ManifestEntries = KVDocumentArchive::Manifest::Files;
    using Done = std::function<void(std::optional<std::string> error)>;

    static constexpr int maximumBackups = 42;

    explicit KVContainerBackups(std::filesystem::path projectDirectory);

    // The name of a backup made at `date`, in local time ("2026-12-06 13.05.09").
    static std::string backupName(DateFormat::Clock::time_point date);
    // A minute unless a test shortens it.
    static std::chrono::milliseconds interval();
    static void setIntervalForTesting(std::optional<std::chrono::milliseconds> interval);

    // Removes what backups cut short by a crash left in their hidden staging folder; a backup of
    // another container may be under way, so only old leftovers go.
    void removeStaleStaging() const;
    std::filesystem::path folder() const;
    // The project folder moved: later backups go into its new place.
    void projectDirectoryDidMove(std::filesystem::path to) { projectDirectory_ = std::move(to); }

    // The part of `project` a backup carries.
    static std::shared_ptr<KVDocumentArchive> view(const KVDocumentArchive& project);
    // The files a backup of `view` carries, listed on a worker (walking a large project's folder
    // takes the main loop more than a frame); `done` runs on the main loop with them, and with
    // the error's text, if the walk failed, beside what it listed before that.
    struct Listing {
        std::vector<std::string> paths;
        std::optional<std::string> error;
    };
    static void list(std::shared_ptr<KVDocumentArchive> view, std::function<void(Listing)> done);
    // Whether `state` (each backed-up file with its entry) differs from the last attempt's. It
    // is recorded in either case, also when the backup that follows fails.
    bool recordAttempt(ManifestEntries state);
    // Writes `view` as a backup dated `date` on a worker and keeps the newest backups; `done`
    // runs on the main loop with the error's text, if any. Touches nothing of this object.
    void write(std::shared_ptr<KVDocumentArchive> view, DateFormat::Clock::time_point date, Done done) const;

private:
    std::filesystem::path projectDirectory_;
    ManifestEntries lastBackupManifestEntries_;
};

} // namespace kx
