#include "App/editor/NimbetIPCProcessor.h"

#include <algorithm>
#include <system_error>

#include "App/shell/RKLog.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

// A hostile page may send megabytes as a path; the log needs only the beginning.
std::string forLog(const std::string& text)
{
    constexpr std::size_t limit = 200;
    std::string shown(text, 0, std::min(text.size(), limit));
    if (text.size() > limit)
        shown.append("...");
    return shown;
}

} // namespace

void NimbetIPCProcessor::processMessage(const std::string& method, const std::optional<nlohmann::json>& arguments)
{
    if (method == "ServerStoreData") {
        if (auto delegate = delegate_.lock())
            delegate->nimbetServerStoreData(arguments && arguments->is_object() ? arguments : std::nullopt);
    } else if (method == "DocumentDirty") {
        if (auto delegate = delegate_.lock())
            delegate->nimbetDocumentDidBecomeDirty();
    } else if (method == "OpenProjectFile" && arguments) {
        openProjectFile(*arguments);
    }
}

void NimbetIPCProcessor::openProjectFile(const nlohmann::json& arguments)
{
    auto delegate = delegate_.lock();
    if (!delegate || !applicationOpenProjectFile_ || !arguments.is_string())
        return;
    const auto projectPath = delegate->projectPath();
    if (!projectPath)
        return;
    const std::string& requested = arguments.get_ref<const std::string&>();
    auto checked = checkedProjectPath(*projectPath, requested);
    if (!checked) {
        RKLog("Refused to open a file that is not in the project: " + forLog(requested), RKLogKind::general);
        return;
    }
    applicationOpenProjectFile_(*checked);
}

std::optional<std::string> NimbetIPCProcessor::checkedProjectPath(const fs::path& projectPath, const std::string& relativePath)
{
    if (relativePath.empty() || relativePath.find('\0') != std::string::npos)
        return std::nullopt;
    const fs::path relative(relativePath);
    if (relative.is_absolute() || relative.has_root_path())
        return std::nullopt;
    for (const auto& component : relative) {
        if (component == "..")
            return std::nullopt;
    }
    // Links inside the project may point anywhere: what counts is where they lead.
    std::error_code error;
    const fs::path root = fs::canonical(projectPath, error);
    if (error)
        return std::nullopt;
    const fs::path target = fs::canonical(root / relative, error);
    if (error)
        return std::nullopt;
    const fs::path inside = target.lexically_relative(root);
    if (inside.empty() || inside == "." || *inside.begin() == "..")
        return std::nullopt;
    return inside.string();
}

} // namespace kx
