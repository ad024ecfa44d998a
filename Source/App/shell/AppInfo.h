// Build, version and location facts: the build channel (decided by the bundle identifier
// alone), versions, the user agent of web requests and web views, the per-user folders, the
// development editor server of internal builds and the editor's app globals.
//
// One AppInfo is current for the process (`current()`, made from the main bundle on first use
// and replaceable); each instance works out its facts from the bundle it was made with and is
// immutable afterwards, so it may be read from any thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Result.h"
#include "Services/generated/KorvelServices.h"
#include "Services/runtime/ServiceRecord.h"

namespace kx {

class AppInfo {
public:
    // The editor's global settings, "app-globals.json" in the editor folder.
    struct NimbetGlobals {
        std::int64_t documentVersion = 0;
        // The editor's application menus, merged into the main menu at launch.
        std::vector<KorvelServices::MenuItemOptions> appMenu;

        KX_RECORD(NimbetGlobals, documentVersion, appMenu)

        // Both members are required: "documentVersion" an integer, "appMenu" an array of
        // menu-item descriptions. Read by the service layer's strict, depth-limited decoder.
        static Result<NimbetGlobals, Error> decode(std::string_view data);
    };

    static constexpr const char* devServerURLFile = "/tmp/nimbet-debug-url";
    static constexpr const char* appGlobalsFileName = "app-globals.json";

    // `applicationSupportName` nullopt means the bundle's executable name; the editor and
    // library folders, when given, replace the ones under the application-support folder.
    // `devServerURLPath` is where internal builds look for a development editor server.
    AppInfo(Bundle bundle, std::string userAgentName, std::optional<std::string> applicationSupportName = {},
            std::optional<std::filesystem::path> nimbetDir = {}, std::optional<std::filesystem::path> libraryDir = {},
            std::filesystem::path devServerURLPath = devServerURLFile);
    AppInfo(const AppInfo&) = delete;
    AppInfo& operator=(const AppInfo&) = delete;

    // The shared instance. On first use it is made from the main bundle with the user-agent
    // name of "UserAgentName" (else "CFBundleName"); a bundle with neither stops the process.
    static std::shared_ptr<const AppInfo> current();
    static void setCurrent(std::shared_ptr<const AppInfo> info);
    // What `current()` makes: the instance for `bundle` with the names it declares.
    static std::shared_ptr<AppInfo> forBundle(const Bundle& bundle);

    const Bundle& bundle() const { return bundle_; }

    // Build channel.
    bool isDevelopment() const { return isDevelopment_; } // "com.korvel.x.dev"
    bool isAlpha() const { return isAlpha_; }             // "com.korvel.x.alpha"
    bool isBeta() const { return isBeta_; }               // "com.korvel.x.beta"
    bool isOmega() const { return isOmega_; }             // "com.korvel.x.omega"
    bool isProduction() const { return isProduction_; }   // "com.korvel.x"
    bool isEnterprise() const { return isEnterprise_; }   // "com.korvel.x.enterprise"
    bool isInternal() const { return isDevelopment_ || isAlpha_ || isOmega_; }
    // Development builds, and builds that load the editor from a development server.
    bool isLocal() const { return isDevelopment_ || nimbetDevServerURL().has_value(); }

    // Versions and names.
    const std::optional<std::string>& displayName() const { return displayName_; }
    const std::optional<std::string>& executableName() const { return executableName_; }
    const std::string& shortVersion() const { return shortVersion_; }
    // "Enterprise", the capitalised channel of a version such as "beta/1.2", "Dev" for the
    // version "local", else "".
    const std::string& buildName() const { return buildName_; }
    const std::optional<std::string>& applicationSupportName() const { return applicationSupportName_; }
    const std::string& appVersion() const { return appVersion_; } // user-agent name "/" short version
    const std::string& userAgent() const { return userAgent_; }

    // The running kernel's version as "major_minor_patch", or "major_minor" when patch is 0.
    static const std::string& operatingSystemVersion();
    // The engine version that WebKitGTK gives in the "AppleWebKit/" token of its own user
    // agent (not the library's release, which pages would read as an ancient engine).
    static const std::string& webkitVersion();
    // The user agent's platform token, "X11; Linux <machine>".
    static const std::string& platformToken();

    // Folders under $XDG_DATA_HOME/<application-support name>; nullopt without a name or a
    // data folder (a warning is printed).
    std::optional<std::filesystem::path> supportURL() const;
    std::optional<std::filesystem::path> nimbetDir() const;
    std::optional<std::filesystem::path> libraryDir() const;
    std::optional<std::filesystem::path> snippetsPath() const;
    std::optional<std::filesystem::path> yarnLinkFolder() const;
    // The shipped library: Library/public in production, Library/beta in beta builds,
    // Library/internal otherwise; nullopt when the bundle does not have it.
    std::optional<std::filesystem::path> libraryBundlePath() const;
    // "version" of the shipped library's package.json.
    std::optional<std::string> libraryVersion() const;

    // Internal builds only: the URL in the development server file, read anew on every call.
    std::optional<std::string> nimbetDevServerURL() const;
    // The URL that `file` holds, trimmed, when the file is a regular file owned by `owner` and
    // writable by no one else (a file in a world-writable folder is otherwise anyone's input).
    static std::optional<std::string> devServerURL(const std::filesystem::path& file, uid_t owner);

    // Read from the editor folder once, on first use; nullopt when missing or malformed.
    const std::optional<NimbetGlobals>& nimbetGlobals() const;

private:
    Bundle bundle_;
    bool isDevelopment_, isAlpha_, isBeta_, isOmega_, isProduction_, isEnterprise_;
    std::optional<std::string> displayName_;
    std::optional<std::string> executableName_;
    std::string shortVersion_;
    std::string buildName_;
    std::optional<std::string> applicationSupportName_;
    std::string appVersion_;
    std::string userAgent_;
    std::optional<std::filesystem::path> nimbetDir_;
    std::optional<std::filesystem::path> libraryDir_;
    std::filesystem::path devServerURLPath_;

    mutable std::once_flag globalsOnce_;
    mutable std::optional<NimbetGlobals> globals_;
};

} // namespace kx
