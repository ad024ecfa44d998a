#include "App/application/DesktopIntegration.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "App/application/ApplicationIcon.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/FileSystemBeneath.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/Text.h"
#include "Platform/Foundation/ThreadPool.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t maximumEntrySize = 1024 * 1024;

bool hasControlCharacter(const std::string& text)
{
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f)
            return true;
    }
    return false;
}

void logError(const Error& error)
{
    RKLog("Desktop integration: " + error.localizedDescription
              + (error.localizedFailureReason.empty() ? "" : " (" + error.localizedFailureReason + ")"), RKLogKind::general);
}

// Rebuilds the caches that make a mime package count; a desktop without the tool reads
// packages as they are, or not at all.
void updateMimeDatabase(const fs::path& mimeFolder)
{
    GError* error = nullptr;
    auto process = GObjectRef<GSubprocess>::adopt(g_subprocess_new(
        GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_SILENCE | G_SUBPROCESS_FLAGS_STDERR_SILENCE), &error,
        "update-mime-database", mimeFolder.c_str(), nullptr));
    if (!process) {
        RKLog(std::string("Desktop integration: the mime database was not rebuilt: ") + (error ? error->message : ""), RKLogKind::general);
        g_clear_error(&error);
        return;
    }
    if (!g_subprocess_wait_check(process.get(), nullptr, &error)) {
        RKLog(std::string("Desktop integration: update-mime-database failed: ") + (error ? error->message : ""), RKLogKind::general);
        g_clear_error(&error);
    }
}

// An entry of a system folder (often a link into a package's own folder, so links are
// followed); nullopt when there is none or it is no entry's size.
std::optional<std::string> readSystemEntry(const fs::path& file)
{
    std::error_code error;
    if (!fs::is_regular_file(file, error) || fs::file_size(file, error) > maximumEntrySize || error)
        return std::nullopt;
    return FileSystem::readFile(file);
}

bool isSameFile(const fs::path& first, const fs::path& second)
{
    std::error_code error;
    return fs::equivalent(first, second, error) && !error;
}

bool isInsideAny(const fs::path& program, const std::vector<fs::path>& folders)
{
    const auto real = FileSystem::realPath(program);
    for (const auto& folder : folders) {
        if (FileSystem::isInside(program, folder) || (real && FileSystem::isInside(*real, folder)))
            return true;
    }
    return false;
}

} // namespace

std::optional<DesktopIntegration::Configuration> DesktopIntegration::forMainBundle()
{
    const auto info = AppInfo::current();
    const Bundle& bundle = info->bundle();
    const auto entry = bundle.pathForResource("korvel-x.desktop", "in", "desktop");
    const auto mime = bundle.pathForResource("korvel-x-mime", "xml", "desktop");
    std::optional<std::string> entryText = entry ? FileSystem::readFile(*entry) : std::nullopt;
    std::optional<std::string> mimeText = mime ? FileSystem::readFile(*mime) : std::nullopt;
    if (!entryText || !mimeText)
        return std::nullopt;
    Configuration configuration;
    configuration.applicationId = bundle.bundleIdentifier();
    configuration.name = info->displayName().value_or(bundle.stringForInfoKey("CFBundleName").value_or("Korvel X"));
    configuration.executable = Bundle::executablePath();
    // An AppImage runs from a mount that goes with the process: the entry starts the image.
    if (const char* image = std::getenv("APPIMAGE"); image && *image == '/' && fs::is_regular_file(image))
        configuration.executable = image;
    configuration.entryTemplate = std::move(*entryText);
    configuration.mimePackage = std::move(*mimeText);
    configuration.icon = bundle.pathForResource("AppIcon", "svg", "images").value_or(fs::path());
    configuration.dataHome = FileSystem::dataHome();
    for (const char* const* folder = g_get_system_data_dirs(); folder && *folder; ++folder) {
        if (**folder == '/')
            configuration.systemDataDirs.emplace_back(*folder);
    }
    return configuration;
}

std::string DesktopIntegration::stringValue(const std::string& value)
{
    std::string escaped;
    for (char c : value) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\t')
            escaped += "\\t";
        else if (c == '\r')
            escaped += "\\r";
        else
            escaped += c;
    }
    return escaped;
}

std::string DesktopIntegration::execArgument(const std::string& argument)
{
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%'; // a field code otherwise
        quoted += c;
    }
    quoted += '"';
    return stringValue(quoted);
}

Result<std::string, Error> DesktopIntegration::desktopEntry(const Configuration& configuration)
{
    const std::string executable = configuration.executable.string();
    if (executable.empty() || hasControlCharacter(executable) || !configuration.executable.is_absolute())
        return Result<std::string, Error>::failure(
            Error(Error::posixDomain, EINVAL, "No desktop entry for " + executable, "A desktop entry cannot name this path."));
    std::string text = configuration.entryTemplate;
    replaceAll(text, "@NAME@", stringValue(hasControlCharacter(configuration.name) ? "Korvel X" : configuration.name));
    replaceAll(text, "@EXEC@", execArgument(executable));
    replaceAll(text, "@TRYEXEC@", stringValue(executable));
    replaceAll(text, "@WMCLASS@", stringValue(configuration.applicationId));
    replaceAll(text, "@ICON@", stringValue(configuration.applicationId));
    return Result<std::string, Error>::success(std::move(text));
}

std::optional<fs::path> DesktopIntegration::programOfEntry(const std::string& entryText)
{
    GKeyFile* file = g_key_file_new();
    char* exec = g_key_file_load_from_data(file, entryText.data(), entryText.size(), G_KEY_FILE_NONE, nullptr)
        ? g_key_file_get_string(file, G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_EXEC, nullptr)
        : nullptr;
    g_key_file_free(file);
    const std::string line = exec ? exec : "";
    g_free(exec);
    // Field codes go first ("%%" is a percent sign), then the quoting.
    std::string expanded;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '%' && i + 1 < line.size()) {
            if (line[i + 1] == '%')
                expanded += '%';
            ++i;
            continue;
        }
        expanded += line[i];
    }
    int argc = 0;
    char** argv = nullptr;
    if (!g_shell_parse_argv(expanded.c_str(), &argc, &argv, nullptr))
        return std::nullopt;
    int first = 0;
    if (argc > 0 && fs::path(argv[0]).filename() == "env") {
        first = 1;
        while (first < argc && (std::strchr(argv[first], '=') || argv[first][0] == '-'))
            ++first;
    }
    std::optional<fs::path> program;
    if (first < argc) {
        if (std::strchr(argv[first], '/')) {
            program = fs::path(argv[first]);
        } else if (char* found = g_find_program_in_path(argv[first])) {
            program = fs::path(found);
            g_free(found);
        }
    }
    g_strfreev(argv);
    if (program && !program->is_absolute())
        return std::nullopt;
    return program;
}

fs::path DesktopIntegration::entryPath(const Configuration& configuration)
{
    return fs::path("applications") / (configuration.applicationId + ".desktop");
}

fs::path DesktopIntegration::mimePackagePath(const Configuration& configuration)
{
    return fs::path("mime") / "packages" / (configuration.applicationId + ".xml");
}

bool DesktopIntegration::isCoveredBySystem(const Configuration& configuration, const fs::path& program)
{
    if (isInsideAny(program, configuration.packagedFolders))
        return true;
    for (const auto& folder : configuration.systemDataDirs) {
        const auto entry = readSystemEntry(folder / entryPath(configuration));
        const auto started = entry ? programOfEntry(*entry) : std::nullopt;
        if (started && isSameFile(*started, program))
            return true;
    }
    return false;
}

DesktopIntegration::Placement DesktopIntegration::placement(const Configuration& configuration)
{
    // Whatever stands in the entry's place (a file, a link) and is not an entry we wrote is the
    // user's.
    std::error_code error;
    const bool standing = fs::exists(fs::symlink_status(configuration.dataHome / entryPath(configuration), error));
    const auto ours = FileSystem::readFileBeneath(configuration.dataHome, entryPath(configuration), maximumEntrySize);
    bool written = false;
    if (ours) {
        GKeyFile* file = g_key_file_new();
        written = g_key_file_load_from_data(file, ours->data(), ours->size(), G_KEY_FILE_NONE, nullptr)
            && g_key_file_get_boolean(file, G_KEY_FILE_DESKTOP_GROUP, writtenKey, nullptr);
        g_key_file_free(file);
    }
    if (!isCoveredBySystem(configuration, configuration.executable))
        return standing && !written ? Placement::keep : Placement::write;
    if (!written)
        return Placement::leave;
    const auto program = programOfEntry(*ours);
    if (!program || !fs::exists(*program, error) || isCoveredBySystem(configuration, *program))
        return Placement::remove;
    return Placement::leave;
}

Result<bool, Error> DesktopIntegration::writeIfChanged(const fs::path& dataHome, const fs::path& relative, const std::string& text)
{
    if (FileSystem::readFileBeneath(dataHome, relative, maximumEntrySize) == text)
        return Result<bool, Error>::success(false);
    if (auto failure = FileSystem::atomicWriteBeneath(dataHome, relative, text))
        return Result<bool, Error>::failure(*failure);
    return Result<bool, Error>::success(true);
}

bool DesktopIntegration::writeFiles(const Configuration& configuration)
{
    const Placement placed = placement(configuration);
    switch (placed) {
    case Placement::leave:
        return true;
    case Placement::remove:
        RKLog("Desktop integration: removing the entry of a program that is gone or packaged", RKLogKind::general);
        FileSystem::removeBeneath(configuration.dataHome, entryPath(configuration));
        ApplicationIcon::remove(configuration.dataHome, configuration.applicationId);
        return true;
    case Placement::keep:
        RKLog("Desktop integration: the user's own desktop entry stays; none is written", RKLogKind::general);
        break;
    case Placement::write:
        break;
    }
    auto entry = desktopEntry(configuration);
    if (entry.isFailure()) {
        logError(entry.error());
        return false;
    }
    // The icon before the entry that names it.
    if (!configuration.icon.empty())
        ApplicationIcon::install(configuration.dataHome, configuration.applicationId, configuration.icon);
    auto entryWritten = placed == Placement::keep ? Result<bool, Error>::success(false)
                                                  : writeIfChanged(configuration.dataHome, entryPath(configuration), entry.value());
    if (entryWritten.isFailure()) {
        logError(entryWritten.error());
        return false;
    }
    auto mimeWritten = writeIfChanged(configuration.dataHome, mimePackagePath(configuration), configuration.mimePackage);
    if (mimeWritten.isFailure())
        logError(mimeWritten.error());
    else if (mimeWritten.value())
        updateMimeDatabase(configuration.dataHome / "mime");
    return true;
}

void DesktopIntegration::becomeDefaultSchemeHandler(const Configuration& configuration)
{
    const std::string desktopId = configuration.applicationId + ".desktop";
    auto current = GObjectRef<GAppInfo>::adopt(g_app_info_get_default_for_uri_scheme(urlScheme));
    if (current && g_strcmp0(g_app_info_get_id(current.get()), desktopId.c_str()) == 0)
        return;
    auto ours = GObjectRef<GDesktopAppInfo>::adopt(g_desktop_app_info_new(desktopId.c_str()));
    if (!ours) {
        RKLog("Desktop integration: the desktop does not know " + desktopId + " yet", RKLogKind::general);
        return;
    }
    // A user's own entry that does not say it opens them would take the links and lose them.
    const char* const* types = g_app_info_get_supported_types(G_APP_INFO(ours.get()));
    bool opensLinks = false;
    for (; types && *types && !opensLinks; ++types)
        opensLinks = g_strcmp0(*types, schemeContentType) == 0;
    if (!opensLinks) {
        RKLog("Desktop integration: " + desktopId + " does not open korvel-x links", RKLogKind::general);
        return;
    }
    GError* error = nullptr;
    if (!g_app_info_set_as_default_for_type(G_APP_INFO(ours.get()), schemeContentType, &error)) {
        RKLog(std::string("Desktop integration: not the handler of korvel-x links: ") + (error ? error->message : ""), RKLogKind::general);
        g_clear_error(&error);
    }
}

void DesktopIntegration::registerWithLaunchServices()
{
    auto configuration = forMainBundle();
    if (!configuration) {
        RKLog("Desktop integration: the desktop entry template is missing", RKLogKind::general);
        return;
    }
    auto shared = std::make_shared<Configuration>(std::move(*configuration));
    ThreadPool::global().async([shared] {
        if (!writeFiles(*shared))
            return;
        MainQueue::async([shared] { becomeDefaultSchemeHandler(*shared); });
    });
}

} // namespace kx
