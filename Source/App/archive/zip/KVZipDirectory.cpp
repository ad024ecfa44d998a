#include "App/archive/zip/KVZipDirectory.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <unistd.h>

#include "App/archive/KVArchivePath.h"
#include "App/archive/KVDocumentArchiveError.h"

namespace kx {

namespace {

constexpr std::uint32_t centralSignature = 0x02014b50;
constexpr std::uint32_t localSignature = 0x04034b50;
constexpr std::uint32_t endSignature = 0x06054b50;
constexpr std::uint32_t zip64EndSignature = 0x06064b50;
constexpr std::uint32_t zip64LocatorSignature = 0x07064b50;
constexpr size_t endLength = 22;
constexpr size_t centralLength = 46;
constexpr size_t localLength = 30;

std::uint64_t little(const std::uint8_t* bytes, size_t width)
{
    std::uint64_t value = 0;
    for (size_t i = width; i-- > 0;)
        value = (value << 8) | bytes[i];
    return value;
}
std::uint16_t u16(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(little(bytes, 2)); }
std::uint32_t u32(const std::uint8_t* bytes) { return static_cast<std::uint32_t>(little(bytes, 4)); }
std::uint64_t u64(const std::uint8_t* bytes) { return little(bytes, 8); }

// Reads the file through one buffer that moves forward as the records are read in order,
// `readAhead` bytes at a time; nothing at or past `limit` is read.
class FileWindow {
public:
    FileWindow(int fd, std::uint64_t limit, std::uint64_t readAhead, const std::string& path)
        : fd_(fd)
        , limit_(limit)
        , readAhead_(readAhead)
        , path_(path)
    {
    }

    // The `length` bytes at `offset`, valid until the next call.
    const std::uint8_t* at(std::uint64_t offset, std::uint64_t length)
    {
        if (offset >= start_ && offset - start_ <= buffer_.size() && length <= buffer_.size() - (offset - start_))
            return buffer_.data() + (offset - start_);
        if (offset > limit_ || length > limit_ - offset)
            throw KVDocumentArchiveError::invalidBacking(path_, "The zip file is truncated or damaged.");
        std::uint64_t want = std::min<std::uint64_t>(std::max(length, readAhead_), limit_ - offset);
        buffer_.resize(want);
        start_ = offset;
        size_t done = 0;
        while (done < want) {
            ssize_t count = ::pread(fd_, buffer_.data() + done, want - done, static_cast<off_t>(offset + done));
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0)
                throw KVDocumentArchiveError::unknown(Error::fromErrno(errno, "Cannot read " + path_));
            if (count == 0)
                throw KVDocumentArchiveError::invalidBacking(path_, "The zip file is truncated.");
            done += static_cast<size_t>(count);
        }
        return buffer_.data();
    }

private:
    int fd_;
    std::uint64_t limit_;
    std::uint64_t readAhead_;
    const std::string& path_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t start_ = 0;
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

std::string shownName(std::string_view name)
{
    return "“" + KVArchivePath::displayName(name) + "”";
}

} // namespace

const KVZipDirectory::Record* KVZipDirectory::find(std::string_view name) const
{
    auto found = std::lower_bound(byName_.begin(), byName_.end(), name,
                                  [&](std::uint32_t index, std::string_view key) { return records_[index].name < key; });
    return found != byName_.end() && records_[*found].name == name ? &records_[*found] : nullptr;
}

KVZipDirectory KVZipDirectory::read(int fd, std::uint64_t size, const KVZipLimits& limits, const std::string& path)
{
    auto refuse = [&](const std::string& reason) { return KVDocumentArchiveError::invalidBacking(path, reason); };
    if (size < endLength)
        throw refuse("The file is too short to be a zip file.");

    // The end record is the last one whose comment reaches exactly to the end of the file.
    FileWindow file(fd, size, 0, path);
    std::uint64_t tailLength = std::min<std::uint64_t>(size, endLength + 0xFFFF);
    const std::uint8_t* tail = file.at(size - tailLength, tailLength);
    std::uint64_t end = tailLength;
    for (size_t at = tailLength - endLength + 1; at-- > 0;) {
        if (u32(tail + at) == endSignature && at + endLength + u16(tail + at + 20) == tailLength) {
            end = at;
            break;
        }
    }
    if (end == tailLength)
        throw refuse("The file is not a zip file, or it is truncated.");
    std::uint64_t endOffset = size - tailLength + end;
    const std::uint8_t* record = tail + end;
    std::uint64_t disk = u16(record + 4), directoryDisk = u16(record + 6);
    std::uint64_t entriesOnDisk = u16(record + 8), entries = u16(record + 10);
    std::uint64_t directoryLength = u32(record + 12), directoryOffset = u32(record + 16);
    std::uint64_t directoryLimit = endOffset;
    if (endOffset >= 20) {
        const std::uint8_t* locator = file.at(endOffset - 20, 20);
        if (u32(locator) == zip64LocatorSignature) {
            std::uint64_t recordOffset = u64(locator + 8);
            if (u32(locator + 4) != 0 || u32(locator + 16) > 1)
                throw refuse("Zip files spread over several disks are not supported.");
            if (recordOffset > endOffset - 20 || endOffset - 20 - recordOffset < 56)
                throw refuse("The zip file is damaged (its Zip64 end record is misplaced).");
            const std::uint8_t* zip64 = file.at(recordOffset, 56);
            if (u32(zip64) != zip64EndSignature)
                throw refuse("The zip file is damaged (its Zip64 end record is missing).");
            disk = u32(zip64 + 16);
            directoryDisk = u32(zip64 + 20);
            entriesOnDisk = u64(zip64 + 24);
            entries = u64(zip64 + 32);
            directoryLength = u64(zip64 + 40);
            directoryOffset = u64(zip64 + 48);
            directoryLimit = recordOffset;
        }
    }
    if (disk != 0 || directoryDisk != 0 || entriesOnDisk != entries)
        throw refuse("Zip files spread over several disks are not supported.");
    if (entries > limits.maximumEntries)
        throw refuse("The package has more than " + std::to_string(limits.maximumEntries) + " entries.");
    if (directoryOffset > directoryLimit || directoryLength > directoryLimit - directoryOffset)
        throw refuse("The zip file is damaged (its directory lies outside the file).");
    if (directoryLength > limits.maximumDirectoryLength)
        throw refuse("The zip file’s directory is larger than " + std::to_string(limits.maximumDirectoryLength >> 20)
                     + " MB, more than a project’s can be.");
    if (entries > directoryLength / centralLength)
        throw refuse("The zip file is damaged (its directory is shorter than its entries).");

    KVZipDirectory result;
    auto& records = result.records_;
    records.reserve(entries);
    FileWindow directory(fd, directoryOffset + directoryLength, 256 << 10, path);
    std::uint64_t declaredTotal = 0;
    std::uint64_t at = directoryOffset;
    for (std::uint64_t index = 0; index < entries; ++index) {
        const std::uint8_t* fixed = directory.at(at, centralLength);
        if (u32(fixed) != centralSignature)
            throw refuse("The zip file is damaged (a directory entry is missing).");
        std::uint16_t madeBy = u16(fixed + 4);
        Record entry;
        entry.flags = u16(fixed + 8);
        entry.method = u16(fixed + 10);
        entry.crc = u32(fixed + 16);
        entry.compressedSize = u32(fixed + 20);
        entry.size = u32(fixed + 24);
        size_t nameLength = u16(fixed + 28), extraLength = u16(fixed + 30), commentLength = u16(fixed + 32);
        std::uint64_t startDisk = u16(fixed + 34);
        std::uint32_t external = u32(fixed + 38);
        entry.localHeaderOffset = u32(fixed + 42);
        const std::uint8_t* variable = directory.at(at + centralLength, nameLength + extraLength + commentLength);
        entry.name.assign(reinterpret_cast<const char*>(variable), nameLength);

        // Zip64: the fields that hold all ones are in the extra field 0x0001, in this order.
        bool needsZip64 = entry.size == 0xFFFFFFFF || entry.compressedSize == 0xFFFFFFFF
                          || entry.localHeaderOffset == 0xFFFFFFFF || startDisk == 0xFFFF;
        const std::uint8_t* extraEnd = variable + nameLength + extraLength;
        for (const std::uint8_t* extra = variable + nameLength; needsZip64 && extra + 4 <= extraEnd;) {
            std::uint16_t id = u16(extra), length = u16(extra + 2);
            const std::uint8_t* value = extra + 4;
            const std::uint8_t* valueEnd = value + length;
            if (valueEnd > extraEnd)
                break;
            if (id == 0x0001) {
                auto take = [&](std::uint64_t& field, std::uint64_t marker, size_t width) {
                    if (field != marker)
                        return;
                    if (value + width > valueEnd)
                        throw refuse("The zip file is damaged (a Zip64 field is missing).");
                    field = little(value, width);
                    value += width;
                };
                take(entry.size, 0xFFFFFFFF, 8);
                take(entry.compressedSize, 0xFFFFFFFF, 8);
                take(entry.localHeaderOffset, 0xFFFFFFFF, 8);
                take(startDisk, 0xFFFF, 4);
                needsZip64 = false;
            }
            extra = valueEnd;
        }
        if (needsZip64)
            throw refuse("The zip file is damaged (a Zip64 field is missing).");
        at += centralLength + nameLength + extraLength + commentLength;

        const std::string shown = shownName(entry.name);
        if (startDisk != 0)
            throw refuse("Zip files spread over several disks are not supported.");
        if (!KVArchivePath::isSafeRelativePath(entry.name))
            throw refuse("The entry " + shown + " has a name that leads outside the project or is not allowed.");
        if (!fitsInAFolder(entry.name))
            throw refuse("The entry " + shown + " has a name too long to be stored in a folder.");
        int host = madeBy >> 8;
        if ((host == 3 || host == 19) && ((external >> 16) & 0xF000) == 0xA000)
            throw refuse("The entry " + shown + " is a symbolic link.");
        if (entry.flags & 0x0041)
            throw refuse("The entry " + shown + " is encrypted; encrypted packages are not supported.");
        if (entry.method != 0 && entry.method != 8)
            throw refuse("The entry " + shown + " is compressed with a method other than stored or deflated.");
        if (entry.method == 0 && entry.size != entry.compressedSize)
            throw refuse("The zip file is damaged (the sizes of " + shown + " disagree).");
        if (entry.size > limits.ratioAllowance && entry.size / std::max<std::uint64_t>(entry.compressedSize, 1) >= limits.maximumRatio)
            throw refuse("The entry " + shown + " expands more than a project file can.");
        declaredTotal += entry.size;
        if (entry.size > limits.maximumInflatedBytes || declaredTotal > limits.maximumInflatedBytes)
            throw refuse("The package holds more data than a project can.");
        records.push_back(std::move(entry));
    }

    // More entries than the end record counts (a count past 65,535 without Zip64 records) would
    // go unseen: files silently missing from the project.
    if (at != directoryOffset + directoryLength)
        throw refuse("The zip file is damaged (its directory holds more than its end record lists).");

    // Names in order: one listed twice sits beside itself, and a name that is a file in one
    // entry and a folder in another cannot be read into a folder.
    auto& byName = result.byName_;
    byName.resize(records.size());
    for (std::uint32_t i = 0; i < byName.size(); ++i)
        byName[i] = i;
    std::sort(byName.begin(), byName.end(), [&](std::uint32_t a, std::uint32_t b) { return records[a].name < records[b].name; });
    for (size_t i = 1; i < byName.size(); ++i)
        if (records[byName[i]].name == records[byName[i - 1]].name)
            throw refuse("The entry " + shownName(records[byName[i]].name) + " is listed twice.");
    for (const auto& entry : records) {
        if (entry.isDirectory())
            continue;
        std::string folder = entry.name + "/";
        auto next = std::lower_bound(byName.begin(), byName.end(), std::string_view(folder),
                                     [&](std::uint32_t index, std::string_view key) { return records[index].name < key; });
        if (next != byName.end() && records[*next].name.starts_with(folder))
            throw refuse("The entry " + shownName(entry.name) + " is both a file and a folder.");
    }

    // Every entry's local header and data must lie before the directory, none inside another.
    std::vector<std::uint32_t> byOffset(byName);
    std::sort(byOffset.begin(), byOffset.end(),
              [&](std::uint32_t a, std::uint32_t b) { return records[a].localHeaderOffset < records[b].localHeaderOffset; });
    // Local headers lie between the entries' data: a little read-ahead covers runs of small ones.
    FileWindow entriesWindow(fd, directoryOffset, 4 << 10, path);
    std::uint64_t previousEnd = 0;
    const Record* previous = nullptr;
    for (std::uint32_t index : byOffset) {
        Record& entry = records[index];
        if (entry.localHeaderOffset < previousEnd)
            throw refuse("The entries " + shownName(previous->name) + " and " + shownName(entry.name) + " overlap.");
        if (entry.localHeaderOffset > directoryOffset || directoryOffset - entry.localHeaderOffset < localLength)
            throw refuse("The zip file is damaged (the entry " + shownName(entry.name) + " lies outside the file).");
        const std::uint8_t* header = entriesWindow.at(entry.localHeaderOffset, localLength);
        if (u32(header) != localSignature)
            throw refuse("The zip file is damaged (the entry " + shownName(entry.name) + " has no header).");
        std::uint64_t nameLength = u16(header + 26), extraLength = u16(header + 28);
        entry.dataOffset = entry.localHeaderOffset + localLength + nameLength + extraLength;
        if (entry.dataOffset > directoryOffset || entry.compressedSize > directoryOffset - entry.dataOffset)
            throw refuse("The zip file is damaged (the entry " + shownName(entry.name) + " extends past its end).");
        const std::uint8_t* localName = entriesWindow.at(entry.localHeaderOffset + localLength, nameLength);
        if (std::string_view(reinterpret_cast<const char*>(localName), nameLength) != entry.name)
            throw refuse("The zip file is damaged (the entry " + shownName(entry.name) + " has two names).");
        previousEnd = entry.dataOffset + entry.compressedSize;
        previous = &entry;
    }
    return result;
}

} // namespace kx
