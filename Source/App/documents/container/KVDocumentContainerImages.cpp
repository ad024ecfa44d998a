// Images, assets and their cached downscaled copies.
#include "App/documents/container/KVDocumentContainer.h"

#include "App/documents/container/KVContainerPrecondition.h"

namespace kx {

std::string KVDocumentContainer::addImage(const std::string& data)
{
    containerOnMainThread("images are added on the main thread");
    containerPrecondition(isValid_, "images are added to a valid container");
    const std::string name = images_.storeImage(data);
    addCachedImageDimensionDirectories();
    // Flushed to disk by the image's background job, not here: a large picture would hold the
    // main loop for as long as the disk takes.
    addMissingCachedImages(name, {}, true, false);
    return name;
}

void KVDocumentContainer::addImage(const std::string& name, const std::filesystem::path& url)
{
    addImage(name, -1, url);
}

void KVDocumentContainer::addImage(const std::string& name, int sourceDescriptor, const std::filesystem::path& url)
{
    containerOnMainThread("images are added on the main thread");
    containerPrecondition(isValid_, "images are added to a valid container");
    images_.copyImage(name, sourceDescriptor, url);
    addCachedImageDimensionDirectories();
    addMissingCachedImages(name, {}, false, false);
}

std::string KVDocumentContainer::addAsset(const std::string& data, const std::string& preferredName, int count)
{
    return images_.storeAsset(data, preferredName, count);
}

void KVDocumentContainer::addCachedImageDimensionDirectories()
{
    images_.addCachedImageDimensionDirectories();
}

void KVDocumentContainer::addMissingCachedImages(const std::string& name, const ManifestEntries& manifest, bool flushImage,
                                                 bool linkInBackground)
{
    auto self = shared_from_this();
    images_.addMissingCachedImages(
        name, manifest, flushImage, linkInBackground, [self](const std::string& message) { self->log(message); },
        [self, name] {
            if (self->cachedImagesDidFinish)
                self->cachedImagesDidFinish(name);
        });
}

void KVDocumentContainer::addMissingCachedImages(bool manifestIsCurrent)
{
    containerPrecondition(isValid_, "cached images are made for a valid container");
    if (!manifestIsCurrent) {
        try {
            projectDirectoryArchive_->regenerateManifest();
        } catch (const std::exception& error) {
            log(std::string("Couldn’t read the project folder’s file list: ") + error.what());
        }
    }
    const auto& manifest = projectDirectoryArchive_->manifest();
    if (!manifest || !manifest->files) {
        log("Can’t generate image cache links without manifest for " + projectDirectoryArchive_->backing()->url().string());
        return;
    }
    linkCachedImages(*manifest->files);
}

void KVDocumentContainer::linkCachedImages(const ManifestEntries& manifest)
{
    addCachedImageDimensionDirectories();
    const std::string prefix = std::string(KVDocumentArchive::relativePathForImages) + "/";
    const auto files = manifest;
    for (auto it = files.lower_bound(prefix); it != files.end() && it->first.starts_with(prefix); ++it) {
        const std::string name = it->first.substr(prefix.size());
        if (name.find('/') == std::string::npos)
            addMissingCachedImages(name, files, false, true);
    }
}

} // namespace kx
