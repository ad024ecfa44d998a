#include "App/archive/zip/KVZipDirectory.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>
#include <string_view>
#include <unistd.h>
#include <unordered_set>

#include "App/archive/KVArchivePath.h"
#include "App/archive/KVDocumentArchiveError.h"

namespace {

constexpr std::uint32_t centralSignature = 0x02014b50;
constexpr std::uint32_t localSignature = 0x04034b50;
constexpr std::uint32_t endSignature = 0x06054b50;
constexpr std::uint32_t zip64EndSignature = 0x06064b50;
constexpr std::uint32_t zip64LocatorSignature = 0x07064b50;
constexpr size_t endLength = 22;
constexpr size_t centralLength = 46;
constexpr size_t localLength = 30;
// A central directory of 100,000 entries with long names stays far below this.
constexpr std::uint64_t maximumDirectoryLength = 256 << 20;

// Little-endian fields of a block read from the file; reading past its end is damage.
class Block {
public:
    Block(const std::vector<std::uint8_t>& bytes, const std::string& path)
        : bytes_(bytes)
        , path_(path)
    {
    }
    std::uint64_t field(size_t at, size_t width) const
    {
        if (at + width > bytes_.size() || at + width < at)
            throw KVDocumentArchiveError::invalidBacking(path_, "The zip file is damaged (a record is cut short).");
        std::uint64_t value = 0;
        for (size_t i = width; i-- > 0;)
            value = (value << 8) | bytes_[at + i];
        return value;
    }
    std::uint16_t u16(size_t at) const { return static_cast<std::uint16_t>(field(at, 2)); }
    std::uint32_t u32(size_t at) const { return static_cast<std::uint32_t>(field(at, 4)); }
    std::uint64_t u64(size_t at) const { return field(at, 8); }

private:
    const std::vector<std::uint8_t>& bytes_;
    const std::string& path_;
};

// Whether the name can be a path on this system: no more than PATH_MAX bytes in all and
// NAME_MAX in one component. Also what keeps the folder walks over deep names short.
bool fitsInAFolder(std::string_view name)
{
    if (name.size() >= PATH_MAX)
        return false;
    for (size_t start = 0; start < name.size();) {
        size_t end = std::min(name.find('/', start), name.size());
        if (end - start > NAME_MAX)
            return false;
        start = end + 1;
    }
    return true;
}

} // namespace

std::vector<KVZipDirectory::Record> KVZipDirectory::read(int fd, std::uint64_t size, const KVZipLimits& limits,
                                                          const std::string& path)
{
    auto refuse = [&](const std::string& reason) { return KVDocumentArchiveError::invalidBacking(path, reason); };
    auto load = [&](std::uint64_t offset, std::uint64_t length) {
        if (offset > size || length > size - offset)
            throw refuse("The zip file is truncated or damaged.");
        std::vector<std::uint8_t> bytes(length);
        size_t done = 0;
        while (done < length) {
            ssize_t count = ::pread(fd, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0)
                throw KVDocumentArchiveError::unknown(kx::Error::fromErrno(errno, "Cannot read " + path));
            if (count == 0)
                throw refuse("The zip file is truncated.");
            done += static_cast<size_t>(count);
        }
        return bytes;
    };

    if (size < endLength)
        throw refuse("The file is too short to be a zip file.");

    // The end record is the last one whose comment reaches exactly to the end of the file.
    std::uint64_t tailLength = std::min<std::uint64_t>(size, endLength + 0xFFFF);
    auto tailBytes = load(size - tailLength, tailLength);
    Block tail(tailBytes, path);
    std::optional<size_t> end;
    for (size_t at = tailLength - endLength + 1; at-- > 0;) {
        if (tail.u32(at) == endSignature && at + endLength + tail.u16(at + 20) == tailLength) {
            end = at;
            break;
        }
    }
    if (!end)
        throw refuse("The file is not a zip file, or it is truncated.");
    std::uint64_t endOffset = size - tailLength + *end;

    std::uint64_t disk = tail.u16(*end + 4), directoryDisk = tail.u16(*end + 6);
    std::uint64_t entriesOnDisk = tail.u16(*end + 8), entries = tail.u16(*end + 10);
    std::uint64_t directoryLength = tail.u32(*end + 12), directoryOffset = tail.u32(*end + 16);
    std::uint64_t directoryLimit = endOffset;
    if (endOffset >= 20) {
        auto locatorBytes = load(endOffset - 20, 20);
        Block locator(locatorBytes, path);
        if (locator.u32(0) == zip64LocatorSignature) {
            std::uint64_t recordOffset = locator.u64(8);
            if (locator.u32(4) != 0 || locator.u32(16) > 1)
                throw refuse("Zip files spread over several disks are not supported.");
            if (recordOffset > endOffset - 20 || endOffset - 20 - recordOffset < 56)
                throw refuse("The zip file is damaged (its Zip64 end record is misplaced).");
            auto recordBytes = load(recordOffset, 56);
            Block record(recordBytes, path);
            if (record.u32(0) != zip64EndSignature)
                throw refuse("The zip file is damaged (its Zip64 end record is missing).");
            disk = record.u32(16);
            directoryDisk = record.u32(20);
            entriesOnDisk = record.u64(24);
            entries = record.u64(32);
            directoryLength = record.u64(40);
            directoryOffset = record.u64(48);
            directoryLimit = recordOffset;
        }
    }
    if (disk != 0 || directoryDisk != 0 || entriesOnDisk != entries)
        throw refuse("Zip files spread over several disks are not supported.");
    if (entries > limits.maximumEntries)
        throw refuse("The package has more than " + std::to_string(limits.maximumEntries) + " entries.");
    if (directoryOffset > directoryLimit || directoryLength > directoryLimit - directoryOffset)
        throw refuse("The zip file is damaged (its directory lies outside the file).");
    if (directoryLength > maximumDirectoryLength)
        throw refuse("The zip file’s directory is too large.");

    auto directoryBytes = load(directoryOffset, directoryLength);
    Block directory(directoryBytes, path);
    std::vector<Record> records;
    records.reserve(entries);
    std::unordered_set<std::string> names;
    std::uint64_t declaredTotal = 0;
    size_t at = 0;
    for (std::uint64_t index = 0; index < entries; ++index) {
        if (directory.u32(at) != centralSignature)
            throw refuse("The zip file is damaged (a directory entry is missing).");
        std::uint16_t madeBy = directory.u16(at + 4);
        Record record;
        record.flags = directory.u16(at + 8);
        record.method = directory.u16(at + 10);
        record.compressedSize = directory.u32(at + 20);
        record.size = directory.u32(at + 24);
        size_t nameLength = directory.u16(at + 28), extraLength = directory.u16(at + 30);
        size_t commentLength = directory.u16(at + 32);
        std::uint64_t startDisk = directory.u16(at + 34);
        std::uint32_t external = directory.u32(at + 38);
        record.localHeaderOffset = directory.u32(at + 42);
        size_t nameAt = at + centralLength;
        directory.field(nameAt, nameLength + extraLength + commentLength);
        record.name.assign(reinterpret_cast<const char*>(directoryBytes.data() + nameAt), nameLength);

        // Zip64: the fields that hold all ones are in the extra field 0x0001, in this order.
        bool needsZip64 = record.size == 0xFFFFFFFF || record.compressedSize == 0xFFFFFFFF
                          || record.localHeaderOffset == 0xFFFFFFFF || startDisk == 0xFFFF;
        for (size_t extra = nameAt + nameLength; needsZip64 && extra + 4 <= nameAt + nameLength + extraLength;) {
            std::uint16_t id = directory.u16(extra), length = directory.u16(extra + 2);
            size_t value = extra + 4, valueEnd = value + length;
            if (valueEnd > nameAt + nameLength + extraLength)
                break;
            if (id == 0x0001) {
                auto take = [&](std::uint64_t& field, std::uint64_t marker, size_t width) {
                    if (field != marker)
                        return;
                    if (value + width > valueEnd)
                        throw refuse("The zip file is damaged (a Zip64 field is missing).");
                    field = directory.field(value, width);
                    value += width;
                };
                take(record.size, 0xFFFFFFFF, 8);
                take(record.compressedSize, 0xFFFFFFFF, 8);
                take(record.localHeaderOffset, 0xFFFFFFFF, 8);
                take(startDisk, 0xFFFF, 4);
                needsZip64 = false;
            }
            extra = valueEnd;
        }
        if (needsZip64)
            throw refuse("The zip file is damaged (a Zip64 field is missing).");
        at = nameAt + nameLength + extraLength + commentLength;

        const std::string shown = KVArchivePath::isValidUTF8(record.name) ? record.name : "(unreadable name)";
        if (startDisk != 0)
            throw refuse("Zip files spread over several disks are not supported.");
        if (!KVArchivePath::isSafeRelativePath(record.name))
            throw refuse("The entry “" + shown + "” has a name that leads outside the project or is not allowed.");
        if (!fitsInAFolder(record.name))
            throw refuse("The entry “" + shown + "” has a name too long to be stored in a folder.");
        if (!names.insert(record.name).second)
            throw refuse("The entry “" + shown + "” is listed twice.");
        int host = madeBy >> 8;
        if ((host == 3 || host == 19) && ((external >> 16) & 0xF000) == 0xA000)
            throw refuse("The entry “" + shown + "” is a symbolic link.");
        if (record.flags & 0x0041)
            throw refuse("The entry “" + shown + "” is encrypted; encrypted packages are not supported.");
        if (record.method != 0 && record.method != 8)
            throw refuse("The entry “" + shown + "” is compressed with a method other than stored or deflated.");
        if (record.method == 0 && record.size != record.compressedSize)
            throw refuse("The zip file is damaged (the sizes of “" + shown + "” disagree).");
        if (record.size > limits.ratioAllowance && record.size / std::max<std::uint64_t>(record.compressedSize, 1) >= limits.maximumRatio)
            throw refuse("The entry “" + shown + "” expands more than a project file can.");
        declaredTotal += record.size;
        if (record.size > limits.maximumInflatedBytes || declaredTotal > limits.maximumInflatedBytes)
            throw refuse("The package holds more data than a project can.");
        records.push_back(std::move(record));
    }

    // A name that is a file in one entry and a folder in another cannot be read into a folder:
    // in name order, a file's own folder form would sort right before its contents.
    std::vector<std::string_view> sorted(names.begin(), names.end());
    std::sort(sorted.begin(), sorted.end());
    for (const auto& record : records) {
        if (record.isDirectory())
            continue;
        std::string folder = record.name + "/";
        auto next = std::lower_bound(sorted.begin(), sorted.end(), std::string_view(folder));
        if (next != sorted.end() && next->starts_with(folder))
            throw refuse("The entry “" + record.name + "” is both a file and a folder.");
    }

    // Every entry's local header and data must lie before the directory, none inside another.
    std::vector<const Record*> byOffset;
    for (const auto& record : records)
        byOffset.push_back(&record);
    std::sort(byOffset.begin(), byOffset.end(),
              [](const Record* a, const Record* b) { return a->localHeaderOffset < b->localHeaderOffset; });
    std::uint64_t previousEnd = 0;
    const Record* previous = nullptr;
    for (const Record* record : byOffset) {
        if (record->localHeaderOffset < previousEnd)
            throw refuse("The entries “" + previous->name + "” and “" + record->name + "” overlap.");
        if (record->localHeaderOffset > directoryOffset || directoryOffset - record->localHeaderOffset < localLength)
            throw refuse("The zip file is damaged (the entry “" + record->name + "” lies outside the file).");
        auto headerBytes = load(record->localHeaderOffset, localLength);
        Block header(headerBytes, path);
        if (header.u32(0) != localSignature)
            throw refuse("The zip file is damaged (the entry “" + record->name + "” has no header).");
        std::uint64_t nameLength = header.u16(26), extraLength = header.u16(28);
        std::uint64_t dataStart = record->localHeaderOffset + localLength + nameLength + extraLength;
        if (dataStart > directoryOffset || record->compressedSize > directoryOffset - dataStart)
            throw refuse("The zip file is damaged (the entry “" + record->name + "” extends past its end).");
        auto localName = load(record->localHeaderOffset + localLength, nameLength);
        if (std::string_view(reinterpret_cast<const char*>(localName.data()), localName.size()) != record->name)
            throw refuse("The zip file is damaged (the entry “" + record->name + "” has two names).");
        previousEnd = dataStart + record->compressedSize;
        previous = record;
    }
    return records;
}
