#include "App/application/UsageMetrics.h"

#include <sys/utsname.h>

#include <chrono>
#include <exception>
#include <optional>

#include "App/account/PDGoogleAnalytics.h"
#include "App/shell/RKLog.h"
#include "App/shell/RunOnce.h"
#include "Platform/Foundation/FileSystem.h"
#include "Services/runtime/JSONDecoder.h"

namespace kx {

namespace {

using namespace std::chrono_literals;

// One short line of printable text from a firmware field; nothing for an empty or odd one.
std::optional<std::string> firmwareField(const std::filesystem::path& file)
{
    std::error_code error;
    if (std::filesystem::file_size(file, error) > 4096 || error)
        return std::nullopt;
    auto text = FileSystem::readFile(file);
    if (!text)
        return std::nullopt;
    std::string clean;
    for (char c : *text) {
        if (c == '\n' || c == '\0')
            break;
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f)
            clean += c;
    }
    while (!clean.empty() && clean.back() == ' ')
        clean.pop_back();
    const auto first = clean.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::nullopt;
    clean = clean.substr(first, 128);
    return clean;
}

} // namespace

void UsageMetrics::setUpDefaults(const Bundle& bundle, UserDefaults& defaults)
{
    if (auto file = bundle.pathForResource("DefaultPreferences", "json")) {
        nlohmann::json object;
        if (auto text = FileSystem::readFile(*file)) {
            try {
                object = JSONDecoder::parse(*text);
            } catch (const std::exception&) {
            }
        }
        if (object.is_object())
            defaults.registerDefaults(object);
        else
            RKLog("DefaultPreferences.json could not be read; no shipped defaults", RKLogKind::general);
    }
    defaults.removeObject(closeAlwaysConfirmsChangesKey);
    const bool bundleDisabled = bundle.boolForInfoKey(dataCollectionDisabledKey);
    if (bundleDisabled) {
        defaults.setBool(dataCollectionDisabledKey, true);
        defaults.synchronize();
    }
    defaults.registerDefaults({{dataCollectionDisabledKey, bundleDisabled}});
}

bool UsageMetrics::isDataCollectionDisabled(const Bundle& bundle, const UserDefaults& defaults)
{
    return defaults.boolForKey(dataCollectionDisabledKey) || bundle.boolForInfoKey(dataCollectionDisabledKey);
}

void UsageMetrics::setUpMetrics(PDGoogleAnalytics& analytics, const Bundle& bundle, UserDefaults& defaults,
                                const std::function<void()>& firstLaunch, std::function<bool()> isActive)
{
    if (isDataCollectionDisabled(bundle, defaults)) {
        analytics.setEnabled(false);
        RKLog("Data collection disabled", RKLogKind::general);
        return;
    }
    analytics.configureWithSiteId(siteId);
    analytics.trackEvent("interval|daily", 86400s, 3600s, nullptr);
    analytics.trackEvent("interval|weekly", 604800s, 86400s, nullptr);
    // 210 days, as the event has always been counted.
    analytics.trackEvent("interval|monthly", 18144000s, 604800s, nullptr);
    analytics.trackEvent("interval.foreground|hour", 3600s, 600s, std::move(isActive));
    analytics.trackEvent("app|start", std::nullopt);
    runOnceForKey(
        firstLaunchKey,
        [&analytics, &firstLaunch] {
            analytics.trackEvent("app.launch.first", std::nullopt);
            if (firstLaunch)
                firstLaunch();
            return true;
        },
        defaults);
    analytics.trackEvent("app.launch", std::nullopt);
}

std::string UsageMetrics::deviceModel(const std::filesystem::path& dmiFolder)
{
    const auto vendor = firmwareField(dmiFolder / "sys_vendor");
    const auto product = firmwareField(dmiFolder / "product_name");
    if (vendor && product)
        return *vendor + " " + *product;
    if (product)
        return *product;
    struct utsname name{};
    if (uname(&name) == 0)
        return name.machine;
    return "unknown";
}

} // namespace kx
