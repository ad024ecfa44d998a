// Reads a zip package: our own checks of its directory first (KVZipDirectory), then libzip for
// each entry's bytes, counted and capped as they are inflated. libzip reads one entry at a time
// from a one-entry zip file of our making (the entry's local record where it lies in the
// package, and a directory that lists it alone), so it never holds the package's directory
// and readers need no lock between them. Shared by the readers it hands out; safe to use from
// several threads.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "App/archive/KVDataReader.h"
#include "App/archive/zip/KVZipDirectory.h"
#include "App/archive/zip/KVZipLimits.h"

namespace kx {

class KVZipReader : public std::enable_shared_from_this<KVZipReader> {
public:
    using Record = KVZipDirectory::Record;
    // Bytes inflated so far by the readers that share it; one per walk of the package.
    using Budget = std::shared_ptr<std::atomic<std::uint64_t>>;

    // Throws notFound, invalidBacking (with the reason) or unknown.
    static std::shared_ptr<KVZipReader> open(const std::filesystem::path& path, const KVZipLimits& limits = {});
    ~KVZipReader();
    KVZipReader(const KVZipReader&) = delete;
    KVZipReader& operator=(const KVZipReader&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // In directory order, folders included.
    const std::vector<Record>& records() const { return directory_.records(); }
    const Record* find(const std::string& name) const { return directory_.find(name); }

    // A reader of one entry's bytes. A CRC mismatch, an entry that inflates to more or fewer
    // bytes than it declares, past the ratio or past the budget throws invalidBacking.
    std::unique_ptr<KVDataReader> reader(const Record& record, Budget budget = nullptr);
    static Budget makeBudget() { return std::make_shared<std::atomic<std::uint64_t>>(0); }

    const KVZipLimits& limits() const { return limits_; }

private:
    class EntryReader;
    KVZipReader(std::filesystem::path path, const KVZipLimits& limits);

    std::filesystem::path path_;
    KVZipLimits limits_;
    KVZipDirectory directory_;
    int fd_ = -1;
};

} // namespace kx
