// A document as the editor's messages meet it, for tests: it records what the page reports
// (changes, store data) and hands each report on to what the test sets; everything else is
// absent.
#pragma once

#include <functional>

#include "App/editor/NimbetViewControllerDelegate.h"

namespace kxtest {

class RecordingDocument final : public kx::NimbetViewControllerDelegate {
public:
    std::optional<std::filesystem::path> projectPath() const override { return project; }
    std::optional<std::string> serverURL() const override { return std::nullopt; }
    std::optional<std::string> metricsProjectId() const override { return std::nullopt; }
    std::shared_ptr<kx::RenderedHTMLCache> exportPreviewCache() override { return nullptr; }
    std::shared_ptr<kx::RenderedHTMLCache> componentsThumbnailCache() override { return nullptr; }
    std::optional<std::string> nimbetDocumentDidReceiveImageData(const std::string&) override { return std::nullopt; }
    std::optional<std::string> nimbetDocumentDidReceiveAssetData(const std::string&, const std::string&) override { return std::nullopt; }
    void nimbetReadImagesFromPasteboard(const std::map<std::string, std::filesystem::path>&) override { }
    void nimbetDocumentDidRequestCopyImagesToPasteboard(const std::vector<std::string>&) override { }
    void nimbetDocumentDidRequestCopyImagesFromPasteboard() override { }
    void nimbetDocumentDidBecomeDirty() override
    {
        ++dirtyReports;
        if (onDirty)
            onDirty();
    }
    void nimbetServerStoreData(const std::optional<nlohmann::json>& arguments) override
    {
        storeData.push_back(arguments);
        if (onStoreData)
            onStoreData(arguments);
    }
    void nimbetPackageAdd(const std::string&) override { }
    void openPreviewInspector() override { }
    void openPreviewAndOrderFront(bool) override { }

    std::optional<std::filesystem::path> project;
    int dirtyReports = 0;
    std::vector<std::optional<nlohmann::json>> storeData;
    std::function<void()> onDirty;
    std::function<void(const std::optional<nlohmann::json>&)> onStoreData;
};

} // namespace kxtest
