// What a zip file may ask of us before it is refused as hostile. Sizes are counted as bytes
// come out of the inflater, not taken from headers.
#pragma once

#include <cstdint>

struct KVZipLimits {
    // Entries in the central directory.
    std::uint64_t maximumEntries = 100'000;
    // Bytes inflated in one walk of the package, or from one entry.
    std::uint64_t maximumInflatedBytes = std::uint64_t(16) << 30;
    // Inflated bytes per compressed byte of one entry, checked once an entry has inflated more
    // than `ratioAllowance` bytes (small files may compress very well).
    std::uint64_t maximumRatio = 200;
    std::uint64_t ratioAllowance = std::uint64_t(1) << 20;
};
