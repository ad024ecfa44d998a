#include "App/documents/container/KVContainerFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>

#include "App/archive/KVArchivePath.h"
#include "Platform/Foundation/FileDescriptor.h"
#include "Platform/Foundation/FileSystem.h"

namespace fs = std::filesystem;

namespace kx::KVContainerFiles {

namespace {

// Read without setting the mask for a moment, when files other threads make would take it.
mode_t newFileMode()
{
    return 0666 & ~FileSystem::currentUmask();
}

std::optional<Error> writeAll(int fd, std::string_view data, const fs::path& path)
{
    if (const int failure = kx::writeAll(fd, data.data(), data.size()))
        return Error::fromErrno(failure, "Cannot write " + path.string());
    return std::nullopt;
}

// A hidden temporary file beside `target`, filled by `fill`; its path, or the error.
template <class Fill>
std::optional<Error> writeTemporary(const fs::path& target, std::string& temporary, bool flush, Fill&& fill)
{
    temporary = FileSystem::temporaryPattern(target);
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return Error::fromErrno(errno, "Cannot create a file in " + target.parent_path().string());
    ::fchmod(fd, newFileMode());
    auto error = fill(fd);
    if (!error && flush && ::fsync(fd) != 0)
        error = Error::fromErrno(errno, "Cannot write " + target.string());
    if (::close(fd) != 0 && !error)
        error = Error::fromErrno(errno, "Cannot write " + target.string());
    if (error)
        ::unlink(temporary.c_str());
    return error;
}

std::optional<Error> renameNew(const std::string& temporary, const fs::path& target)
{
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return std::nullopt;
    int error = errno;
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
        // No rename flags here: a hard link cannot replace either.
        if (::link(temporary.c_str(), target.c_str()) == 0) {
            ::unlink(temporary.c_str());
            return std::nullopt;
        }
        error = errno;
    }
    ::unlink(temporary.c_str());
    return Error::fromErrno(error, error == EEXIST ? "The file " + target.string() + " exists" : "Cannot write " + target.string());
}

} // namespace

bool isPlainFileName(std::string_view name)
{
    return name.size() <= 255 && name.find('/') == std::string_view::npos && KVArchivePath::isSafeRelativePath(name);
}

std::optional<Error> makeFolders(const fs::path& root, std::string_view relativeFolder)
{
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Error::fromErrno(errno, "Cannot open " + root.string());
    fs::path reached = root;
    size_t start = 0;
    while (start < relativeFolder.size()) {
        size_t end = relativeFolder.find('/', start);
        if (end == std::string_view::npos)
            end = relativeFolder.size();
        std::string component(relativeFolder.substr(start, end - start));
        start = end + 1;
        if (component.empty())
            continue;
        reached /= component;
        if (!isPlainFileName(component)) {
            ::close(fd);
            return Error::fromErrno(EINVAL, "Cannot create " + reached.string());
        }
        if (::mkdirat(fd, component.c_str(), 0777) != 0 && errno != EEXIST) {
            int error = errno;
            ::close(fd);
            return Error::fromErrno(error, "Cannot create " + reached.string());
        }
        int next = ::openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int error = errno;
        ::close(fd);
        if (next < 0)
            return Error::fromErrno(error == ELOOP ? ENOTDIR : error, "Cannot create " + reached.string());
        fd = next;
    }
    ::close(fd);
    return std::nullopt;
}

std::optional<Error> writeNewFile(const fs::path& target, std::string_view data, bool flush)
{
    std::string temporary;
    if (auto error = writeTemporary(target, temporary, flush, [&](int fd) { return writeAll(fd, data, target); }))
        return error;
    return renameNew(temporary, target);
}

std::optional<Error> copyNewFile(const fs::path& source, const fs::path& target)
{
    int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0)
        return Error::fromErrno(errno, "Cannot open " + source.string());
    auto error = copyNewFile(from, source, target);
    ::close(from);
    return error;
}

std::optional<Error> copyNewFile(int from, const fs::path& source, const fs::path& target)
{
    struct stat info {};
    if (::fstat(from, &info) != 0 || !S_ISREG(info.st_mode))
        return Error::fromErrno(EINVAL, "Cannot copy " + source.string());
    std::string temporary;
    auto error = writeTemporary(target, temporary, true, [&](int fd) -> std::optional<Error> {
        char buffer[1 << 16];
        for (;;) {
            ssize_t got = ::read(from, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return Error::fromErrno(errno, "Cannot read " + source.string());
            if (got == 0)
                return std::nullopt;
            if (auto failed = writeAll(fd, std::string_view(buffer, static_cast<size_t>(got)), target))
                return failed;
        }
    });
    if (error)
        return error;
    return renameNew(temporary, target);
}

std::optional<Error> replaceFile(const fs::path& target, std::string_view data, bool flush)
{
    std::string temporary;
    if (auto error = writeTemporary(target, temporary, flush, [&](int fd) { return writeAll(fd, data, target); }))
        return error;
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        auto error = Error::fromErrno(errno, "Cannot write " + target.string());
        ::unlink(temporary.c_str());
        return error;
    }
    return std::nullopt;
}

std::optional<Error> replaceLink(const fs::path& link, const fs::path& destination)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string temporary = FileSystem::temporaryPattern(link);
        // A name of our own beside the link: mkstemp's, freed again for the link.
        int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0)
            return Error::fromErrno(errno, "Cannot create a link in " + link.parent_path().string());
        ::close(fd);
        ::unlink(temporary.c_str());
        if (::symlink(destination.c_str(), temporary.c_str()) != 0) {
            if (errno == EEXIST)
                continue;
            return Error::fromErrno(errno, "Cannot create a link in " + link.parent_path().string());
        }
        if (::rename(temporary.c_str(), link.c_str()) != 0) {
            auto error = Error::fromErrno(errno, "Cannot replace " + link.string());
            ::unlink(temporary.c_str());
            return error;
        }
        return std::nullopt;
    }
    return Error::fromErrno(EEXIST, "Cannot create a link in " + link.parent_path().string());
}

void flush(const fs::path& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    FileSystem::flushDirectory(path.parent_path());
}

ReadResult readRegularFile(const fs::path& path, std::uint64_t maximum, bool dropFromCache)
{
    ReadResult result;
    // Without blocking: a pipe in a file's place would wait for a writer forever.
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.error = Error::fromErrno(errno == ELOOP ? EINVAL : errno, "Cannot read " + path.string());
        return result;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        result.error = Error::fromErrno(EINVAL, "Cannot read " + path.string());
        ::close(fd);
        return result;
    }
    if (static_cast<std::uint64_t>(info.st_size) > maximum) {
        result.error = Error::fromErrno(EFBIG, "Cannot read " + path.string());
        ::close(fd);
        return result;
    }
    std::string data;
    data.resize(static_cast<size_t>(info.st_size));
    size_t have = 0;
    for (;;) {
        if (have == data.size()) {
            // The file may have grown since it was looked at.
            if (data.size() >= maximum)
                break;
            data.resize(std::min<std::uint64_t>(maximum, data.size() + (1 << 16)));
        }
        ssize_t got = ::read(fd, data.data() + have, data.size() - have);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            result.error = Error::fromErrno(errno, "Cannot read " + path.string());
            ::close(fd);
            return result;
        }
        if (got == 0)
            break;
        have += static_cast<size_t>(got);
    }
    data.resize(have);
    if (dropFromCache)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
    result.data = std::move(data);
    return result;
}

} // namespace kx::KVContainerFiles
