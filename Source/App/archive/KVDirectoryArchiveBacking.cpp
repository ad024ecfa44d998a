#include "App/archive/KVDirectoryArchiveBacking.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "App/archive/KVArchivePath.h"
#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/archive/KVFileDataReader.h"
#include "Platform/Foundation/FileSystem.h"

namespace fs = std::filesystem;
using Clock = kx::DateFormat::Clock;

namespace {

[[noreturn]] void throwErrno(int errnum, const std::string& what)
{
    throw KVDocumentArchiveError::unknown(kx::Error::fromErrno(errnum, what));
}

void writeAll(int fd, std::span<const std::byte> bytes, const fs::path& path)
{
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            throwErrno(errno, "Cannot write " + path.string());
        bytes = bytes.subspan(static_cast<size_t>(written));
    }
}

// Flushes the file system that holds `folder`: one call for all the files just written.
void syncFileSystem(const fs::path& folder)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throwErrno(errno, "Cannot open " + folder.string());
    int result = ::syncfs(fd);
    int errnum = errno;
    ::close(fd);
    if (result != 0)
        throwErrno(errnum, "Cannot write " + folder.string());
}

mode_t newFileMode()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Files written into the folder but not yet in place: a hidden temporary file beside each
// target, and the folders made for them. Whatever is still staged when it goes is removed.
class Staging {
public:
    explicit Staging(fs::path root)
        : root_(std::move(root))
    {
    }
    ~Staging() { discard(); }

    // Writes one file beside `target` through `fill`, which gets the descriptor to write to.
    template <class Fill>
    void stage(const fs::path& target, Fill&& fill)
    {
        makeFolders(target.parent_path());
        struct stat existing {};
        bool exists = ::lstat(target.c_str(), &existing) == 0;
        if (exists && S_ISDIR(existing.st_mode))
            throw KVDocumentArchiveError::unknown(
                kx::Error(kx::Error::posixDomain, EISDIR, "A folder is in the way of the file " + target.string()));
        std::string pattern = kx::FileSystem::temporaryPattern(target);
        int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0)
            throwErrno(errno, "Cannot create a file in " + target.parent_path().string());
        staged_.push_back({pattern, target});
        temporaries_.insert(fs::path(pattern).lexically_relative(root_).generic_string());
        ::fchmod(fd, exists && S_ISREG(existing.st_mode) ? (existing.st_mode & 07777) : newFileMode());
        try {
            fill(fd);
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (::close(fd) != 0)
            throwErrno(errno, "Cannot write " + target.string());
    }

    // Moves every staged file over its target.
    void commit()
    {
        for (auto& file : staged_) {
            if (::rename(file.temporary.c_str(), file.target.c_str()) != 0)
                throwErrno(errno, "Cannot replace " + file.target.string());
            file.temporary.clear();
        }
        staged_.clear();
        created_.clear();
    }

    // Temporary files lie beside their targets, also in ".backups" where hidden files count.
    bool isTemporary(const std::string& relativePath) const { return temporaries_.contains(relativePath); }

    void discard()
    {
        for (const auto& file : staged_)
            if (!file.temporary.empty())
                ::unlink(file.temporary.c_str());
        staged_.clear();
        for (auto folder = created_.rbegin(); folder != created_.rend(); ++folder)
            ::rmdir(folder->c_str());
        created_.clear();
    }

private:
    void makeFolders(const fs::path& folder)
    {
        if (folder == root_ || folder.empty())
            return;
        struct stat info {};
        if (::lstat(folder.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode))
                throw KVDocumentArchiveError::unknown(
                    kx::Error(kx::Error::posixDomain, ENOTDIR, "A file is in the way of the folder " + folder.string()));
            return;
        }
        makeFolders(folder.parent_path());
        if (::mkdir(folder.c_str(), 0777) != 0)
            throwErrno(errno, "Cannot create " + folder.string());
        created_.push_back(folder);
    }

    struct File {
        std::string temporary;
        fs::path target;
    };
    fs::path root_;
    std::vector<File> staged_;
    std::set<std::string> temporaries_;
    std::vector<fs::path> created_;
};

} // namespace

KVDirectoryArchiveBacking::KVDirectoryArchiveBacking(fs::path directory, bool assumeExists, bool writesManifest)
    : url_(std::move(directory))
    , writesManifest_(writesManifest)
{
    if (assumeExists)
        return;
    struct stat info {};
    if (::stat(url_.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw KVDocumentArchiveError::notFound(url_.string());
        throwErrno(errno, "Cannot open " + url_.string());
    }
    if (!S_ISDIR(info.st_mode))
        throw KVDocumentArchiveError::invalidBacking(url_.string(), "The project is not a folder.");
}

std::shared_ptr<KVDocumentArchiveBacking> KVDirectoryArchiveBacking::moved(const fs::path& to) const
{
    return std::make_shared<KVDirectoryArchiveBacking>(to, true, writesManifest_);
}

std::unique_ptr<KVDataReader> KVDirectoryArchiveBacking::dataReader(const std::string& relativePath) const
{
    if (!KVArchivePath::isSafeRelativePath(relativePath) || relativePath.back() == '/')
        throw KVDocumentArchiveError::notFound(relativePath);
    return std::make_unique<KVFileDataReader>(url_ / relativePath);
}

std::vector<std::string> KVDirectoryArchiveBacking::includedFiles(std::vector<std::string>* folders) const
{
    std::vector<std::string> files;
    std::error_code ec;
    fs::recursive_directory_iterator walk(url_, fs::directory_options::none, ec);
    for (; !ec && walk != fs::recursive_directory_iterator(); walk.increment(ec)) {
        auto status = walk->symlink_status(ec);
        if (ec)
            break;
        std::string path = walk->path().lexically_relative(url_).generic_string();
        if (fs::is_directory(status)) {
            // A folder none of whose files could be included is not entered (".cache").
            if (!KVDocumentArchive::shouldInclude(path + "/_"))
                walk.disable_recursion_pending();
            else if (folders)
                folders->push_back(path);
        } else if (fs::is_regular_file(status) && KVDocumentArchive::shouldInclude(path)) {
            if (!KVArchivePath::isSafeRelativePath(path))
                throw KVDocumentArchiveError::unknown(kx::Error(
                    KVDocumentArchiveError::domain, static_cast<int>(KVDocumentArchiveError::Code::unknown),
                    "The file “" + path + "” has a name that can’t be stored in a project.",
                    "Rename the file so that its name has no backslash and is valid UTF-8."));
            files.push_back(std::move(path));
        }
    }
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory && !fs::exists(url_))
            throw KVDocumentArchiveError::notFound(url_.string());
        throwErrno(ec.value(), "Cannot list " + url_.string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void KVDirectoryArchiveBacking::forEach(const Body& body) const
{
    for (const auto& path : includedFiles()) {
        KVFileDataReader reader(url_ / path);
        body(path, reader);
    }
}

void KVDirectoryArchiveBacking::reflect(const KVDocumentArchive& contentsOf, const KVDocumentArchiveManifest& updating,
                                        KVDocumentArchiveManifest& updatedManifest)
{
    KVDocumentArchiveManifest written{updating.uuid, KVDocumentArchiveManifest::Files()};
    Staging staging(url_);

    contentsOf.backing()->forEach([&](const std::string& path, KVDataReader& reader) {
        if (!KVArchivePath::isSafeRelativePath(path) || path.back() == '/')
            throw KVDocumentArchiveError::invalidBacking(contentsOf.backing()->url().string(),
                                                         "The file name “" + path + "” leads outside the project.");
        fs::path target = url_ / path;
        staging.stage(target, [&](int fd) {
            KVDocumentArchiveManifest::Entry entry(reader, [&](std::span<const std::byte> chunk) { writeAll(fd, chunk, target); });
            written.files->insert_or_assign(path, std::move(entry));
        });
    });
    if (writesManifest_) {
        std::string text = KVDocumentArchive::encode(written.toJSON());
        fs::path target = url_ / KVDocumentArchive::relativePathForManifest;
        staging.stage(target, [&](int fd) { writeAll(fd, std::as_bytes(std::span(text.data(), text.size())), target); });
    }
    // The new contents reach the disk before any name switches to them.
    syncFileSystem(url_);

    std::set<std::string> stale;
    for (auto& path : includedFiles())
        if (!written.files->contains(path) && !staging.isTemporary(path))
            stale.insert(std::move(path));
    // The package folder itself, also when its URL ends in a separator.
    const fs::path root = url_.has_filename() ? url_ : url_.parent_path();
    for (const auto& path : stale) {
        fs::path file = root / path;
        if (::unlink(file.c_str()) != 0 && errno != ENOENT)
            throwErrno(errno, "Cannot remove " + file.string());
        // Folders emptied by the removal go too; rmdir leaves any folder that still holds something.
        for (fs::path folder = file.parent_path(); folder != root && ::rmdir(folder.c_str()) == 0;)
            folder = folder.parent_path();
    }
    staging.commit();
    syncFileSystem(url_);
    updatedManifest = std::move(written);
}

std::optional<Clock::time_point> KVDirectoryArchiveBacking::contentModificationDate() const
{
    std::vector<std::string> folders;
    std::vector<std::string> files;
    try {
        files = includedFiles(&folders);
    } catch (const KVDocumentArchiveError&) {
        return std::nullopt;
    }
    files.insert(files.end(), folders.begin(), folders.end());
    files.push_back(".");
    std::optional<Clock::time_point> latest;
    for (const auto& path : files) {
        struct stat info {};
        if (::lstat((url_ / path).c_str(), &info) == 0) {
            auto time = timeOf(info.st_mtim);
            if (!latest || time > *latest)
                latest = time;
        }
    }
    return latest;
}
