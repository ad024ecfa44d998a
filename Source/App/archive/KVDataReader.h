// A reader that hands out the bytes of one file of a package in chunks, so that no file is
// ever held in memory whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kx {

class KVDataReader {
public:
    virtual ~KVDataReader() = default;
    // The next chunk, valid until the next call; empty once every byte was handed out.
    // Throws KVDocumentArchiveError (notFound when the file does not exist).
    virtual std::span<const std::byte> read() = 0;
    // The number of bytes the reader expects to hand out, when known beforehand.
    virtual std::optional<std::uint64_t> expectedSize() const { return std::nullopt; }

    // The size of chunks that readers hand out and writers buffer.
    static constexpr std::size_t chunkSize = 1 << 20;
};

} // namespace kx
