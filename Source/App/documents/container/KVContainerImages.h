// The images and assets of a project folder and the downscaled copies of each image, made by
// background jobs. Owns the count of jobs under way. Main thread, except the jobs.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

#include "App/archive/KVDocumentArchive.h"

namespace kx {

class KVContainerImages {
public:
    using ManifestEntries = KVDocumentArchive::Manifest::Files;
    // May be called from any thread.
    using Log = std::function<void(const std::string& message)>;

    explicit KVContainerImages(std::filesystem::path projectDirectory);

    // The project folder moved: images are stored in its new place (jobs under way finish
    // with the old one's paths, which fail, and are made again by the next links).
    void projectDirectoryDidMove(std::filesystem::path to) { projectDirectory_ = std::move(to); }

    // Stores image bytes once per content under "design/images" (a PDF page as a PNG
    // rendering) and returns the file name; not yet flushed to disk. Throws
    // unsupportedImageFormat or an Error.
    std::string storeImage(const std::string& data) const;
    // Copies an image file (opened as `sourceDescriptor` when not negative) in under `name`, a
    // plain file name; an existing file of that name is kept. Throws an Error.
    void copyImage(const std::string& name, int sourceDescriptor, const std::filesystem::path& url) const;
    // Stores an asset under "design/assets", named after `preferredName` with " (n)" added
    // while another content holds the name; returns its relative path. Throws an Error.
    std::string storeAsset(const std::string& data, const std::string& preferredName, int count) const;

    void addCachedImageDimensionDirectories() const;
    // Links each copy of image `name` that `manifest` lacks to the full-size image and starts
    // a job that writes the copies smaller than it. With `flushImage` the job first makes the
    // image durable; with `linkInBackground` the job makes the links too, otherwise they exist
    // when this returns. `log` and `finished` hold the owner of this object: it lives until the
    // job is back on the main loop, where `finished` runs.
    void addMissingCachedImages(const std::string& name, const ManifestEntries& manifest, bool flushImage, bool linkInBackground,
                                Log log, std::function<void()> finished);

    // Jobs started and not yet back on the main loop.
    std::size_t pendingCachedImageJobs() const { return pendingCachedImageJobs_; }

private:
    std::filesystem::path projectDirectory_;
    std::size_t pendingCachedImageJobs_ = 0;
};

} // namespace kx
