// What tells one version of a file from another without reading it: device, inode, size and
// modification time. A program that replaces a file (writes a new one and renames it over)
// changes the inode even when it keeps the date.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>

#include <sys/types.h>

namespace kx {

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNanoseconds = 0; // since the epoch
    bool isDirectory = false;

    // Of what is at `path` now (links followed); none when nothing is there.
    static std::optional<FileIdentity> of(const std::filesystem::path& path);
    std::chrono::system_clock::time_point modificationDate() const;

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

} // namespace kx
