#include "App/archive/KVSaveStaging.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/file.h>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "App/archive/KVArchivePath.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "Platform/Foundation/FileDescriptor.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/FileSystemBeneath.h"
#include "Platform/Foundation/Text.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view marker = ".korvel-";
constexpr std::string_view stagedKind = "save-";
constexpr std::string_view oldKind = "old-";
constexpr size_t randomLength = 6;

KVSaveStaging::FaultHook& faultHook()
{
    static KVSaveStaging::FaultHook hook;
    return hook;
}

// The errno a test wants this step to fail with, or 0.
int injectedFault(std::string_view step)
{
    return faultHook() ? faultHook()(step) : 0;
}

fs::path parentOf(const fs::path& target)
{
    return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

// The target's name as the leftovers carry it: cut (at a character boundary) so that every
// leftover name fits in a folder. `whole` tells whether nothing was cut.
std::string leftoverStem(const fs::path& target, bool* whole = nullptr)
{
    const std::string name = target.filename().string();
    const size_t room = NAME_MAX - 1 - marker.size() - stagedKind.size() - randomLength;
    if (whole)
        *whole = name.size() <= room;
    return "." + std::string(utf8Prefix(name, room)) + std::string(marker);
}

std::string randomSuffix()
{
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static thread_local std::mt19937_64 random(std::random_device{}());
    std::string suffix(randomLength, 'X');
    for (auto& c : suffix)
        c = letters[random() % (sizeof(letters) - 1)];
    return suffix;
}

// Takes the lock of a file or folder of ours. False when another process holds it; a file
// system without locks counts as unlocked for our own new files.
bool lock(int fd, bool ownFile)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    return ownFile && errno != EWOULDBLOCK && errno != EINTR;
}

// Whether `name` in `parent` is still the file or folder open as `fd` (not removed or replaced
// by a cleaner that got there first).
bool stillNamed(int parentFd, const std::string& name, int fd)
{
    struct stat named {}, open {};
    return ::fstatat(parentFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &open) == 0
           && named.st_dev == open.st_dev && named.st_ino == open.st_ino && open.st_nlink > 0;
}

// Flushes a folder's entries; file systems that cannot flush a folder have nothing to flush.
int flushFolder(const fs::path& folder)
{
    if (int fault = injectedFault("flush"))
        return fault;
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int result = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return result == EINVAL || result == EROFS ? 0 : result;
}

// The package left its place while it was being saved: nothing is put there.
[[noreturn]] void throwMissing(const fs::path& target)
{
    throw KVDocumentArchiveError::unknown(Error(KVDocumentArchiveError::domain, static_cast<int>(KVDocumentArchiveError::Code::unknown),
                                                "The project “" + KVArchivePath::displayName(target.filename().string())
                                                    + "” was moved or deleted while it was being saved.",
                                                "", "Nothing was put in its place."));
}

// Another file took the package's place while it was being saved: that one stays.
[[noreturn]] void throwTaken(const fs::path& target)
{
    throw KVDocumentArchiveError::unknown(Error(KVDocumentArchiveError::domain, static_cast<int>(KVDocumentArchiveError::Code::unknown),
                                                "The project “" + KVArchivePath::displayName(target.filename().string())
                                                    + "” was replaced by another file while it was being saved.",
                                                "", "That file was kept; save again to replace it."));
}

// Whether `path` names the item open as `fd` (an O_PATH descriptor will do).
bool names(const fs::path& path, int fd)
{
    struct stat named {}, open {};
    return fd >= 0 && ::lstat(path.c_str(), &named) == 0 && ::fstat(fd, &open) == 0 && named.st_dev == open.st_dev
           && named.st_ino == open.st_ino;
}

int renameNoReplace(const fs::path& from, const fs::path& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    // A file system without rename flags: check, then rename; only our own saves race here.
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

} // namespace

KVSaveStaging::KVSaveStaging(fs::path target, Kind kind, Target expected)
    : target_(std::move(target))
    , kind_(kind)
{
    const fs::path parent = parentOf(target_);
    FileDescriptor parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parentFd.get() < 0)
        KVDocumentArchiveError::throwErrno(errno, "Cannot open the folder " + parent.string());
    held_ = FileDescriptor(::open(target_.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (held_.get() < 0 && errno != ENOENT)
        KVDocumentArchiveError::throwErrno(errno, "Cannot open " + target_.string());
    if (held_.get() < 0 && expected == Target::existing)
        throwMissing(target_);
    struct stat existing {};
    bool exists = held_.get() >= 0 && ::fstat(held_.get(), &existing) == 0;
    const mode_t newMode = (kind == Kind::file ? 0666 : 0777) & ~FileSystem::currentUmask();
    const std::string stem = leftoverStem(target_) + std::string(stagedKind);

    // A cleaner in another process may take a fresh file before we lock it; then try another.
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string name = stem + "XXXXXX";
        std::string pattern = (parent / name).string();
        int fd;
        if (kind == Kind::file) {
            fd = ::mkostemp(pattern.data(), O_CLOEXEC);
            if (fd < 0)
                KVDocumentArchiveError::throwErrno(errno, "Cannot create a file in " + parent.string());
        } else {
            if (!::mkdtemp(pattern.data()))
                KVDocumentArchiveError::throwErrno(errno, "Cannot create a folder in " + parent.string());
            fd = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0)
                continue;
        }
        name = fs::path(pattern).filename().string();
        if (!lock(fd, true) || !stillNamed(parentFd.get(), name, fd)) {
            ::close(fd);
            continue;
        }
        ::fchmod(fd, exists && ((existing.st_mode & S_IFMT) == (kind == Kind::file ? S_IFREG : S_IFDIR))
                         ? (existing.st_mode & 07777)
                         : newMode);
        fd_ = fd;
        path_ = pattern;
        staged_ = true;
        if (int fault = injectedFault("stage")) {
            discard();
            ::close(std::exchange(fd_, -1));
            KVDocumentArchiveError::throwErrno(fault, "Cannot create a file in " + parent.string());
        }
        return;
    }
    KVDocumentArchiveError::throwErrno(EAGAIN, "Cannot create a temporary file in " + parent.string());
}

KVSaveStaging::~KVSaveStaging()
{
    discard();
    if (fd_ >= 0)
        ::close(fd_);
}

void KVSaveStaging::discard()
{
    if (!staged_)
        return;
    staged_ = false;
    FileDescriptor parent(::open(parentOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() >= 0)
        FileSystem::removeAllAt(parent.get(), path_.filename().string());
}

void KVSaveStaging::commit()
{
    if (!staged_)
        KVDocumentArchiveError::throwErrno(EBADF, "Nothing is staged for " + target_.string());
    const fs::path parent = parentOf(target_);
    const std::string what = "Cannot replace " + target_.string();
    if (kind_ == Kind::file && ::fsync(fd_) != 0)
        KVDocumentArchiveError::throwErrno(errno, "Cannot write " + target_.string());
    fs::path old; // where the previous version is once the new one is in place
    if (held_.get() < 0) {
        int fault = injectedFault("rename");
        if (int error = fault ? fault : renameNoReplace(path_, target_))
            error == EEXIST ? throwTaken(target_) : KVDocumentArchiveError::throwErrno(error, what);
    } else {
        replaceHeld(what, old);
    }
    staged_ = false;
    int flushError = flushFolder(parent);
    if (!old.empty()) {
        FileDescriptor parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (parentFd.get() >= 0)
            FileSystem::removeAllAt(parentFd.get(), old.filename().string());
    }
    if (flushError)
        throw KVDocumentArchiveError::savedButNotFlushed(target_.string(), Error::fromErrno(flushError, "Cannot flush the folder " + parent.string()));
}

void KVSaveStaging::replaceHeld(const std::string& what, fs::path& old)
{
    auto refuse = [&] {
        struct stat info {};
        if (::lstat(target_.c_str(), &info) != 0 && errno == ENOENT)
            throwMissing(target_);
        throwTaken(target_);
    };
    struct stat held {};
    if (::fstat(held_.get(), &held) != 0)
        KVDocumentArchiveError::throwErrno(errno, what);
    // A file never replaces a folder, nor a folder a file.
    if ((kind_ == Kind::folder) != S_ISDIR(held.st_mode))
        KVDocumentArchiveError::throwErrno(kind_ == Kind::folder ? ENOTDIR : EISDIR, what);
    if (!names(target_, held_.get()))
        refuse();
    // The exchange fails on a missing target; what it brings out must be what was held.
    int fault = injectedFault("exchange");
    if (!fault && ::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) == 0) {
        if (names(path_, held_.get())) {
            old = path_;
            return;
        }
        // Another program's file took the place between the look and the exchange: back it goes.
        if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) != 0) {
            // Its file lies under our staged name now, and that must not be removed as ours.
            staged_ = false;
            KVDocumentArchiveError::throwErrno(errno, what + "; the file that took its place is kept as " + path_.string());
        }
        throwTaken(target_);
    }
    int error = fault ? fault : errno;
    if (error == ENOENT)
        throwMissing(target_);
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP)
        KVDocumentArchiveError::throwErrno(error, what);
    // No exchange on this file system (NFS, SMB/CIFS, exFAT, FAT before Linux 6.0, most FUSE):
    // the look comes just before the switch, and what happens between the two is not seen.
    if (kind_ == Kind::file) {
        if (!names(target_, held_.get()))
            refuse();
        fault = injectedFault("rename");
        if (fault || ::rename(path_.c_str(), target_.c_str()) != 0)
            KVDocumentArchiveError::throwErrno(fault ? fault : errno, what);
        return;
    }
    // A folder cannot be renamed over another: the old version goes aside (locked, so that no
    // open takes it for a crash's leftover and puts it back while the new one moves in), then
    // the new one in.
    FileDescriptor oldFd(::open(target_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (oldFd.get() < 0)
        errno == ENOENT ? throwMissing(target_) : KVDocumentArchiveError::throwErrno(errno, what);
    struct stat opened {};
    if (::fstat(oldFd.get(), &opened) != 0 || opened.st_dev != held.st_dev || opened.st_ino != held.st_ino)
        throwTaken(target_);
    if (!lock(oldFd.get(), true))
        KVDocumentArchiveError::throwErrno(EBUSY, what);
    const std::string oldStem = leftoverStem(target_) + std::string(oldKind);
    int moved = EEXIST;
    for (int attempt = 0; attempt < 16 && moved == EEXIST; ++attempt) {
        old = parentOf(target_) / (oldStem + randomSuffix());
        moved = renameNoReplace(target_, old);
    }
    if (moved)
        KVDocumentArchiveError::throwErrno(moved, what);
    fault = injectedFault("rename");
    if (fault || ::rename(path_.c_str(), target_.c_str()) != 0) {
        int failure = fault ? fault : errno;
        if (::rename(old.c_str(), target_.c_str()) != 0)
            KVDocumentArchiveError::throwErrno(failure, what + "; the previous version is kept as " + old.string());
        KVDocumentArchiveError::throwErrno(failure, what);
    }
}

fs::path KVSaveStaging::resolve(const fs::path& url)
{
    fs::path path = url.has_filename() ? url : url.parent_path();
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(path, ec)))
            return path;
        fs::path link = fs::read_symlink(path, ec);
        if (ec)
            return path;
        path = link.is_absolute() ? link : parentOf(path) / link;
        path = path.lexically_normal();
        if (!path.has_filename())
            path = path.parent_path();
    }
    return path;
}

void KVSaveStaging::recover(const fs::path& target) noexcept
{
    try {
        const fs::path parent = parentOf(target);
        FileDescriptor parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (parentFd.get() < 0)
            return;
        bool whole = false;
        const std::string stem = leftoverStem(target, &whole);

        struct Leftover {
            std::string name;
            bool old;
            FileDescriptor fd;
            std::int64_t modified;
        };
        std::vector<Leftover> leftovers;
        int listFd = ::dup(parentFd.get());
        DIR* folder = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
        if (!folder) {
            if (listFd >= 0)
                ::close(listFd);
            return;
        }
        while (auto* item = ::readdir(folder)) {
            std::string_view name = item->d_name;
            if (!name.starts_with(stem))
                continue;
            std::string_view rest = name.substr(stem.size());
            bool old = rest.starts_with(oldKind);
            if (!old && !rest.starts_with(stagedKind))
                continue;
            if (rest.size() != (old ? oldKind : stagedKind).size() + randomLength)
                continue;
            FileDescriptor fd(::openat(parentFd.get(), item->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            struct stat info {};
            if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || info.st_uid != ::geteuid())
                continue;
            if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode))
                continue;
            // Locked: a save of a live process.
            if (!lock(fd.get(), false) || !stillNamed(parentFd.get(), std::string(name), fd.get()))
                continue;
            leftovers.push_back({std::string(name), old && S_ISDIR(info.st_mode), std::move(fd),
                                 std::int64_t(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec});
        }
        ::closedir(folder);

        struct stat info {};
        if (whole && ::lstat(target.c_str(), &info) != 0 && errno == ENOENT) {
            auto newest = leftovers.end();
            for (auto it = leftovers.begin(); it != leftovers.end(); ++it)
                if (it->old && (newest == leftovers.end() || it->modified > newest->modified))
                    newest = it;
            if (newest != leftovers.end()
                && renameNoReplace(parent / newest->name, target) == 0) {
                flushFolder(parent);
                leftovers.erase(newest);
            }
        }
        for (const auto& leftover : leftovers)
            FileSystem::removeAllAt(parentFd.get(), leftover.name);
    } catch (...) {
        // Clearing leftovers is a courtesy; it never stands in the way of an open or a save.
    }
}

void KVSaveStaging::setFaultHookForTesting(FaultHook hook)
{
    faultHook() = std::move(hook);
}

} // namespace kx
