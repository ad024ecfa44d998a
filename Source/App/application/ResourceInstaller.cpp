#include "App/application/ResourceInstaller.h"

#include <system_error>

#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "App/application/InstallCopy.h"
#include "Platform/Foundation/FileSystem.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t maximumMarkerSize = 256;

// Creates the destination's folder and puts the copy in place.
std::optional<Error> copyInto(const fs::path& source, const fs::path& destination)
{
    std::error_code error;
    fs::create_directories(destination.parent_path(), error);
    if (error)
        return Error(Error::posixDomain, error.value(), "Cannot create " + destination.parent_path().string(),
                     error.message());
    return InstallCopy::copyReplacing(source, destination);
}

std::string describe(const Error& error)
{
    return error.localizedFailureReason.empty() ? error.localizedDescription
                                                : error.localizedDescription + ": " + error.localizedFailureReason;
}

// Points `link` at `target`: a new link beside it renamed over the old entry, so the name is
// never missing for a reader.
std::optional<Error> replaceLink(const fs::path& link, const fs::path& target)
{
    std::error_code error;
    const auto status = fs::symlink_status(link, error);
    if (status.type() == fs::file_type::directory)
        fs::remove_all(link, error); // a folder in the way, left by an older layout
    const fs::path fresh = link.parent_path() / ("." + link.filename().string() + ".new");
    fs::remove(fresh, error);
    fs::create_directory_symlink(target, fresh, error);
    if (error)
        return Error(Error::posixDomain, error.value(), "Cannot link " + link.string(), error.message());
    fs::rename(fresh, link, error);
    if (error) {
        std::error_code ignored;
        fs::remove(fresh, ignored);
        return Error(Error::posixDomain, error.value(), "Cannot link " + link.string(), error.message());
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> ResourceInstaller::installedVersion(const fs::path& folder, const char* marker)
{
    std::error_code error;
    const fs::path file = folder / marker;
    if (!fs::is_regular_file(fs::symlink_status(file, error)) || fs::file_size(file, error) > maximumMarkerSize)
        return std::nullopt;
    return FileSystem::readFile(file);
}

bool ResourceInstaller::installLatestNimbet(const fs::path& source, const fs::path& destination,
                                            const std::string& version)
{
    if (installedVersion(destination, nimbetMarker) == version)
        return true;
    if (auto error = copyInto(source, destination)) {
        RKLog("Nimbet Installation error: " + describe(*error), RKLogKind::general);
        return false;
    }
    if (auto error = FileSystem::atomicWrite(destination / nimbetMarker, version))
        RKLog("Nimbet Installation error: " + describe(*error), RKLogKind::general);
    return true;
}

bool ResourceInstaller::installLatestLibrary(const fs::path& source, const fs::path& destination,
                                             const std::string& version, const fs::path& yarnLinkFolder, bool always)
{
    if (!always && installedVersion(destination, libraryMarker) == version)
        return true;
    if (auto error = copyInto(source, destination)) {
        RKLog("Library Installation error: " + describe(*error), RKLogKind::general);
        return false;
    }
    std::error_code created;
    fs::create_directories(yarnLinkFolder, created);
    if (auto error = replaceLink(yarnLinkFolder / libraryLinkName, destination)) {
        RKLog("Error creating link " + describe(*error), RKLogKind::general);
        return false;
    }
    if (auto error = FileSystem::atomicWrite(destination / libraryMarker, version))
        RKLog("Library Installation error: " + describe(*error), RKLogKind::general);
    return true;
}

void ResourceInstaller::installSketchPasteboard(const std::optional<fs::path>& source, const fs::path& pluginFolder)
{
    std::error_code error;
    if (!fs::is_directory(pluginFolder, error) || !source)
        return;
    // Errors are ignored: the plug-in is a convenience of the other application.
    copyInto(*source, pluginFolder / pluginName);
}

void ResourceInstaller::installLatestNimbet()
{
    const auto info = AppInfo::current();
    const auto source = info->bundle().pathForResource("Nimbet", "");
    const auto destination = info->nimbetDir();
    if (!source || !destination) {
        RKLog("Nimbet Installation error: " + std::string(source ? "no folder for the editor" : "the editor is missing"), RKLogKind::general);
        return;
    }
    installLatestNimbet(*source, *destination, info->bundle().stringForInfoKey("CFBundleVersion").value_or(""));
}

void ResourceInstaller::installLatestLibrary()
{
    const auto info = AppInfo::current();
    const auto source = info->libraryBundlePath();
    const auto destination = info->libraryDir();
    const auto version = info->libraryVersion();
    const auto linkFolder = info->yarnLinkFolder();
    if (!source || !destination || !version || !linkFolder) {
        RKLog("Library Installation error: " + std::string(source ? "no folder for the library" : "the library is missing"), RKLogKind::general);
        return;
    }
    installLatestLibrary(*source, *destination, *version, *linkFolder, info->isInternal());
}

void ResourceInstaller::installSketchPasteboard()
{
    // The other application keeps its plug-ins here; it does not run on Linux, so the folder
    // is normally missing and nothing is copied.
    const fs::path folder = FileSystem::dataHome() / "Sketch" / "Plugins";
    installSketchPasteboard(Bundle::main().pathForResource("plugin", "sketchplugin", "KorvelSketchPasteboard"), folder);
}

} // namespace kx
