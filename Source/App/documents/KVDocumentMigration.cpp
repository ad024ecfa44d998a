#include "App/documents/KVDocumentMigration.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "App/archive/KVDirectoryArchiveBacking.h"
#include "App/archive/KVDocumentArchive.h"
#include "App/documents/DocumentController.h"
#include "App/documents/KVDocument.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FileDescriptor.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/Uuid.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

// Nested folders deeper than this are left out: no project needs them, a hostile one might.
constexpr int maximumDepth = 64;

void copyFile(int from, const fs::path& destination)
{
    const int to = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (to < 0)
        return;
    char buffer[1 << 16];
    bool failed = false;
    for (;;) {
        ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            failed = got < 0;
            break;
        }
        if (kx::writeAll(to, buffer, std::size_t(got)) != 0) {
            failed = true;
            break;
        }
    }
    ::close(to);
    if (failed)
        ::unlink(destination.c_str());
}

// Copies what `fd` (opened without following a link) is to `destination`.
void copyOpened(int fd, const fs::path& destination, int depth)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return;
    if (S_ISREG(info.st_mode)) {
        copyFile(fd, destination);
        return;
    }
    if (!S_ISDIR(info.st_mode) || depth > maximumDepth)
        return;
    std::error_code ec;
    if (!fs::create_directory(destination, ec) && !fs::is_directory(fs::symlink_status(destination, ec)))
        return;
    const int listing = ::dup(fd);
    DIR* folder = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!folder) {
        if (listing >= 0)
            ::close(listing);
        return;
    }
    while (auto* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const int child = ::openat(fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (child < 0)
            continue; // a link (ELOOP) or something unreadable: left out
        copyOpened(child, destination / name, depth + 1);
        ::close(child);
    }
    ::closedir(folder);
}

// Opens `relative` below `root` one component at a time, never through a link.
int openBelow(const fs::path& root, const fs::path& relative)
{
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const auto& component : relative) {
        if (fd < 0)
            return -1;
        const int next = ::openat(fd, component.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        ::close(fd);
        fd = next;
    }
    return fd;
}

} // namespace

const std::vector<std::pair<std::string, std::string>>& KVDocumentMigration::copyTable()
{
    static const std::vector<std::pair<std::string, std::string>> table = {
        {"components", "code"},
        {"korvel/design.nimbet", std::string(KVDocumentArchive::relativePathForDocumentJSON)},
        {"icon.png", "metadata/icon.png"},
        {"artwork.png", "metadata/artwork.png"},
        {"README.md", "README.md"},
        {"package.json", "package.json"},
        {"tsconfig.json", "tsconfig.json"},
        {"yarn.lock", "yarn.lock"},
    };
    return table;
}

const std::vector<std::string>& KVDocumentMigration::imageFolders()
{
    static const std::vector<std::string> folders = {"images/design", "images/_nimbet"};
    return folders;
}

const std::vector<std::string>& KVDocumentMigration::imageExtensions()
{
    static const std::vector<std::string> extensions = {"png", "jpg", "jpeg", "gif", "apng", "tiff", "webp"};
    return extensions;
}

fs::path KVDocumentMigration::workingFolderBase()
{
    std::string identifier = Bundle::main().bundleIdentifier();
    return FileSystem::cacheHome() / (identifier.empty() ? std::string("Korvel X") : identifier) / "Migrations";
}

void KVDocumentMigration::copyWithoutLinks(const fs::path& source, const fs::path& destination)
{
    const int fd = openBelow(source.parent_path(), source.filename());
    if (fd < 0)
        return;
    copyOpened(fd, destination, 0);
    ::close(fd);
}

std::shared_ptr<KVDocument> KVDocumentMigration::newDocument(const fs::path& legacyFolder)
{
    auto* controller = DocumentController::shared();
    const auto type = controller ? controller->defaultType() : std::nullopt;
    if (!type)
        throw Error("NSCocoaErrorDomain", 256, "The document could not be read.");

    const fs::path working = workingFolderBase() / ("Korvel-Migration-" + Uuid::make());
    std::error_code ec;
    fs::create_directories(working, ec);
    if (ec)
        throw Error::fromErrno(ec.value(), "Cannot create the folder for the converted document");
    // The copy is only the new document's template: it goes once the document has read it.
    struct RemoveWorkingFolder {
        fs::path folder;
        ~RemoveWorkingFolder()
        {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    } removeWorkingFolder{working};

    for (const auto& [from, to] : copyTable()) {
        const fs::path destination = working / to;
        fs::create_directories(destination.parent_path(), ec);
        const int fd = openBelow(legacyFolder, from);
        if (fd < 0)
            continue;
        copyOpened(fd, destination, 0);
        ::close(fd);
    }
    for (const auto& relative : imageFolders()) {
        const int fd = openBelow(legacyFolder, relative);
        if (fd < 0)
            continue;
        struct stat info {};
        DIR* folder = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) ? ::fdopendir(::dup(fd)) : nullptr;
        if (folder) {
            while (auto* entry = ::readdir(folder)) {
                const fs::path name = entry->d_name;
                const std::string extension = name.extension().string();
                if (extension.size() < 2)
                    continue;
                bool isImage = false;
                for (const auto& candidate : imageExtensions())
                    isImage = isImage || extension.substr(1) == candidate;
                if (!isImage)
                    continue;
                const int image = ::openat(fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
                if (image < 0)
                    continue;
                struct stat imageInfo {};
                // Files only: a folder named like an image is left out, and an existing name
                // keeps the copy from the first image folder.
                if (::fstat(image, &imageInfo) == 0 && S_ISREG(imageInfo.st_mode)) {
                    fs::create_directories(working / imageDestination, ec);
                    copyFile(image, working / imageDestination / name);
                }
                ::close(image);
            }
            ::closedir(folder);
        }
        ::close(fd);
    }

    auto backing = std::make_shared<KVDirectoryArchiveBacking>(working, false, true);
    auto archive = std::make_shared<KVDocumentArchive>(backing, std::nullopt);
    auto document = KVDocument::makeUntitled(*type, archive);
    document->setMigratedDocumentURL(legacyFolder);
    document->setDisplayName(document->displayName() + " (" + legacyFolder.stem().string() + ")");
    return document;
}

} // namespace kx
