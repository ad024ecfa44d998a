// The application's place on the desktop: a desktop entry under $XDG_DATA_HOME/applications
// (named after the application id, so each build channel has its own) with the application's
// icon in the user's hicolor theme, a shared-mime-info package for the zip project type under
// $XDG_DATA_HOME/mime, and the entry as the default handler of "korvel-x" links.
//
// The per-user entry is only for a copy that nothing else puts on the desktop, and it never
// takes the place of an entry of the user's own (one without `writtenKey`). A copy that a
// system entry covers (one of the same id in an applications folder of $XDG_DATA_DIRS whose
// Exec starts this program, or any copy under /usr, /app or /snap, which their packages
// describe) writes none: a per-user entry would shadow the package's own and outlive its
// uninstalling. An entry we wrote (it carries `writtenKey`) whose program is gone, or now
// belongs to such a package, is removed with its icon.
//
// Files are written only when their content changed, off the main thread, never through a
// link planted below $XDG_DATA_HOME; failures are logged and otherwise ignored.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Result.h"

namespace kx {

class DesktopIntegration {
public:
    static constexpr const char* urlScheme = "korvel-x";
    static constexpr const char* schemeContentType = "x-scheme-handler/korvel-x";
    // The key that marks an entry as the one this program writes for itself.
    static constexpr const char* writtenKey = "X-KorvelX-PerUser";

    struct Configuration {
        std::string applicationId;           // the bundle identifier
        std::string name;                    // what the desktop shows
        std::filesystem::path executable;    // the running korvel-x (or its AppImage file)
        std::string entryTemplate;           // Resources/desktop/korvel-x.desktop.in
        std::string mimePackage;             // Resources/desktop/korvel-x-mime.xml
        std::filesystem::path icon;          // Resources/images/AppIcon.svg
        std::filesystem::path dataHome;      // $XDG_DATA_HOME
        std::vector<std::filesystem::path> systemDataDirs; // $XDG_DATA_DIRS
        // Folders whose programs their packages put on the desktop.
        std::vector<std::filesystem::path> packagedFolders = {"/usr", "/app", "/snap"};
    };

    // What the launch does with the per-user entry.
    enum class Placement {
        write,  // nothing else describes this copy: the entry, icon and mime package are ours to keep
        keep,   // as write, but the user's own entry stands where ours would: it stays, ours is not written
        leave,  // a system entry covers this copy; the per-user entry, if any, is not ours to touch
        remove, // as leave, and the per-user entry is one we wrote for a program that is gone or packaged
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
    // The program an entry's Exec line starts (past an "env" and its settings), looked up in
    // $PATH when the line names no folder; nullopt when there is none.
    static std::optional<std::filesystem::path> programOfEntry(const std::string& entryText);

    // Relative to the data home.
    static std::filesystem::path entryPath(const Configuration& configuration);
    static std::filesystem::path mimePackagePath(const Configuration& configuration);

    // True when a system entry covers `program` (see above).
    static bool isCoveredBySystem(const Configuration& configuration, const std::filesystem::path& program);
    static Placement placement(const Configuration& configuration);

    // Writes `text` to `relative` below the data home atomically unless it already holds it;
    // true when written.
    static Result<bool, Error> writeIfChanged(const std::filesystem::path& dataHome, const std::filesystem::path& relative,
                                              const std::string& text);

    // Acts on the placement: writes the icon, the entry and the mime package (rebuilding the
    // mime database when the package changed), or removes a stale entry of ours. Blocking:
    // runs on a worker. True when an entry that starts this program is in place.
    static bool writeFiles(const Configuration& configuration);
    // Makes the entry the default handler of "korvel-x" links unless it is already. Main thread.
    static void becomeDefaultSchemeHandler(const Configuration& configuration);

    // The launch's registration: the files on a worker, then the scheme handler.
    static void registerWithLaunchServices();
};

} // namespace kx
