// The central directory of a zip file, read and checked by our own code before libzip reads
// anything: libzip does not say where entries lie, and overlapping entries (one compressed
// stream listed many times) are how the worst zip bombs work. The directory is read in order
// through one small buffer, and each name is kept once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "App/archive/zip/KVZipLimits.h"

namespace kx {

class KVZipDirectory {
public:
    struct Record {
        std::string name;
        std::uint64_t size = 0;
        std::uint64_t compressedSize = 0;
        std::uint64_t localHeaderOffset = 0;
        // Where the entry's bytes begin, past its local header.
        std::uint64_t dataOffset = 0;
        std::uint32_t crc = 0;
        std::uint16_t method = 0;
        std::uint16_t flags = 0;
        bool isDirectory() const { return !name.empty() && name.back() == '/'; }
    };

    // Reads the directory of the zip file open as `fd` (`size` bytes). Throws
    // KVDocumentArchiveError::invalidBacking, naming `path` and the reason, for a file that is
    // not a zip, is truncated or damaged, has more entries, a larger directory or more bytes
    // than `limits` allow, or has an entry that is encrypted, compressed other than stored or
    // deflated, past the ratio, a symbolic link, named unsafely or twice, or overlapping another.
    static KVZipDirectory read(int fd, std::uint64_t size, const KVZipLimits& limits, const std::string& path);

    // In directory order, folders included.
    const std::vector<Record>& records() const { return records_; }
    const Record* find(std::string_view name) const;

private:
    std::vector<Record> records_;
    // Indexes of records_ in name order.
    std::vector<std::uint32_t> byName_;
};

} // namespace kx
