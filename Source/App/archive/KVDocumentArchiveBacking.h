// The storage of a project archive: a folder or a zip file (or a filtered view of another
// backing). Relative paths use "/" and never leave the package.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <time.h>

#include "App/archive/KVDataReader.h"
#include "App/archive/KVDocumentArchiveManifest.h"
#include "Platform/Foundation/DateFormat.h"

namespace kx {

class KVDocumentArchive;

class KVDocumentArchiveBacking {
public:
    using Body = std::function<void(const std::string& relativePath, KVDataReader& reader)>;

    virtual ~KVDocumentArchiveBacking() = default;

    // The folder or zip file the archive lives in.
    virtual const std::filesystem::path& url() const = 0;
    virtual std::string documentTypeIdentifier() const = 0;
    // A backing for the same content at a new URL (after the platform moved the file).
    virtual std::shared_ptr<KVDocumentArchiveBacking> moved(const std::filesystem::path& to) const = 0;

    // A reader of one relative path. Throws notFound (at once or on the first read) when there
    // is no such file.
    virtual std::unique_ptr<KVDataReader> dataReader(const std::string& relativePath) const = 0;
    // Calls `body` once per file that KVDocumentArchive::shouldInclude accepts. The reader is
    // valid during the call only; files not read cost nothing.
    virtual void forEach(const Body& body) const = 0;
    // The same walk with the calls spread over the processors, several at once and in no given
    // order, each file once: `body` must be safe to call from several threads. The first
    // exception ends the walk and is thrown once no call runs any more.
    virtual void forEachConcurrently(const Body& body) const { forEach(body); }

    // Writes every file of `contentsOf` into this backing, replacing what it held (paths that
    // the include filter leaves out are not touched), and the manifest file when the backing
    // writes one. `updatedManifest` receives `updating`'s uuid with the entries of the files
    // as written. The package is wholly the old or wholly the new version at every moment, a
    // crash included. Nothing is changed when it throws, except that a save whose new version
    // is in place but whose final flush failed throws savedButNotFlushed after filling
    // `updatedManifest`.
    virtual void reflect(const KVDocumentArchive& contentsOf, const KVDocumentArchiveManifest& updating,
                         KVDocumentArchiveManifest& updatedManifest) = 0;

    // The latest modification date of the content, or none when it cannot be read.
    virtual std::optional<DateFormat::Clock::time_point> contentModificationDate() const = 0;

protected:
    // A file time as the archive's dates are.
    static DateFormat::Clock::time_point timeOf(const struct timespec& time)
    {
        using Clock = DateFormat::Clock;
        return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(time.tv_sec)
                                                                             + std::chrono::nanoseconds(time.tv_nsec)));
    }
};

} // namespace kx
