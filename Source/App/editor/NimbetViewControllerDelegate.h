// What the editor's messages ask of the document that shows the editor: its folders and
// addresses, its render caches, and the document's side of images, assets, store data,
// packages and the preview. The document implements it; the editor message processor holds it
// weakly. Main thread only.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "App/exchange/RenderedHTMLCache.h"

namespace kx {

class NimbetViewControllerDelegate {
public:
    virtual ~NimbetViewControllerDelegate() = default;

    // The project folder (the working copy), none before the document has one.
    virtual std::optional<std::filesystem::path> projectPath() const = 0;
    // The project server's address, none while it is not running.
    virtual std::optional<std::string> serverURL() const = 0;
    virtual std::optional<std::string> metricsProjectId() const = 0;
    virtual std::shared_ptr<RenderedHTMLCache> exportPreviewCache() = 0;
    virtual std::shared_ptr<RenderedHTMLCache> componentsThumbnailCache() = 0;

    // The name under which the image or asset now lies in the project, none when it could
    // not be added.
    virtual std::optional<std::string> nimbetDocumentDidReceiveImageData(const std::string& data) = 0;
    virtual std::optional<std::string> nimbetDocumentDidReceiveAssetData(const std::string& data,
                                                                         const std::string& preferredName) = 0;
    // Image name to the file it is copied from.
    virtual void nimbetReadImagesFromPasteboard(const std::map<std::string, std::filesystem::path>& images) = 0;
    virtual void nimbetDocumentDidRequestCopyImagesToPasteboard(const std::vector<std::string>& imageNames) = 0;
    virtual void nimbetDocumentDidRequestCopyImagesFromPasteboard() = 0;

    // The page has changes that are not saved yet.
    virtual void nimbetDocumentDidBecomeDirty() = 0;
    // The page's store data; none when it sent no object.
    virtual void nimbetServerStoreData(const std::optional<nlohmann::json>& arguments) = 0;
    virtual void nimbetPackageAdd(const std::string& packageName) = 0;
    virtual void openPreviewInspector() = 0;
    virtual void openPreviewAndOrderFront(bool flag) = 0;
};

} // namespace kx
