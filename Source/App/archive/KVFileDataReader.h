// Reads a regular file in chunks. The file is opened on the first read, so that walking a
// folder without reading costs nothing.
#pragma once

#include <filesystem>
#include <vector>

#include "App/archive/KVDataReader.h"

class KVFileDataReader : public KVDataReader {
public:
    explicit KVFileDataReader(std::filesystem::path path);
    ~KVFileDataReader() override;
    KVFileDataReader(const KVFileDataReader&) = delete;
    KVFileDataReader& operator=(const KVFileDataReader&) = delete;

    // A missing file, a symbolic link or anything but a regular file is notFound.
    std::span<const std::byte> read() override;
    std::optional<std::uint64_t> expectedSize() const override;

private:
    std::filesystem::path path_;
    int fd_ = -1;
    bool finished_ = false;
    std::vector<std::byte> buffer_;
};
