// Reads a regular file in chunks. The file is opened on the first read, so that walking a
// folder without reading costs nothing. Opened as a path inside a package folder, no component
// of the path may be a symbolic link.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "App/archive/KVDataReader.h"

namespace kx {

class KVFileDataReader : public KVDataReader {
public:
    explicit KVFileDataReader(std::filesystem::path path);
    // The file at a safe relative path inside `root`; `root` itself may be a link.
    KVFileDataReader(const std::filesystem::path& root, const std::string& relativePath);
    ~KVFileDataReader() override;
    KVFileDataReader(const KVFileDataReader&) = delete;
    KVFileDataReader& operator=(const KVFileDataReader&) = delete;

    // A missing file, a symbolic link or anything but a regular file is notFound.
    std::span<const std::byte> read() override;
    std::optional<std::uint64_t> expectedSize() const override;

private:
    int open() const;

    std::filesystem::path path_;
    std::filesystem::path root_;
    std::string relativePath_;
    int fd_ = -1;
    bool finished_ = false;
    std::unique_ptr<std::byte[]> buffer_;
    std::size_t bufferSize_ = 0;
};

} // namespace kx
