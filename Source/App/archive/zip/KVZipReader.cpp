#include "App/archive/zip/KVZipReader.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zip.h>

#include "App/archive/KVDocumentArchiveError.h"

namespace {

struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

class KVZipReader::EntryReader : public KVDataReader {
public:
    EntryReader(std::shared_ptr<KVZipReader> zip, const Record& record, Budget budget)
        : zip_(std::move(zip))
        , record_(record)
        , budget_(std::move(budget))
    {
    }

    ~EntryReader() override
    {
        if (file_) {
            std::lock_guard lock(zip_->mutex_);
            zip_fclose(file_);
        }
    }

    std::span<const std::byte> read() override
    {
        if (finished_)
            return {};
        std::lock_guard lock(zip_->mutex_);
        if (!file_) {
            file_ = zip_fopen_index(zip_->archive_, index(), 0);
            if (!file_)
                throw damaged(zip_strerror(zip_->archive_));
            buffer_.resize(std::min<std::uint64_t>(chunkSize, std::max<std::uint64_t>(record_.size, 1)));
        }
        zip_int64_t count = zip_fread(file_, buffer_.data(), buffer_.size());
        if (count < 0) {
            zip_error_t* error = zip_file_get_error(file_);
            if (zip_error_code_zip(error) == ZIP_ER_CRC)
                throw damaged("its checksum does not match");
            throw damaged(zip_error_strerror(error));
        }
        if (count == 0) {
            if (produced_ != record_.size)
                throw damaged("it is shorter than it says");
            finished_ = true;
            zip_fclose(file_);
            file_ = nullptr;
            buffer_ = {};
            return {};
        }
        produced_ += static_cast<std::uint64_t>(count);
        const auto& limits = zip_->limits_;
        if (produced_ > record_.size)
            throw damaged("it is longer than it says");
        if (produced_ > limits.ratioAllowance
            && produced_ / std::max<std::uint64_t>(record_.compressedSize, 1) >= limits.maximumRatio)
            throw refuse("The entry “" + record_.name + "” expands more than a project file can.");
        if (budget_ && budget_->fetch_add(static_cast<std::uint64_t>(count)) + static_cast<std::uint64_t>(count)
                           > limits.maximumInflatedBytes)
            throw refuse("The package holds more data than a project can.");
        return {buffer_.data(), static_cast<size_t>(count)};
    }

    std::optional<std::uint64_t> expectedSize() const override { return record_.size; }

private:
    zip_uint64_t index() const { return zip_->indexByName_.at(record_.name); }
    KVDocumentArchiveError refuse(const std::string& reason) const
    {
        return KVDocumentArchiveError::invalidBacking(zip_->path_.string(), reason);
    }
    KVDocumentArchiveError damaged(const std::string& why) const
    {
        return refuse("The entry “" + record_.name + "” is damaged: " + why + ".");
    }

    std::shared_ptr<KVZipReader> zip_;
    const Record& record_;
    Budget budget_;
    zip_file_t* file_ = nullptr;
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
    if (archive_)
        zip_discard(archive_);
}

std::shared_ptr<KVZipReader> KVZipReader::open(const std::filesystem::path& path, const KVZipLimits& limits)
{
    std::shared_ptr<KVZipReader> reader(new KVZipReader(path, limits));
    const std::string name = path.string();
    FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw KVDocumentArchiveError::notFound(name);
        throw KVDocumentArchiveError::unknown(kx::Error::fromErrno(errno, "Cannot open " + name));
    }
    struct stat info {};
    if (::fstat(file.fd, &info) != 0)
        throw KVDocumentArchiveError::unknown(kx::Error::fromErrno(errno, "Cannot open " + name));
    if (!S_ISREG(info.st_mode))
        throw KVDocumentArchiveError::invalidBacking(name, "The project is not a zip file.");

    reader->records_ = KVZipDirectory::read(file.fd, static_cast<std::uint64_t>(info.st_size), limits, name);

    // libzip reads the very file we checked: it gets a duplicate of our descriptor.
    int libzipFd = ::fcntl(file.fd, F_DUPFD_CLOEXEC, 0);
    if (libzipFd < 0 || ::lseek(libzipFd, 0, SEEK_SET) != 0)
        throw KVDocumentArchiveError::unknown(kx::Error::fromErrno(errno, "Cannot open " + name));
    int error = 0;
    reader->archive_ = zip_fdopen(libzipFd, ZIP_CHECKCONS, &error);
    if (!reader->archive_) {
        ::close(libzipFd);
        zip_error_t details;
        zip_error_init_with_code(&details, error);
        std::string reason = zip_error_strerror(&details);
        zip_error_fini(&details);
        throw KVDocumentArchiveError::invalidBacking(name, "The zip file is damaged (" + reason + ").");
    }
    // Both readings of the directory must agree, entry for entry.
    if (zip_get_num_entries(reader->archive_, 0) != static_cast<zip_int64_t>(reader->records_.size()))
        throw KVDocumentArchiveError::invalidBacking(name, "The zip file is damaged (its directory is inconsistent).");
    for (size_t index = 0; index < reader->records_.size(); ++index) {
        const char* entryName = zip_get_name(reader->archive_, index, ZIP_FL_ENC_RAW);
        if (!entryName || reader->records_[index].name != entryName)
            throw KVDocumentArchiveError::invalidBacking(name, "The zip file is damaged (its directory is inconsistent).");
        reader->indexByName_.emplace(reader->records_[index].name, index);
    }
    return reader;
}

const KVZipReader::Record* KVZipReader::find(const std::string& name) const
{
    auto found = indexByName_.find(name);
    return found == indexByName_.end() ? nullptr : &records_[found->second];
}

std::unique_ptr<KVDataReader> KVZipReader::reader(const Record& record, Budget budget)
{
    return std::make_unique<EntryReader>(shared_from_this(), record, std::move(budget));
}
