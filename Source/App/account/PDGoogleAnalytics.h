// Web analytics: events of the form "category|action" or "category|action|label", with an
// optional value, sent for the site id through the hidden telemetry page to the current
// environment's analytics collector. Calls made before `configureWithSiteId` are queued (a
// bounded number) and sent once it has been called; nothing is sent while disabled.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/UserDefaults.h"

namespace kx {

class PDGoogleAnalytics {
public:
    // The last sending time of an interval event (seconds since 1970) is kept under this
    // prefix followed by the event name.
    static constexpr const char* intervalKeyPrefix = "PDGoogleAnalytics|";
    static constexpr std::size_t maximumQueued = 64;

    static PDGoogleAnalytics& sharedInstance();

    explicit PDGoogleAnalytics(UserDefaults& defaults = UserDefaults::standard());
    ~PDGoogleAnalytics();
    PDGoogleAnalytics(const PDGoogleAnalytics&) = delete;
    PDGoogleAnalytics& operator=(const PDGoogleAnalytics&) = delete;

    // Stores the site id, loads the page and sends what was queued.
    void configureWithSiteId(const std::string& siteId);
    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled_; }

    // Splits the name at "|": two parts are category and action, three category, action and
    // label; any other number of parts sends nothing.
    void trackEvent(const std::string& event, std::optional<double> value);
    // Sends the event at most once per `interval`, testing now and every `checkInterval` on
    // the main queue; with `conditional`, only while it answers true.
    void trackEvent(const std::string& event, std::chrono::seconds interval, std::chrono::seconds checkInterval,
                    std::function<bool()> conditional);

    // Whether any window of this application is the active one.
    static bool currentApplicationIsActive();

    // The collector's payload for one event, none for a name that sends nothing.
    static std::optional<nlohmann::json> eventPayload(const std::string& event, std::optional<double> value);

private:
    void checkInterval(const std::string& event, std::chrono::seconds interval, const std::function<bool()>& conditional);
    void send(nlohmann::json payload);

    UserDefaults& defaults_;
    bool enabled_ = true;
    std::optional<std::string> siteId_;
    std::deque<nlohmann::json> queue_;
    std::map<std::string, std::shared_ptr<MainQueue::Timer>> intervalTimers_;
};

} // namespace kx
