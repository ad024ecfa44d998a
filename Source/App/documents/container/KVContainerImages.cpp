// Images, assets and their cached downscaled copies.
#include "App/documents/container/KVContainerImages.h"

#include <cerrno>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "App/documents/container/KVContainerFiles.h"
#include "App/documents/container/KVContainerImageData.h"
#include "App/documents/container/KVDocumentContainer.h"
#include "App/exchange/ImageScaling.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/ThreadPool.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

const std::string imagesFolder = std::string(KVDocumentArchive::relativePathForImages);
const std::string assetsFolder = "design/assets";
// A full-size image larger than this gets no smaller copies (its links stay).
constexpr std::uint64_t maximumImageLength = std::uint64_t(1) << 30;
// Pictures beyond this many pixels are decoded at a smaller size for their copies: 8,000 by 8,000.
constexpr std::size_t cachedImageMaximumPixels = 64'000'000;
// How many other names an asset may try before giving up.
constexpr int maximumAssetCount = 10'000;

std::string cachePath(int dimension, const std::string& name)
{
    return std::string(KVDocumentArchive::relativePathForImageCaches) + "/" + std::to_string(dimension) + "/" + name;
}

Error nameError(const std::string& name)
{
    return Error("KVDocumentContainer", EINVAL, "“" + name + "” can’t be used as a file name in the project.");
}

// Puts a link to the full-size image at each copy's place; an existing file or link to the
// image is let be. Logs through `log`, which may be called from any thread.
void linkCopies(const fs::path& fullSize, const std::vector<std::pair<int, fs::path>>& copies, const KVContainerImages::Log& log)
{
    for (const auto& [dimension, copy] : copies) {
        if (::symlink(fullSize.c_str(), copy.c_str()) == 0)
            continue;
        int error = errno;
        if (error == EEXIST) {
            // A link kept from before may point where the image no longer is (the project
            // folder moved): it is made to point at the image again.
            std::error_code ec;
            if (fs::is_symlink(fs::symlink_status(copy, ec)) && fs::read_symlink(copy, ec) != fullSize) {
                if (auto failed = KVContainerFiles::replaceLink(copy, fullSize))
                    log("Couldn’t create temporary image cache symlink: " + failed->localizedDescription);
            }
        } else {
            log("Couldn’t create temporary image cache symlink: " + Error::fromErrno(error, copy.string()).localizedDescription);
        }
    }
}

} // namespace

KVContainerImages::KVContainerImages(fs::path projectDirectory)
    : projectDirectory_(std::move(projectDirectory))
{
}

std::string KVContainerImages::storeImage(const std::string& received) const
{
    std::string data = received;
    // A picture without a pixel size of its own (a PDF page) is stored as a PNG rendering;
    // everything else, bitmaps of every kind and data that is no picture, as it came.
    if (KVContainerImageData::looksLikePDF(data) && !KVContainerImageData::hasPixelSize(data)) {
        if (auto png = KVContainerImageData::renderPDFPage(data))
            data = std::move(*png);
    }
    const std::string name = KVContainerImageData::contentName(data);
    if (auto error = KVContainerFiles::makeFolders(projectDirectory_, imagesFolder))
        throw *error;
    // Flushed to disk by the image's background job, not here: a large picture would hold the
    // main loop for as long as the disk takes.
    if (auto error = KVContainerFiles::replaceFile(projectDirectory_ / imagesFolder / name, data, false))
        throw *error;
    return name;
}

void KVContainerImages::copyImage(const std::string& name, int sourceDescriptor, const fs::path& url) const
{
    // A pasteboard's name is only ever one file in the images folder, and one that a save keeps.
    if (!KVContainerFiles::isPlainFileName(name) || name.starts_with('.'))
        throw nameError(name);
    if (auto error = KVContainerFiles::makeFolders(projectDirectory_, imagesFolder))
        throw *error;
    const fs::path target = projectDirectory_ / imagesFolder / name;
    auto error = sourceDescriptor >= 0 ? KVContainerFiles::copyNewFile(sourceDescriptor, url, target)
                                       : KVContainerFiles::copyNewFile(url, target);
    // An image of that name is that content already: it stays as it is.
    if (error && error->code != EEXIST)
        throw *error;
}

std::string KVContainerImages::storeAsset(const std::string& data, const std::string& preferredName, int count) const
{
    if (!KVContainerFiles::isPlainFileName(preferredName))
        throw nameError(preferredName);
    // A hidden name would land where saves do not look: the asset would vanish.
    const std::string name = preferredName.starts_with('.') ? "_" + preferredName : preferredName;
    const auto dot = name.rfind('.');
    const std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot + 1);
    const std::string rest = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);

    for (int n = std::max(0, count); n < std::max(0, count) + maximumAssetCount;) {
        const std::string relative = assetsFolder + "/" + rest + (n > 0 ? " (" + std::to_string(n) + ")" : "") + "." + extension;
        const fs::path url = projectDirectory_ / relative;
        struct stat info {};
        if (::lstat(url.c_str(), &info) != 0) {
            if (errno != ENOENT)
                throw Error::fromErrno(errno, "Cannot look at " + url.string());
            if (auto error = KVContainerFiles::makeFolders(projectDirectory_, assetsFolder))
                throw *error;
            auto error = KVContainerFiles::writeNewFile(url, data, true);
            if (!error)
                return relative;
            if (error->code == EEXIST)
                continue; // taken meanwhile: compared on the next turn
            throw *error;
        }
        // An existing file is never overwritten; one that cannot be read stops the add.
        auto existing = KVContainerFiles::readRegularFile(url, std::max<std::uint64_t>(data.size(), 1));
        if (!existing.data) {
            if (existing.error.code != EFBIG)
                throw existing.error;
        } else if (*existing.data == data) {
            return relative;
        }
        ++n;
    }
    throw Error("KVDocumentContainer", EEXIST, "There are too many assets named “" + preferredName + "”.");
}

void KVContainerImages::addCachedImageDimensionDirectories() const
{
    for (int dimension : KVDocumentContainer::cachedImageDimensions)
        KVContainerFiles::makeFolders(projectDirectory_, std::string(KVDocumentArchive::relativePathForImageCaches) + "/" + std::to_string(dimension));
}

void KVContainerImages::addMissingCachedImages(const std::string& name, const ManifestEntries& manifest, bool flushImage,
                                               bool linkInBackground, Log log, std::function<void()> finished)
{
    const fs::path fullSize = projectDirectory_ / imagesFolder / name;
    std::vector<std::pair<int, fs::path>> pending;
    for (int dimension : KVDocumentContainer::cachedImageDimensions) {
        const std::string relative = cachePath(dimension, name);
        if (!manifest.contains(relative))
            pending.emplace_back(dimension, projectDirectory_ / relative);
    }
    if (!linkInBackground)
        linkCopies(fullSize, pending, log);
    if (pending.empty() && !flushImage)
        return;

    ++pendingCachedImageJobs_;
    ThreadPool::global().async([this, fullSize, pending, flushImage, linkInBackground, log = std::move(log), finished = std::move(finished)]() mutable {
        if (linkInBackground)
            linkCopies(fullSize, pending, log);
        if (flushImage)
            KVContainerFiles::flush(fullSize);
        auto bytes = KVContainerFiles::readRegularFile(fullSize, maximumImageLength, true);
        std::shared_ptr<const Image> image;
        if (bytes.data) {
            auto decoded = Image::decode(std::string_view(bytes.data->data(), bytes.data->size()),
                                             cachedImageMaximumPixels, true);
            if (decoded.isSuccess())
                image = decoded.value();
        }
        if (image && image->representation) {
            const bool jpeg = KVContainerImageData::isJPEG(*bytes.data);
            bytes.data.reset();
            for (const auto& [dimension, copy] : pending) {
                auto scaled = scaleDownToFitSide(image, dimension);
                // The very same image: it does not exceed this size, or is too small to have
                // copies (0.5 or less), and the link serves.
                if (!scaled || scaled == image)
                    continue;
                auto encoded = KVContainerImageData::encode(scaled->representation, jpeg);
                if (!encoded)
                    continue;
                // Replaces the link itself; the full-size image behind it is never written.
                if (auto error = KVContainerFiles::replaceFile(copy, *encoded, false))
                    log("Couldn’t write cached image: " + error->localizedDescription + " (file://" + copy.string());
            }
        }
        // The result goes back to the main loop, and with it the owner's last reference maybe
        // (`log` and `finished` hold it, and so this object, until then).
        MainQueue::async([this, log = std::move(log), finished = std::move(finished)]() mutable {
            --pendingCachedImageJobs_;
            finished();
        });
    });
}

} // namespace kx
