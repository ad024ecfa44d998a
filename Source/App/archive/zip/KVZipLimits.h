// What a zip file may ask of us before it is refused as hostile. The writer checks a package
// against the same limits before it replaces anything, so that every package we save opens again.
// Sizes are counted as bytes come out of the inflater, not taken from headers.
#pragma once

#include <cstdint>

namespace kx {

struct KVZipLimits {
    // Entries in the central directory.
    std::uint64_t maximumEntries = 100'000;
    // Bytes of the central directory, which opening keeps in memory as its records: 100,000
    // entries with names of 120 bytes fit.
    std::uint64_t maximumDirectoryLength = std::uint64_t(16) << 20;
    // Bytes inflated in one walk of the package, or from one entry. What a walk writes to disk
    // is also checked against the free space where it goes.
    std::uint64_t maximumInflatedBytes = std::uint64_t(16) << 30;
    // Inflated bytes per compressed byte of one entry, checked only once an entry has inflated
    // more than `ratioAllowance` bytes: a file that large is a bomb if it compresses that well.
    // Honest files may compress any amount below it (3 MB of zeros, one record repeated), and
    // the writer stores larger files uncompressed.
    std::uint64_t maximumRatio = 200;
    std::uint64_t ratioAllowance = std::uint64_t(1) << 30;
};

} // namespace kx
