#include "App/documents/container/KVContainerLockFile.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>

#include "App/documents/KVDocumentError.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/Text.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::weak_ptr<KVContainerLockFile>>& registry()
{
    static std::map<std::string, std::weak_ptr<KVContainerLockFile>> holders;
    return holders;
}

std::string keyOf(const fs::path& folder)
{
    std::error_code ec;
    auto path = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    return (ec ? folder.lexically_normal() : path).string();
}

std::string ourId()
{
    return std::to_string(::getpid());
}

bool isValidUTF8(const std::string& text)
{
    // The lock holds digits; anything else only has to be told apart from them.
    for (unsigned char c : text)
        if (c >= 0x80)
            return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
    return true;
}

// A signed 32-bit decimal number, nothing else.
std::optional<long> parseInt32(const std::string& text)
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        return std::nullopt;
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL)
            return std::nullopt;
    }
    value = negative ? -value : value;
    if (value > INT32_MAX || value < INT32_MIN)
        return std::nullopt;
    return static_cast<long>(value);
}

std::optional<std::string> readSmall(int fd)
{
    char buffer[256];
    ssize_t got;
    do {
        got = ::pread(fd, buffer, sizeof buffer, 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return std::nullopt;
    return std::string(buffer, static_cast<size_t>(got));
}

std::optional<std::string> readSmall(const fs::path& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    std::optional<std::string> text;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        text = readSmall(fd);
    ::close(fd);
    return text;
}

// Throws when the text names another live instance; a text naming this process is stale.
void checkOwner(const std::optional<std::string>& content)
{
    if (!content || !isValidUTF8(*content))
        return;
    std::string text(trimmed(*content));
    if (text == ourId()) {
        RKLog("warning: the .korvel-lock file is our own, assuming it is stale", RKLogKind::general);
        return;
    }
    if (auto pid = parseInt32(text); pid && KVContainerLockFile::isLiveKorvelProcess(static_cast<pid_t>(*pid)))
        throw KVDocumentError(KVDocumentError::Code::containerAlreadyInUse);
}

bool sameFile(int fd, const fs::path& path)
{
    struct stat named {}, open {};
    return ::lstat(path.c_str(), &named) == 0 && ::fstat(fd, &open) == 0 && named.st_dev == open.st_dev
           && named.st_ino == open.st_ino && open.st_nlink > 0;
}

} // namespace

KVContainerLockFile::KVContainerLockFile(fs::path folder)
    : folder_(std::move(folder))
{
}

std::shared_ptr<KVContainerLockFile> KVContainerLockFile::acquire(const fs::path& folder)
{
    const std::string key = keyOf(folder);
    if (auto held = registry()[key].lock()) {
        // Another container of this process works on the folder: the lock is already ours.
        held->refresh();
        return held;
    }
    std::shared_ptr<KVContainerLockFile> holder(new KVContainerLockFile(folder));
    holder->key_ = key;
    holder->take();
    registry()[key] = holder;
    return holder;
}

KVContainerLockFile::~KVContainerLockFile()
{
    if (auto found = registry().find(key_); found != registry().end() && found->second.expired())
        registry().erase(found);
    release();
}

void KVContainerLockFile::take()
{
    const fs::path path = folder_ / fileName;
    const std::string id = ourId();
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0) {
            // A link is never written through: it goes and a file takes its place.
            if (errno == ELOOP && ::unlink(path.c_str()) == 0)
                continue;
            // Nothing can be written here (a read-only or missing folder): the text still counts.
            checkOwner(readSmall(path));
            return;
        }
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd);
            if (::unlink(path.c_str()) == 0)
                continue;
            return;
        }
        bool locked = true;
        struct flock region {};
        region.l_type = F_WRLCK;
        region.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_SETLK, &region) != 0) {
            int error = errno;
            if (error == EAGAIN || error == EACCES) {
                ::close(fd);
                throw KVDocumentError(KVDocumentError::Code::containerAlreadyInUse);
            }
            // No open-file-description locks here: whole-file locks, or none on this file system.
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                if (errno == EWOULDBLOCK) {
                    ::close(fd);
                    throw KVDocumentError(KVDocumentError::Code::containerAlreadyInUse);
                }
                locked = false;
            }
        }
        // The file may have been removed or replaced between our open and our lock.
        if (!sameFile(fd, path)) {
            ::close(fd);
            continue;
        }
        try {
            checkOwner(readSmall(fd));
        } catch (...) {
            ::close(fd);
            throw;
        }
        // Failures here are let be: the lock is advisory, the next instance finds what it can.
        if (::ftruncate(fd, 0) == 0) {
            ssize_t written;
            do {
                written = ::pwrite(fd, id.data(), id.size(), 0);
            } while (written < 0 && errno == EINTR);
        }
        fd_ = fd;
        locked_ = locked;
        taken_ = true;
        return;
    }
}

void KVContainerLockFile::refresh()
{
    const fs::path path = folder_ / fileName;
    if (fd_ >= 0 && sameFile(fd_, path)) {
        if (readSmall(fd_) != ourId() && ::ftruncate(fd_, 0) == 0) {
            const std::string id = ourId();
            [[maybe_unused]] ssize_t written = ::pwrite(fd_, id.data(), id.size(), 0);
        }
        return;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        locked_ = false;
    }
    take();
}

void KVContainerLockFile::folderDidMove(const fs::path& to)
{
    if (auto found = registry().find(key_); found != registry().end() && found->second.lock().get() == this)
        registry().erase(found);
    folder_ = to;
    key_ = keyOf(to);
    // A lock of the new place taken meanwhile by another container of ours stays that one's.
    if (registry()[key_].expired())
        registry()[key_] = weak_from_this();
}

void KVContainerLockFile::release()
{
    // A lock that was refused, or that could not be written, was never ours to give back.
    if (!taken_)
        return;
    const fs::path path = folder_ / fileName;
    const auto content = readSmall(path);
    const std::string text = content ? std::string(trimmed(*content)) : "";
    const auto id = parseInt32(text);
    struct stat named {};
    if (content && text == ourId()) {
        ::unlink(path.c_str());
    } else if (::lstat(path.c_str(), &named) != 0 && errno == ENOENT) {
        // Gone with its folder (an untitled document's working folder goes before its lock).
    } else if (id && *id > 0) {
        // Another instance's id: its lock now, whatever happened to ours.
        RKLog("warning: the .korvel-lock file is not ours, ignoring", RKLogKind::general);
    } else if (fd_ >= 0 && sameFile(fd_, path)) {
        // The very file we hold, which names nobody: a full disk kept our id out of it.
        ::unlink(path.c_str());
    }
    // Any other file in its place names nobody either: the next instance takes it over as stale.
    // Closing drops the file lock; the name is gone by then, so nobody locks a removed file.
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool KVContainerLockFile::isLiveKorvelProcess(pid_t pid)
{
    if (pid <= 0)
        return false;
    if (::kill(pid, 0) != 0 && errno != EPERM)
        return false;
    const fs::path proc = fs::path("/proc") / std::to_string(pid);
    std::ifstream statFile(proc / "stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    // The state follows the command name, which may itself hold ")".
    auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size())
        return false;
    char state = stat[close + 2];
    if (state == 'Z' || state == 'X' || state == 'x')
        return false;
    std::string name;
    std::error_code ec;
    auto executable = fs::read_symlink(proc / "exe", ec);
    if (!ec) {
        name = executable.filename().string();
        if (name.ends_with(" (deleted)"))
            name.resize(name.size() - 10);
    } else {
        // Another user's process: its short name is all there is to see.
        std::ifstream comm(proc / "comm");
        std::getline(comm, name);
    }
    for (auto& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name.find("korvel") != std::string::npos;
}

} // namespace kx
