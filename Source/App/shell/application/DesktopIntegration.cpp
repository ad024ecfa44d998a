#include "App/shell/application/DesktopIntegration.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <memory>

#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/ThreadPool.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

std::string replaceAll(std::string text, const std::string& placeholder, const std::string& value)
{
    for (std::size_t at = 0; (at = text.find(placeholder, at)) != std::string::npos; at += value.size())
        text.replace(at, placeholder.size(), value);
    return text;
}

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
              + (error.localizedFailureReason.empty() ? "" : " (" + error.localizedFailureReason + ")"),
          0);
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
        RKLog(std::string("Desktop integration: the mime database was not rebuilt: ") + (error ? error->message : ""), 0);
        g_clear_error(&error);
        return;
    }
    if (!g_subprocess_wait_check(process.get(), nullptr, &error)) {
        RKLog(std::string("Desktop integration: update-mime-database failed: ") + (error ? error->message : ""), 0);
        g_clear_error(&error);
    }
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
    configuration.entryTemplate = std::move(*entryText);
    configuration.mimePackage = std::move(*mimeText);
    configuration.dataHome = FileSystem::dataHome();
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
    text = replaceAll(text, "@NAME@", stringValue(hasControlCharacter(configuration.name) ? "Korvel X" : configuration.name));
    text = replaceAll(text, "@EXEC@", execArgument(executable));
    text = replaceAll(text, "@TRYEXEC@", stringValue(executable));
    text = replaceAll(text, "@WMCLASS@", stringValue(configuration.applicationId));
    return Result<std::string, Error>::success(std::move(text));
}

fs::path DesktopIntegration::entryPath(const Configuration& configuration)
{
    return configuration.dataHome / "applications" / (configuration.applicationId + ".desktop");
}

fs::path DesktopIntegration::mimePackagePath(const Configuration& configuration)
{
    return configuration.dataHome / "mime" / "packages" / (configuration.applicationId + ".xml");
}

Result<bool, Error> DesktopIntegration::writeIfChanged(const fs::path& file, const std::string& text)
{
    std::error_code error;
    if (fs::is_regular_file(fs::symlink_status(file, error)) && fs::file_size(file, error) == text.size()) {
        if (FileSystem::readFile(file) == text)
            return Result<bool, Error>::success(false);
    }
    if (auto failure = FileSystem::atomicWrite(file, text))
        return Result<bool, Error>::failure(*failure);
    return Result<bool, Error>::success(true);
}

bool DesktopIntegration::writeFiles(const Configuration& configuration)
{
    auto entry = desktopEntry(configuration);
    if (entry.isFailure()) {
        logError(entry.error());
        return false;
    }
    auto entryWritten = writeIfChanged(entryPath(configuration), entry.value());
    if (entryWritten.isFailure()) {
        logError(entryWritten.error());
        return false;
    }
    auto mimeWritten = writeIfChanged(mimePackagePath(configuration), configuration.mimePackage);
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
        RKLog("Desktop integration: the desktop does not know " + desktopId + " yet", 0);
        return;
    }
    GError* error = nullptr;
    if (!g_app_info_set_as_default_for_type(G_APP_INFO(ours.get()), schemeContentType, &error)) {
        RKLog(std::string("Desktop integration: not the handler of korvel-x links: ") + (error ? error->message : ""), 0);
        g_clear_error(&error);
    }
}

void DesktopIntegration::registerWithLaunchServices()
{
    auto configuration = forMainBundle();
    if (!configuration) {
        RKLog("Desktop integration: the desktop entry template is missing", 0);
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
