#include "App/shell/AppInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <glib.h>

#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/Text.h"
#include "Services/runtime/JSONDecoder.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

constexpr const char* identifierBase = "com.korvel.x";

// The first piece of "channel/version", capitalised: "beta/1.2" gives "Beta".
std::string buildNameFor(bool isEnterprise, const std::string& shortVersion)
{
    if (isEnterprise)
        return "Enterprise";
    if (shortVersion.find('/') != std::string::npos) {
        const std::size_t start = shortVersion.find_first_not_of('/');
        if (start == std::string::npos)
            return {};
        const std::string piece = shortVersion.substr(start, shortVersion.find('/', start) - start);
        if (!g_utf8_validate(piece.c_str(), static_cast<gssize>(piece.size()), nullptr))
            return {};
        const char* rest = g_utf8_next_char(piece.c_str());
        const std::size_t firstBytes = static_cast<std::size_t>(rest - piece.c_str());
        char* head = g_utf8_strup(piece.c_str(), static_cast<gssize>(firstBytes));
        char* tail = g_utf8_strdown(rest, -1);
        std::string name = std::string(head) + tail;
        g_free(head);
        g_free(tail);
        return name;
    }
    if (shortVersion == "local")
        return "Dev";
    return {};
}

// A folder name under the data folder must be one plain path component.
bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

Error globalsError(const std::string& reason)
{
    return Error("AppInfo", 1, "The editor's app globals could not be read.", reason);
}

std::mutex currentMutex;
std::shared_ptr<const AppInfo> currentInfo;

} // namespace

Result<AppInfo::NimbetGlobals, Error> AppInfo::NimbetGlobals::decode(std::string_view data)
{
    using R = Result<NimbetGlobals, Error>;
    // The menu nests: a file nested past the decoder's depth is refused before anything
    // recursive reads it.
    try {
        return R::success(JSONDecoder().decode<NimbetGlobals>(data));
    } catch (const DecodingError& error) {
        return R::failure(globalsError(error.what()));
    } catch (const std::exception& error) {
        return R::failure(globalsError(error.what()));
    }
}

AppInfo::AppInfo(Bundle bundle, std::string userAgentName, std::optional<std::string> applicationSupportName,
                 std::optional<fs::path> nimbetDir, std::optional<fs::path> libraryDir, fs::path devServerURLPath)
    : bundle_(std::move(bundle))
    , nimbetDir_(std::move(nimbetDir))
    , libraryDir_(std::move(libraryDir))
    , devServerURLPath_(std::move(devServerURLPath))
{
    const std::string identifier = bundle_.bundleIdentifier();
    const std::string base = identifierBase;
    isDevelopment_ = identifier == base + ".dev";
    isAlpha_ = identifier == base + ".alpha";
    isBeta_ = identifier == base + ".beta";
    isOmega_ = identifier == base + ".omega";
    isProduction_ = identifier == base;
    isEnterprise_ = identifier == base + ".enterprise";

    displayName_ = bundle_.stringForInfoKey("CFBundleName");
    executableName_ = bundle_.stringForInfoKey("CFBundleExecutable");
    if (auto version = bundle_.stringForInfoKey("CFBundleShortVersionString")) {
        shortVersion_ = *version;
    } else {
        std::cout << "Warning: Could not find App version" << std::endl;
    }
    buildName_ = buildNameFor(isEnterprise_, shortVersion_);
    applicationSupportName_ = applicationSupportName ? std::move(applicationSupportName) : executableName_;
    appVersion_ = userAgentName + "/" + shortVersion_;
    userAgent_ = "Mozilla/5.0 (" + platformToken() + ") AppleWebKit/" + webkitVersion() + " (KHTML, like Gecko) "
        + appVersion_;
}

std::shared_ptr<AppInfo> AppInfo::forBundle(const Bundle& bundle)
{
    auto name = bundle.stringForInfoKey("UserAgentName");
    if (!name)
        name = bundle.stringForInfoKey("CFBundleName");
    if (!name) {
        std::fputs("Warning: Could not find Bundle Name\n", stderr);
        std::abort();
    }
    return std::make_shared<AppInfo>(bundle, *name);
}

std::shared_ptr<const AppInfo> AppInfo::current()
{
    std::lock_guard lock(currentMutex);
    if (!currentInfo)
        currentInfo = forBundle(Bundle::main());
    return currentInfo;
}

void AppInfo::setCurrent(std::shared_ptr<const AppInfo> info)
{
    std::lock_guard lock(currentMutex);
    currentInfo = std::move(info);
}

const std::string& AppInfo::operatingSystemVersion()
{
    static const std::string version = [] {
        utsname names {};
        long parts[3] = {0, 0, 0};
        if (uname(&names) == 0) {
            const char* cursor = names.release;
            for (long& part : parts) {
                char* end = nullptr;
                part = std::strtol(cursor, &end, 10);
                if (end == cursor || *end != '.')
                    break;
                cursor = end + 1;
            }
        }
        std::string text = std::to_string(parts[0]) + "_" + std::to_string(parts[1]);
        if (parts[2] != 0)
            text += "_" + std::to_string(parts[2]);
        return text;
    }();
    return version;
}

const std::string& AppInfo::webkitVersion()
{
    // WebKitGTK builds this token from a constant of the engine, frozen since 2017 as in every
    // WebKit port; reading it from a WebKitSettings would need a display. The window tests
    // check that it is still what WebKitGTK sends.
    static const std::string version = "605.1.15";
    return version;
}

const std::string& AppInfo::platformToken()
{
    static const std::string token = [] {
        utsname names {};
        const std::string machine = uname(&names) == 0 ? names.machine : "unknown";
        return "X11; Linux " + machine;
    }();
    return token;
}

std::optional<fs::path> AppInfo::supportURL() const
{
    const fs::path data = FileSystem::dataHome();
    if (!applicationSupportName_ || !isPlainName(*applicationSupportName_) || data.empty()) {
        std::cout << "Warning: Could not find Application Support Directory" << std::endl;
        return std::nullopt;
    }
    return data / *applicationSupportName_;
}

std::optional<fs::path> AppInfo::nimbetDir() const
{
    if (nimbetDir_)
        return nimbetDir_;
    auto support = supportURL();
    return support ? std::optional(*support / "Nimbet") : std::nullopt;
}

std::optional<fs::path> AppInfo::libraryDir() const
{
    if (libraryDir_)
        return libraryDir_;
    auto support = supportURL();
    return support ? std::optional(*support / "Library") : std::nullopt;
}

std::optional<fs::path> AppInfo::snippetsPath() const
{
    auto support = supportURL();
    return support ? std::optional(*support / "Snippets") : std::nullopt;
}

std::optional<fs::path> AppInfo::yarnLinkFolder() const
{
    auto support = supportURL();
    return support ? std::optional(*support / "yarn-link-folder") : std::nullopt;
}

std::optional<fs::path> AppInfo::libraryBundlePath() const
{
    const char* flavour = isProduction_ ? "public" : isBeta_ ? "beta" : "internal";
    return bundle_.pathForResource(flavour, "", "Library");
}

std::optional<std::string> AppInfo::libraryVersion() const
{
    auto library = libraryBundlePath();
    if (!library)
        return std::nullopt;
    auto text = FileSystem::readFile(*library / "package.json");
    if (!text)
        return std::nullopt;
    nlohmann::json json;
    try {
        json = JSONDecoder::parse(*text);
    } catch (const DecodingError&) {
        return std::nullopt;
    }
    if (!json.is_object())
        return std::nullopt;
    auto version = json.find("version");
    if (version == json.end() || !version->is_string())
        return std::nullopt;
    return version->get<std::string>();
}

std::optional<std::string> AppInfo::nimbetDevServerURL() const
{
    if (!isInternal())
        return std::nullopt;
    return devServerURL(devServerURLPath_, geteuid());
}

std::optional<std::string> AppInfo::devServerURL(const fs::path& file, uid_t owner)
{
    // No symbolic links, and no blocking on a FIFO someone put there.
    const int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    constexpr off_t maximumSize = 64 * 1024; // far beyond any URL
    std::string text;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == owner
        && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 && info.st_size <= maximumSize) {
        text.resize(static_cast<std::size_t>(maximumSize) + 1);
        std::size_t filled = 0;
        while (filled < text.size()) {
            const ssize_t got = read(fd, text.data() + filled, text.size() - filled);
            if (got <= 0)
                break;
            filled += static_cast<std::size_t>(got);
        }
        text.resize(filled > static_cast<std::size_t>(maximumSize) ? 0 : filled);
    }
    close(fd);
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        return std::nullopt;
    std::string url(trimmed(text));
    // GLib lets blanks through in places where a URL cannot have them.
    const bool hasBlanks = std::any_of(url.begin(), url.end(), [](char c) {
        return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F;
    });
    if (url.empty() || hasBlanks || !g_uri_is_valid(url.c_str(), G_URI_FLAGS_NONE, nullptr))
        return std::nullopt;
    return url;
}

const std::optional<AppInfo::NimbetGlobals>& AppInfo::nimbetGlobals() const
{
    std::call_once(globalsOnce_, [this] {
        const auto folder = nimbetDir();
        if (!folder)
            return;
        const fs::path file = *folder / appGlobalsFileName;
        const auto data = FileSystem::readFile(file);
        if (!data) {
            std::cout << "No data for " << file.string() << std::endl;
            return;
        }
        auto decoded = NimbetGlobals::decode(*data);
        if (decoded.isFailure()) {
            std::cout << "Could not decode " << file.string() << ": " << decoded.error().localizedFailureReason
                      << std::endl;
            return;
        }
        globals_ = std::move(decoded).get();
    });
    return globals_;
}

} // namespace kx
