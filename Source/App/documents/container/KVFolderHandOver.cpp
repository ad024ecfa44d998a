#include "App/documents/container/KVFolderHandOver.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "App/archive/KVDocumentArchive.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileDescriptor.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/FileSystemBeneath.h"

namespace kx::KVFolderHandOver {

namespace fs = std::filesystem;

namespace {

FaultHook& faultHook()
{
    static FaultHook hook;
    return hook;
}

void step(std::string_view name, const std::string& file, const fs::path& shown)
{
    if (!faultHook())
        return;
    if (const int failure = faultHook()(name, file))
        throw Error::fromErrno(failure, "Cannot write " + (shown / file).string());
}

// The regular file at `relative` below the folder open as `folder`, opened for reading without
// following a link on the way; none otherwise.
FileDescriptor openFileAt(int folder, const std::string& relative)
{
    const fs::path path(relative);
    int failure = 0;
    FileDescriptor parent = FileSystem::openFolderAt(folder, path.parent_path(), false, failure);
    if (parent.get() < 0)
        return FileDescriptor();
    // Without blocking: a pipe in a file's place would wait for a writer forever.
    FileDescriptor file(::openat(parent.get(), path.filename().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return FileDescriptor();
    return file;
}

// Reads up to `size` bytes, again where a read was interrupted or came short: the count read,
// short only at the end of the file, or -1.
ssize_t readFully(int fd, char* buffer, std::size_t size)
{
    std::size_t have = 0;
    while (have < size) {
        const ssize_t got = ::read(fd, buffer + have, size - have);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        have += std::size_t(got);
    }
    return ssize_t(have);
}

bool sameContent(int a, int b)
{
    struct stat first {}, second {};
    if (::fstat(a, &first) != 0 || ::fstat(b, &second) != 0 || first.st_size != second.st_size)
        return false;
    constexpr std::size_t chunk = 1 << 16;
    std::string left(chunk, '\0'), right(chunk, '\0');
    for (;;) {
        const ssize_t gotLeft = readFully(a, left.data(), chunk);
        const ssize_t gotRight = readFully(b, right.data(), chunk);
        if (gotLeft < 0 || gotRight < 0 || gotLeft != gotRight)
            return false;
        if (gotLeft == 0)
            return true;
        if (std::memcmp(left.data(), right.data(), std::size_t(gotLeft)) != 0)
            return false;
    }
}

// Copies `source` into a new file `name` of the staging folder `stage`, flushed, with the mode
// of the file it will replace in the folder open as `folder` (or a new file's).
void stageCopy(int stage, const std::string& name, int folder, const fs::path& source, const std::string& relative, const fs::path& shown)
{
    const std::string target = (shown / relative).string();
    FileDescriptor from(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (from.get() < 0 || ::fstat(from.get(), &info) != 0 || !S_ISREG(info.st_mode))
        throw Error::fromErrno(from.get() < 0 ? errno : EINVAL, "Cannot read " + source.string());
    mode_t mode = 0666 & ~FileSystem::currentUmask();
    if (FileDescriptor replaced = openFileAt(folder, relative); replaced.get() >= 0 && ::fstat(replaced.get(), &info) == 0)
        mode = info.st_mode & 07777;
    FileDescriptor to(::openat(stage, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (to.get() < 0)
        throw Error::fromErrno(errno, "Cannot write " + target);
    ::fchmod(to.get(), mode);
    constexpr std::size_t chunk = 1 << 16;
    std::string buffer(chunk, '\0');
    for (;;) {
        const ssize_t got = readFully(from.get(), buffer.data(), chunk);
        if (got < 0)
            throw Error::fromErrno(errno, "Cannot read " + source.string());
        if (got == 0)
            break;
        if (const int failure = writeAll(to.get(), buffer.data(), std::size_t(got)))
            throw Error::fromErrno(failure, "Cannot write " + target);
    }
    if (::fsync(to.get()) != 0)
        throw Error::fromErrno(errno, "Cannot write " + target);
}

// Makes the entries of each of `folders` (relative to the folder open as `folder`, "" for it)
// durable: what was renamed into them, and the folders made in them.
void flushFolders(int folder, const std::set<fs::path>& folders, const fs::path& shown)
{
    for (const auto& relative : folders) {
        int failure = 0;
        FileDescriptor open = FileSystem::openFolderAt(folder, relative, false, failure);
        if (open.get() < 0 || ::fsync(open.get()) != 0)
            throw Error::fromErrno(open.get() < 0 ? failure : errno, "Cannot write " + (shown / relative).string());
    }
}

} // namespace

std::vector<std::string> differences(const fs::path& workingCopy, int folder, const std::set<std::string>& leftOut, std::string_view last)
{
    const std::string backups = std::string(KVDocumentArchive::relativePathForBackups) + "/";
    std::vector<std::string> found;
    bool lastDiffers = false;
    std::error_code ec;
    // Links are not followed: a project holds files, and a link in a working copy leads nowhere
    // the folder should be given.
    fs::recursive_directory_iterator it(workingCopy, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string relative = it->path().lexically_relative(workingCopy).generic_string();
        std::error_code statusError;
        const auto status = it->symlink_status(statusError);
        if (!KVDocumentArchive::shouldInclude(relative) || relative.starts_with(backups)) {
            if (fs::is_directory(status))
                it.disable_recursion_pending();
            continue;
        }
        if (!fs::is_regular_file(status) || leftOut.contains(relative))
            continue;
        FileDescriptor ours(::open(it->path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (ours.get() < 0)
            throw Error::fromErrno(errno, "Cannot read " + it->path().string());
        FileDescriptor theirs = openFileAt(folder, relative);
        if (theirs.get() >= 0 && sameContent(ours.get(), theirs.get()))
            continue;
        if (relative == last)
            lastDiffers = true;
        else
            found.push_back(relative);
    }
    if (ec)
        throw Error::fromErrno(ec.value(), "Cannot read " + workingCopy.string());
    if (lastDiffers)
        found.emplace_back(last);
    return found;
}

void carry(const fs::path& workingCopy, int folder, const fs::path& shown, const std::vector<std::string>& files)
{
    // What a hand-over cut short left goes first, also when nothing is left to carry.
    removeLeftovers(folder);
    if (files.empty())
        return;
    const std::string stagingFolder(stagingName);
    if (::mkdirat(folder, stagingFolder.c_str(), 0700) != 0)
        throw Error::fromErrno(errno, "Cannot write in " + shown.string());
    // Whatever happens from here, nothing staged stays behind.
    struct Staging {
        int folder;
        ~Staging() { removeLeftovers(folder); }
    } staging{folder};
    FileDescriptor stage(::openat(folder, stagingFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (stage.get() < 0)
        throw Error::fromErrno(errno, "Cannot write in " + shown.string());
    for (std::size_t index = 0; index < files.size(); ++index) {
        step("stage", files[index], shown);
        stageCopy(stage.get(), std::to_string(index), folder, workingCopy / files[index], files[index], shown);
    }
    // The folders that renames and new folders change, up to the project folder itself.
    std::set<fs::path> touched = {fs::path()};
    for (std::size_t index = 0; index < files.size(); ++index) {
        const fs::path relative(files[index]);
        const std::string target = (shown / relative).string();
        int failure = 0;
        FileDescriptor parent = FileSystem::openFolderAt(folder, relative.parent_path(), true, failure);
        if (parent.get() < 0)
            throw Error::fromErrno(failure, "Cannot write " + target);
        for (fs::path up = relative.parent_path(); !up.empty(); up = up.parent_path())
            touched.insert(up);
        const bool isLast = index + 1 == files.size();
        if (isLast) {
            // Everything the last file (the document) names is in place for good before it is.
            step("flush", files[index], shown);
            flushFolders(folder, touched, shown);
            step("last", files[index], shown);
        } else {
            step("rename", files[index], shown);
        }
        if (::renameat(stage.get(), std::to_string(index).c_str(), parent.get(), relative.filename().c_str()) != 0)
            throw Error::fromErrno(errno, "Cannot write " + target);
        if (isLast && ::fsync(parent.get()) != 0)
            throw Error::fromErrno(errno, "Cannot write " + target);
    }
    step("done", files.back(), shown);
}

void removeLeftovers(int folder) noexcept
{
    FileSystem::removeAllAt(folder, std::string(stagingName));
}

void setFaultHookForTesting(FaultHook hook)
{
    faultHook() = std::move(hook);
}

} // namespace kx::KVFolderHandOver
