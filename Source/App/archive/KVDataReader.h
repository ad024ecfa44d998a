// A reader that hands out the bytes of one file of a package in chunks, so that no file is
// ever held in memory whole.
#pragma once

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

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

// Hands out bytes already in memory (a manifest's text, a document a page handed over), shared
// and not copied.
class KVMemoryDataReader : public KVDataReader {
public:
    explicit KVMemoryDataReader(std::shared_ptr<const std::string> bytes)
        : bytes_(std::move(bytes))
    {
    }
    std::span<const std::byte> read() override
    {
        auto rest = std::as_bytes(std::span(bytes_->data(), bytes_->size())).subspan(offset_);
        rest = rest.first(std::min(rest.size(), chunkSize));
        offset_ += rest.size();
        return rest;
    }
    std::optional<std::uint64_t> expectedSize() const override { return bytes_->size(); }

private:
    std::shared_ptr<const std::string> bytes_;
    std::size_t offset_ = 0;
};

} // namespace kx
