#include "Platform/Foundation/FileSystem.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include <gio/gio.h>

#include "Platform/Foundation/FileDescriptor.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/Text.h"

namespace kx::FileSystem {

namespace {

fs::path xdgHome(const char* variable, const char* fallback)
{
    if (const char* value = std::getenv(variable); value && *value == '/')
        return value;
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : g_get_home_dir()) / fallback;
}

} // namespace

std::string temporaryPattern(const fs::path& target)
{
    static constexpr std::string_view suffix = ".XXXXXX";
    const std::string name = target.filename().string();
    const size_t room = NAME_MAX - 1 - suffix.size();
    return (target.parent_path() / ("." + std::string(utf8Prefix(name, room)) + std::string(suffix))).string();
}

AtomicFile::AtomicFile(fs::path target)
    : target_(std::move(target))
{
}

AtomicFile::~AtomicFile()
{
    discard();
}

std::optional<Error> AtomicFile::open()
{
    discard();
    const fs::path folder = target_.has_parent_path() ? target_.parent_path() : fs::path(".");
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return Error::fromErrno(ec.value(), "Cannot create the folder " + folder.string());
    std::string pattern = temporaryPattern(folder / target_.filename());
    int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return Error::fromErrno(errno, "Cannot create a file in " + folder.string());
    // mkstemp makes the file private; give it the mode the target has, or a new file's mode.
    struct stat existing {};
    mode_t mode = ::stat(target_.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : (0666 & ~currentUmask());
    ::fchmod(fd, mode);
    fd_ = fd;
    temporary_ = pattern;
    return std::nullopt;
}

std::optional<Error> AtomicFile::write(std::span<const std::byte> bytes)
{
    if (fd_ < 0)
        return Error(Error::posixDomain, EBADF, "The file " + target_.string() + " is not open for writing");
    if (const int failure = writeAll(fd_, bytes.data(), bytes.size()))
        return Error::fromErrno(failure, "Cannot write " + temporary_.string());
    return std::nullopt;
}

std::optional<Error> AtomicFile::write(std::string_view text)
{
    return write(std::as_bytes(std::span(text.data(), text.size())));
}

std::optional<Error> AtomicFile::commit()
{
    if (fd_ < 0)
        return Error(Error::posixDomain, EBADF, "The file " + target_.string() + " is not open for writing");
    if (::fsync(fd_) != 0) {
        auto error = Error::fromErrno(errno, "Cannot write " + target_.string());
        discard();
        return error;
    }
    if (::close(fd_) != 0) {
        fd_ = -1;
        auto error = Error::fromErrno(errno, "Cannot write " + target_.string());
        discard();
        return error;
    }
    fd_ = -1;
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        auto error = Error::fromErrno(errno, "Cannot replace " + target_.string());
        discard();
        return error;
    }
    temporary_.clear();
    return flushDirectory(target_.has_parent_path() ? target_.parent_path() : fs::path("."));
}

void AtomicFile::discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

std::optional<Error> atomicWrite(const fs::path& target, std::span<const std::byte> bytes)
{
    AtomicFile file(target);
    if (auto error = file.open())
        return error;
    if (auto error = file.write(bytes))
        return error;
    return file.commit();
}

std::optional<Error> atomicWrite(const fs::path& target, std::string_view text)
{
    return atomicWrite(target, std::as_bytes(std::span(text.data(), text.size())));
}

std::optional<std::string> readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return contents;
}

std::optional<Error> flushDirectory(const fs::path& directory)
{
    int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Error::fromErrno(errno, "Cannot open the folder " + directory.string());
    int result = ::fsync(fd);
    int saved = errno;
    ::close(fd);
    // Some file systems cannot flush a folder; the rename has happened all the same.
    if (result != 0 && saved != EINVAL && saved != EROFS)
        return Error::fromErrno(saved, "Cannot flush the folder " + directory.string());
    return std::nullopt;
}

mode_t currentUmask()
{
    // Read, not set and restored: between umask(0) and its restoring, files that other threads
    // create would be writable by everyone.
    if (auto status = readFile("/proc/self/status")) {
        const auto at = status->find("\nUmask:");
        if (at != std::string::npos)
            return static_cast<mode_t>(std::strtoul(status->c_str() + at + 7, nullptr, 8) & 0777);
    }
    static std::mutex fallback;
    std::lock_guard lock(fallback);
    mode_t mask = ::umask(077);
    ::umask(mask);
    return mask;
}

std::optional<Error> trash(const fs::path& path)
{
    const auto file = GObjectRef<GFile>::adopt(g_file_new_for_path(path.c_str()));
    GError* gerror = nullptr;
    gboolean ok = g_file_trash(file.get(), nullptr, &gerror);
    if (ok)
        return std::nullopt;
    auto error = Error::fromGError(gerror, "Cannot move " + path.string() + " to the trash");
    g_clear_error(&gerror);
    return error;
}

std::optional<fs::path> realPath(const fs::path& path)
{
    std::error_code ec;
    fs::path resolved = fs::canonical(path, ec);
    if (ec)
        return std::nullopt;
    return resolved;
}

bool existsWithoutFollowing(const fs::path& path)
{
    std::error_code error;
    return fs::symlink_status(path, error).type() != fs::file_type::not_found && !error;
}

bool isInside(const fs::path& path, const fs::path& folder)
{
    std::error_code ec;
    fs::path child = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec)
        return false;
    fs::path parent = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    if (ec)
        return false;
    auto c = child.begin();
    for (auto p = parent.begin(); p != parent.end(); ++p, ++c) {
        if (p->empty() && std::next(p) == parent.end())
            break; // a trailing separator
        if (c == child.end() || *c != *p)
            return false;
    }
    return true;
}

fs::path configHome()
{
    return xdgHome("XDG_CONFIG_HOME", ".config");
}

fs::path cacheHome()
{
    return xdgHome("XDG_CACHE_HOME", ".cache");
}

fs::path dataHome()
{
    return xdgHome("XDG_DATA_HOME", ".local/share");
}

} // namespace kx::FileSystem
