// Copies what the application ships into the places where the editor page, the project
// server and another application read it: the editor folder, the component library (linked as
// "korvel" into the yarn link folder) and the pasteboard plug-in. A copy is put in place whole
// (see InstallCopy) and only then is its version marker written, so a failed or interrupted
// copy is tried again at the next launch. Failures are logged and never stop the launch.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kx {

class ResourceInstaller {
public:
    static constexpr const char* nimbetMarker = ".installer-version";
    static constexpr const char* libraryMarker = ".installed-version";
    static constexpr const char* libraryLinkName = "korvel";
    static constexpr const char* pluginName = "Korvel Pasteboard.sketchplugin";

    // The editor: copied unless the destination's marker holds `version`. True when the
    // editor is in place (copied now or before).
    static bool installLatestNimbet(const std::filesystem::path& source, const std::filesystem::path& destination,
                                    const std::string& version);

    // The library: copied unless the marker holds `version` (`always` copies anyway, as
    // internal builds do), then linked as "korvel" in `yarnLinkFolder`.
    static bool installLatestLibrary(const std::filesystem::path& source, const std::filesystem::path& destination,
                                     const std::string& version, const std::filesystem::path& yarnLinkFolder,
                                     bool always);

    // The plug-in, copied at every launch into `pluginFolder` when that folder exists (the
    // application it serves is installed); nothing otherwise.
    static void installSketchPasteboard(const std::optional<std::filesystem::path>& source,
                                        const std::filesystem::path& pluginFolder);

    // The marker's text, nullopt when it cannot be read.
    static std::optional<std::string> installedVersion(const std::filesystem::path& folder, const char* marker);

    // The application installs from its bundle with these (the folders of AppInfo).
    static void installLatestNimbet();
    static void installLatestLibrary();
    static void installSketchPasteboard();
};

} // namespace kx
