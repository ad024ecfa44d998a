// The processor of the editor page's named messages on behalf of its document:
//   "ServerStoreData" (an object): the page's store data, for the preview; without one (no
//   arguments, or another value) the document gets none;
//   "DocumentDirty": the page has unsaved changes;
//   "OpenProjectFile" (a project-relative path): open that file of the project with the
//   desktop's application for it.
// The page is not trusted with paths: an absolute path, one with "..", or one whose real
// location (links followed) lies outside the project is refused before anything opens it.
// Main thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "App/editor/IPCProcessor.h"
#include "App/editor/NimbetViewControllerDelegate.h"

namespace kx {

class NimbetIPCProcessor final : public IPCProcessor {
public:
    using OpenProjectFile = std::function<void(const std::string& relativePath)>;

    NimbetIPCProcessor() = default;

    std::shared_ptr<NimbetViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<NimbetViewControllerDelegate> delegate) { delegate_ = std::move(delegate); }
    // Called with a checked path, relative to the project's real folder.
    const OpenProjectFile& applicationOpenProjectFile() const { return applicationOpenProjectFile_; }
    void setApplicationOpenProjectFile(OpenProjectFile open) { applicationOpenProjectFile_ = std::move(open); }

    void processMessage(const std::string& method, const std::optional<nlohmann::json>& arguments) override;

    // The path of an existing file or folder inside `projectPath`, relative to the project's
    // real folder with every link resolved; none for a path the page must not reach.
    static std::optional<std::string> checkedProjectPath(const std::filesystem::path& projectPath,
                                                         const std::string& relativePath);

private:
    void openProjectFile(const nlohmann::json& arguments);

    std::weak_ptr<NimbetViewControllerDelegate> delegate_;
    OpenProjectFile applicationOpenProjectFile_;
};

} // namespace kx
