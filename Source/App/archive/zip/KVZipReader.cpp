#include "App/archive/zip/KVZipReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zip.h>

#include "App/archive/KVArchivePath.h"
#include "App/archive/KVDocumentArchiveError.h"

namespace kx {

namespace {

void put(std::string& out, std::uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The directory of a zip file that holds one entry, whose local record (`recordLength` bytes)
// starts the file: a central entry, Zip64 records where sizes or offsets need them, the end.
std::string directoryOf(const KVZipDirectory::Record& record, std::uint64_t recordLength)
{
    const bool zip64 = record.size >= 0xFFFFFFFF || record.compressedSize >= 0xFFFFFFFF;
    std::string out;
    put(out, 0x02014b50, 4);
    put(out, (3 << 8) | 45, 2);
    put(out, zip64 ? 45 : 20, 2);
    put(out, record.flags & 0x0808, 2); // data descriptor, UTF-8
    put(out, record.method, 2);
    put(out, 0, 2);
    put(out, 0x21, 2); // 1 January 1980
    put(out, record.crc, 4);
    put(out, zip64 ? 0xFFFFFFFF : record.compressedSize, 4);
    put(out, zip64 ? 0xFFFFFFFF : record.size, 4);
    put(out, record.name.size(), 2);
    put(out, zip64 ? 20 : 0, 2);
    put(out, 0, 2);
    put(out, 0, 2);
    put(out, 0, 2);
    put(out, 0, 4);
    put(out, 0, 4);
    out += record.name;
    if (zip64) {
        put(out, 0x0001, 2);
        put(out, 16, 2);
        put(out, record.size, 8);
        put(out, record.compressedSize, 8);
    }
    const std::uint64_t directoryLength = out.size();
    const bool zip64End = zip64 || recordLength >= 0xFFFFFFFF;
    if (zip64End) {
        const std::uint64_t recordOffset = recordLength + directoryLength;
        put(out, 0x06064b50, 4);
        put(out, 44, 8);
        put(out, 45, 2);
        put(out, 45, 2);
        put(out, 0, 4);
        put(out, 0, 4);
        put(out, 1, 8);
        put(out, 1, 8);
        put(out, directoryLength, 8);
        put(out, recordLength, 8);
        put(out, 0x07064b50, 4);
        put(out, 0, 4);
        put(out, recordOffset, 8);
        put(out, 1, 4);
    }
    put(out, 0x06054b50, 4);
    put(out, 0, 4);
    put(out, zip64End ? 0xFFFF : 1, 2);
    put(out, zip64End ? 0xFFFF : 1, 2);
    put(out, zip64End ? 0xFFFFFFFF : directoryLength, 4);
    put(out, zip64End ? 0xFFFFFFFF : recordLength, 4);
    put(out, 0, 2);
    return out;
}

// The one-entry zip file as libzip reads it. While libzip opens it and looks for its end, the
// entry's own bytes read as zeros: a fake directory hidden in an entry's data never counts.
struct OneEntryZip {
    int fd = -1;
    std::uint64_t start = 0;
    std::uint64_t recordLength = 0;
    std::string directory;
    std::uint64_t position = 0;
    bool opening = true;
    zip_error_t error;

    std::uint64_t length() const { return recordLength + directory.size(); }
};

zip_int64_t oneEntryCallback(void* userdata, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto& file = *static_cast<OneEntryZip*>(userdata);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        file.position = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        auto* out = static_cast<std::uint8_t*>(data);
        std::uint64_t count = std::min<std::uint64_t>(length, file.length() - std::min(file.position, file.length()));
        std::uint64_t done = 0;
        while (done < count) {
            std::uint64_t at = file.position + done;
            if (at >= file.recordLength) {
                std::memcpy(out + done, file.directory.data() + (at - file.recordLength), count - done);
                done = count;
                break;
            }
            std::uint64_t part = std::min(count - done, file.recordLength - at);
            if (file.opening) {
                std::memset(out + done, 0, part);
                done += part;
                continue;
            }
            ssize_t read = ::pread(file.fd, out + done, part, static_cast<off_t>(file.start + at));
            if (read < 0 && errno == EINTR)
                continue;
            if (read <= 0) {
                zip_error_set(&file.error, ZIP_ER_READ, read < 0 ? errno : EIO);
                return -1;
            }
            done += static_cast<std::uint64_t>(read);
        }
        file.position += done;
        return static_cast<zip_int64_t>(done);
    }
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* stat = static_cast<zip_stat_t*>(data);
        zip_stat_init(stat);
        stat->size = file.length();
        stat->valid |= ZIP_STAT_SIZE;
        return sizeof(*stat);
    }
    case ZIP_SOURCE_SEEK: {
        zip_int64_t position = zip_source_seek_compute_offset(file.position, file.length(), data, length, &file.error);
        if (position < 0)
            return -1;
        file.position = static_cast<std::uint64_t>(position);
        return 0;
    }
    case ZIP_SOURCE_TELL:
        return static_cast<zip_int64_t>(file.position);
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&file.error, data, length);
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                              ZIP_SOURCE_SUPPORTS, -1);
    default:
        zip_error_set(&file.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

class KVZipReader::EntryReader : public KVDataReader {
public:
    EntryReader(std::shared_ptr<KVZipReader> zip, const Record& record, Budget budget)
        : zip_(std::move(zip))
        , record_(record)
        , budget_(std::move(budget))
    {
        zip_error_init(&file_.error);
    }

    ~EntryReader() override
    {
        close();
        zip_error_fini(&file_.error);
    }

    std::span<const std::byte> read() override
    {
        if (finished_)
            return {};
        if (!entry_)
            open();
        zip_int64_t count = zip_fread(entry_, buffer_.data(), buffer_.size());
        if (count < 0) {
            zip_error_t* error = zip_file_get_error(entry_);
            if (zip_error_code_zip(error) == ZIP_ER_CRC)
                throw damaged("its checksum does not match");
            throw damaged(zip_error_strerror(error));
        }
        if (count == 0) {
            if (produced_ != record_.size)
                throw damaged("it is shorter than it says");
            finished_ = true;
            close();
            buffer_ = std::vector<std::byte>();
            return {};
        }
        produced_ += static_cast<std::uint64_t>(count);
        const auto& limits = zip_->limits_;
        if (produced_ > record_.size)
            throw damaged("it is longer than it says");
        if (produced_ > limits.ratioAllowance
            && produced_ / std::max<std::uint64_t>(record_.compressedSize, 1) >= limits.maximumRatio)
            throw refuse("The entry “" + KVArchivePath::displayName(record_.name) + "” expands more than a project file can.");
        if (budget_ && budget_->fetch_add(static_cast<std::uint64_t>(count)) + static_cast<std::uint64_t>(count)
                           > limits.maximumInflatedBytes)
            throw refuse("The package holds more data than a project can.");
        return {buffer_.data(), static_cast<size_t>(count)};
    }

    std::optional<std::uint64_t> expectedSize() const override { return record_.size; }

private:
    void open()
    {
        file_.fd = zip_->fd_;
        file_.start = record_.localHeaderOffset;
        file_.recordLength = record_.dataOffset + record_.compressedSize - record_.localHeaderOffset;
        file_.directory = directoryOf(record_, file_.recordLength);
        file_.opening = true;
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_function_create(oneEntryCallback, &file_, &error);
        archive_ = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
        if (!archive_) {
            std::string reason = zip_error_strerror(&error);
            zip_error_fini(&error);
            if (source)
                zip_source_free(source);
            throw damaged(reason);
        }
        zip_error_fini(&error);
        file_.opening = false;
        entry_ = zip_fopen_index(archive_, 0, 0);
        if (!entry_)
            throw damaged(zip_strerror(archive_));
        buffer_.resize(std::min<std::uint64_t>(chunkSize, std::max<std::uint64_t>(record_.size, 1)));
    }

    void close()
    {
        if (entry_)
            zip_fclose(entry_);
        entry_ = nullptr;
        if (archive_)
            zip_discard(archive_);
        archive_ = nullptr;
    }

    KVDocumentArchiveError refuse(const std::string& reason) const
    {
        return KVDocumentArchiveError::invalidBacking(zip_->path_.string(), reason);
    }
    KVDocumentArchiveError damaged(const std::string& why) const
    {
        return refuse("The entry “" + KVArchivePath::displayName(record_.name) + "” is damaged: " + why + ".");
    }

    std::shared_ptr<KVZipReader> zip_;
    const Record& record_;
    Budget budget_;
    OneEntryZip file_;
    zip_t* archive_ = nullptr;
    zip_file_t* entry_ = nullptr;
    std::vector<std::byte> buffer_;
    std::uint64_t produced_ = 0;
    bool finished_ = false;
};

KVZipReader::KVZipReader(std::filesystem::path path, const KVZipLimits& limits)
    : path_(std::move(path))
    , limits_(limits)
{
}

KVZipReader::~KVZipReader()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::shared_ptr<KVZipReader> KVZipReader::open(const std::filesystem::path& path, const KVZipLimits& limits)
{
    std::shared_ptr<KVZipReader> reader(new KVZipReader(path, limits));
    const std::string name = path.string();
    reader->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (reader->fd_ < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw KVDocumentArchiveError::notFound(name);
        throw KVDocumentArchiveError::unknown(Error::fromErrno(errno, "Cannot open " + name));
    }
    struct stat info {};
    if (::fstat(reader->fd_, &info) != 0)
        throw KVDocumentArchiveError::unknown(Error::fromErrno(errno, "Cannot open " + name));
    if (!S_ISREG(info.st_mode))
        throw KVDocumentArchiveError::invalidBacking(name, "The project is not a zip file.");
    reader->directory_ = KVZipDirectory::read(reader->fd_, static_cast<std::uint64_t>(info.st_size), limits, name);
    return reader;
}

std::unique_ptr<KVDataReader> KVZipReader::reader(const Record& record, Budget budget)
{
    return std::make_unique<EntryReader>(shared_from_this(), record, std::move(budget));
}

} // namespace kx
