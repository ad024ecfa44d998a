// Writes a zip package through libzip into a staged file beside the target (KVSaveStaging),
// flushed and renamed over the target only when every entry was written and the package, read
// back as the reader reads it, passes the reader's limits: a crash, a full disk, a failed read
// or a package that would not open again leaves the previous package as it was.
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
#include "App/archive/KVSaveStaging.h"
#include "App/archive/zip/KVZipLimits.h"

namespace kx {

class KVZipWriter {
public:
    using Opener = std::function<std::unique_ptr<KVDataReader>()>;

    // `target` is the file itself, symbolic links resolved (KVSaveStaging::resolve); `expected`
    // is what the save expects there (see KVSaveStaging).
    explicit KVZipWriter(std::filesystem::path target, const KVZipLimits& limits = {},
                         KVSaveStaging::Target expected = KVSaveStaging::Target::any);
    ~KVZipWriter();
    KVZipWriter(const KVZipWriter&) = delete;
    KVZipWriter& operator=(const KVZipWriter&) = delete;

    // When an entry's bytes may be read: at any time while `commit` runs, on any thread (its
    // `open` and its reader must allow that), or only once every entry added before it was
    // read through, on the committing thread (a list of what the others held).
    enum class Order { any, afterEarlierEntries };

    // Adds an entry whose bytes `open` delivers while `commit` runs, entries in the order
    // added. Already compressed formats are stored, and so are files larger than the limits'
    // ratio allowance (the reader would refuse one that compresses too well); everything else
    // is deflated. `size`, when known, saves Zip64 fields for small entries.
    void add(std::string name, Opener open, std::optional<std::uint64_t> size, Order order = Order::any);
    // Writes the package: the entries of known size are packed on every processor (see
    // Packing in the .cpp file) and written in the order added. Refuses first, with a clear
    // error, what the reader would refuse (too many entries, too large a directory, too many
    // bytes). Throws the first error of an entry's reader as it is (the other entries are then
    // left unread), or KVDocumentArchiveError::unknown for a failure to write or a package that
    // would not open again; the target is then unchanged and no worker still runs. Throws
    // savedButNotFlushed when only the final flush failed.
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
    struct Packing;

private:
    std::filesystem::path target_;
    KVZipLimits limits_;
    KVSaveStaging::Target expected_;
    std::vector<std::unique_ptr<Entry>> entries_;
};

} // namespace kx
