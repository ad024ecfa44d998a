#include "App/account/KorvelTracking.h"

#include "App/account/AppServices.h"
#include "App/account/LoginController.h"
#include "App/account/MachineIdentifier.h"
#include "App/account/TelemetryPage.h"
#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/DateFormat.h"

namespace kx {

namespace {

// Replaces every text that contains the token, keys included, wherever it is nested.
nlohmann::json withoutToken(const nlohmann::json& value, const std::string& token)
{
    if (value.is_string())
        return value.get_ref<const std::string&>().find(token) != std::string::npos ? nlohmann::json("<hidden>") : value;
    if (value.is_array()) {
        nlohmann::json result = nlohmann::json::array();
        for (const auto& element : value)
            result.push_back(withoutToken(element, token));
        return result;
    }
    if (value.is_object()) {
        nlohmann::json result = nlohmann::json::object();
        for (const auto& [key, element] : value.items())
            result[key.find(token) != std::string::npos ? std::string("<hidden>") : key] = withoutToken(element, token);
        return result;
    }
    return value;
}

} // namespace

KorvelTracking& KorvelTracking::shared()
{
    static KorvelTracking* tracking = new KorvelTracking(); // lives as long as the process
    return *tracking;
}

KorvelTracking::KorvelTracking(UserDefaults& defaults)
    : defaults_(defaults)
{
}

bool KorvelTracking::allowsEvent(const std::string& event) const
{
    if (defaults_.boolForKey(trackingDisabledKey))
        return false;
    if (defaults_.boolForKey(dataCollectionDisabledKey))
        return event.starts_with("active");
    return true;
}

nlohmann::json KorvelTracking::payload(const std::string& type, const std::string& event, const nlohmann::json& data,
                                       const std::optional<std::string>& userId) const
{
    auto info = AppInfo::current();
    nlohmann::json payload = {
        {"type", type},
        {"userId", userId ? nlohmann::json(*userId) : nlohmann::json()},
        {"anonymousId", MachineIdentifier::current()},
        {"data", data.is_object() ? data : nlohmann::json::object()},
        {"context",
         {{"app", info->appVersion()},
          {"os", "Linux " + AppInfo::operatingSystemVersion()},
          {"environment", AppServices::currentEnvironment().name}}},
        {"timestamp", DateFormat::iso8601(DateFormat::Clock::now())},
    };
    if (type == "track")
        payload["event"] = event;
    return payload;
}

void KorvelTracking::track(const std::string& event, const nlohmann::json& data)
{
    if (!allowsEvent(event))
        return;
    send(payload("track", event, data, LoginController::shared().userId()));
}

void KorvelTracking::identifyWithUserId(const std::string& userId, const nlohmann::json& data)
{
    // An identification is not an "active" event: it waits for data collection to be on.
    if (!allowsEvent("identify"))
        return;
    send(payload("identify", {}, data, userId));
}

void KorvelTracking::send(nlohmann::json payload)
{
    // Only the caller's data can carry it: the ids and the context are ours.
    if (const auto& token = LoginController::shared().token(); token && !token->empty())
        payload["data"] = withoutToken(payload["data"], *token);
    std::string text;
    try {
        text = payload.dump();
    } catch (const nlohmann::json::exception&) {
        RKLog("A usage event with text that is not UTF-8 was dropped", RKLogKind::general);
        return;
    }
    if (text.size() > maximumEventSize) {
        RKLog("A usage event too large to send was dropped", RKLogKind::general);
        return;
    }
    TelemetryPage::shared().send(AppServices::currentEnvironment().endpoints.tracking, payload);
}

} // namespace kx
