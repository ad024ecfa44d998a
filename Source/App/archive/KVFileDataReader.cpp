#include "App/archive/KVFileDataReader.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "App/archive/KVDocumentArchiveError.h"

namespace kx {

KVFileDataReader::KVFileDataReader(std::filesystem::path path)
    : path_(std::move(path))
{
}

KVFileDataReader::KVFileDataReader(const std::filesystem::path& root, const std::string& relativePath)
    : path_(root / relativePath)
    , root_(root)
    , relativePath_(relativePath)
{
}

int KVFileDataReader::open() const
{
    if (relativePath_.empty())
        return ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    int folder = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    size_t start = 0;
    for (size_t slash; folder >= 0 && (slash = relativePath_.find('/', start)) != std::string::npos; start = slash + 1) {
        std::string component = relativePath_.substr(start, slash - start);
        int next = ::openat(folder, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int error = errno;
        ::close(folder);
        folder = next;
        errno = error;
    }
    if (folder < 0)
        return -1;
    int fd = ::openat(folder, relativePath_.c_str() + start, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    int error = errno;
    ::close(folder);
    errno = error;
    return fd;
}

KVFileDataReader::~KVFileDataReader()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::span<const std::byte> KVFileDataReader::read()
{
    if (finished_)
        return {};
    if (fd_ < 0) {
        fd_ = open();
        if (fd_ < 0) {
            if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)
                throw KVDocumentArchiveError::notFound(path_.string());
            throw KVDocumentArchiveError::unknown(Error::fromErrno(errno, "Cannot open " + path_.string()));
        }
        struct stat info {};
        if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode))
            throw KVDocumentArchiveError::notFound(path_.string());
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
        // As large as the file, up to a chunk, and not cleared: a folder project is mostly small
        // files, and a chunk made and cleared for each cost more than reading them.
        bufferSize_ = static_cast<std::size_t>(std::clamp<std::uint64_t>(static_cast<std::uint64_t>(info.st_size), 4096, chunkSize));
        buffer_ = std::make_unique_for_overwrite<std::byte[]>(bufferSize_);
    }
    for (;;) {
        ssize_t count = ::read(fd_, buffer_.get(), bufferSize_);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            throw KVDocumentArchiveError::unknown(Error::fromErrno(errno, "Cannot read " + path_.string()));
        if (count == 0) {
            finished_ = true;
            ::close(fd_);
            fd_ = -1;
            buffer_.reset();
            return {};
        }
        return {buffer_.get(), static_cast<size_t>(count)};
    }
}

std::optional<std::uint64_t> KVFileDataReader::expectedSize() const
{
    struct stat info {};
    if (::lstat(path_.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

} // namespace kx
