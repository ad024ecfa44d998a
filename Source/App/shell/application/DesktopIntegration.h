// The application's place on the desktop: a desktop entry under $XDG_DATA_HOME/applications
// (named after the application id, so each build channel has its own), a shared-mime-info
// package for the zip project type under $XDG_DATA_HOME/mime, and the entry as the default
// handler of "korvel-x" links. Files are written only when their content changed, off the
// main thread; failures are logged and otherwise ignored.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Result.h"

namespace kx {

class DesktopIntegration {
public:
    static constexpr const char* urlScheme = "korvel-x";
    static constexpr const char* schemeContentType = "x-scheme-handler/korvel-x";

    struct Configuration {
        std::string applicationId;           // the bundle identifier
        std::string name;                    // what the desktop shows
        std::filesystem::path executable;    // the running korvel-x
        std::string entryTemplate;           // Resources/desktop/korvel-x.desktop.in
        std::string mimePackage;             // Resources/desktop/korvel-x-mime.xml
        std::filesystem::path dataHome;      // $XDG_DATA_HOME
    };

    // The bundle's facts and templates for the running executable; nullopt when a template
    // is missing.
    static std::optional<Configuration> forMainBundle();

    // The desktop entry's text; an error for an executable path that an entry cannot hold
    // (a line break or another control character).
    static Result<std::string, Error> desktopEntry(const Configuration& configuration);
    // One argument of an entry's Exec line: in double quotes with the characters that desktop
    // entries reserve there escaped, then escaped again as the entry's string value.
    static std::string execArgument(const std::string& argument);
    // A value of the entry as a string (backslashes and line ends escaped).
    static std::string stringValue(const std::string& value);

    static std::filesystem::path entryPath(const Configuration& configuration);
    static std::filesystem::path mimePackagePath(const Configuration& configuration);

    // Writes `text` to `file` atomically unless it already holds it; true when written.
    static Result<bool, Error> writeIfChanged(const std::filesystem::path& file, const std::string& text);

    // Writes the entry and the mime package (rebuilding the mime database when the package
    // changed). Blocking: runs on a worker. True when the entry is in place.
    static bool writeFiles(const Configuration& configuration);
    // Makes the entry the default handler of "korvel-x" links unless it is already. Main thread.
    static void becomeDefaultSchemeHandler(const Configuration& configuration);

    // The launch's registration: the files on a worker, then the scheme handler.
    static void registerWithLaunchServices();
};

} // namespace kx
