// Writes a zip package through libzip into a temporary file beside the target, flushed and
// renamed over the target only when every entry was written: a crash, a full disk or a failed
// read leaves the previous package as it was.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "App/archive/KVDataReader.h"

class KVZipWriter {
public:
    using Opener = std::function<std::unique_ptr<KVDataReader>()>;

    explicit KVZipWriter(std::filesystem::path target);
    ~KVZipWriter();
    KVZipWriter(const KVZipWriter&) = delete;
    KVZipWriter& operator=(const KVZipWriter&) = delete;

    // Adds an entry whose bytes `open` delivers while `commit` runs, entries in the order
    // added. Already compressed formats are stored, everything else deflated. `size`, when
    // known, saves Zip64 fields for small entries.
    void add(std::string name, Opener open, std::optional<std::uint64_t> size);
    // Writes the package. Throws the first error of an entry's reader as it is, or
    // KVDocumentArchiveError::unknown for a failure to write; the target is then unchanged.
    void commit();

    // Puts an empty zip file (an end record alone) at `target`, atomically.
    static void writeEmpty(const std::filesystem::path& target);

    // PNG, JPEG, WebP, GIF and zip files, by extension.
    static bool isAlreadyCompressed(std::string_view name);
    // zlib's default level: the same trade as `zip -r`.
    static constexpr int compressionLevel = 6;

    // The state behind libzip's callbacks (defined in the .cpp file).
    struct Entry;
    struct Output;

private:
    std::filesystem::path target_;
    std::vector<std::unique_ptr<Entry>> entries_;
};
