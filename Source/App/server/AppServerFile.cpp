#include "App/server/AppServerFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <utility>

#include "Platform/Foundation/FileSystem.h"

namespace kx {

namespace {

// Non-blocking: opening a FIFO for reading must not wait for a writer. Links are followed: what
// counts is where the open descriptor really lies, checked after the open, so a path swapped
// for a link to the outside in between is still refused.
constexpr int openFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

AppServerFile::Outcome outcomeOfFailedOpen(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
        return AppServerFile::Outcome::notFound;
    case EMFILE:
    case ENFILE:
    case ENOMEM:
        return AppServerFile::Outcome::unavailable;
    default: // ELOOP (a cycle of links), EACCES, ENXIO (a socket) and the rest
        return AppServerFile::Outcome::forbidden;
    }
}

// Where the open descriptor really lies, as the kernel names it.
std::string realPathOf(int fd)
{
    char buffer[PATH_MAX];
    std::string link = "/proc/self/fd/" + std::to_string(fd);
    ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer)
        return {};
    return std::string(buffer, static_cast<size_t>(length));
}

bool isInside(const std::string& path, const std::string& folder)
{
    if (path.empty() || folder.empty())
        return false;
    if (folder == "/")
        return true;
    return path == folder || (path.starts_with(folder) && path[folder.size()] == '/');
}

} // namespace

AppServerFile AppServerFile::open(const std::filesystem::path& folder, const std::string& relative, bool asFolder)
{
    auto realFolder = FileSystem::realPath(folder);
    if (!realFolder)
        return AppServerFile(Outcome::notFound);
    const std::string inside = realFolder->string();

    AppServerFile result(Outcome::file);
    result.name_ = relative;
    std::string path = inside + "/" + relative;
    result.fd_ = ::open(path.c_str(), openFlags);
    for (int attempt = 0;; ++attempt) {
        if (result.fd_ < 0)
            return AppServerFile(outcomeOfFailedOpen(errno));
        if (!isInside(realPathOf(result.fd_), inside) || ::fstat(result.fd_, &result.status_) != 0)
            return AppServerFile(Outcome::forbidden);
        if (S_ISREG(result.status_.st_mode))
            return result;
        if (!S_ISDIR(result.status_.st_mode) || attempt > 0)
            return AppServerFile(Outcome::forbidden);
        if (!asFolder && !relative.empty())
            return AppServerFile(Outcome::redirect);
        // The folder's index page, opened relative to the folder that was checked.
        int index = ::openat(result.fd_, "index.html", openFlags);
        int error = errno;
        ::close(std::exchange(result.fd_, index));
        errno = error;
        result.name_ = "index.html";
    }
}

AppServerFile::AppServerFile(AppServerFile&& other) noexcept
    : outcome_(other.outcome_)
    , fd_(std::exchange(other.fd_, -1))
    , status_(other.status_)
    , name_(std::move(other.name_))
{
}

AppServerFile& AppServerFile::operator=(AppServerFile&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        outcome_ = other.outcome_;
        fd_ = std::exchange(other.fd_, -1);
        status_ = other.status_;
        name_ = std::move(other.name_);
    }
    return *this;
}

AppServerFile::~AppServerFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace kx
