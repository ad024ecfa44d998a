#include "App/account/PDGoogleAnalytics.h"

#include <gtk/gtk.h>

#include "App/account/AppServices.h"
#include "App/account/MachineIdentifier.h"
#include "App/account/TelemetryPage.h"
#include "App/shell/RKLog.h"
#include "Platform/UI/Window.h"

namespace kx {

namespace {

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

double secondsSince1970()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

} // namespace

PDGoogleAnalytics& PDGoogleAnalytics::sharedInstance()
{
    static PDGoogleAnalytics* analytics = new PDGoogleAnalytics(); // lives as long as the process
    return *analytics;
}

PDGoogleAnalytics::PDGoogleAnalytics(UserDefaults& defaults)
    : defaults_(defaults)
{
}

PDGoogleAnalytics::~PDGoogleAnalytics()
{
    for (auto& [event, timer] : intervalTimers_)
        timer->cancel();
}

void PDGoogleAnalytics::configureWithSiteId(const std::string& siteId)
{
    siteId_ = siteId;
    TelemetryPage::shared().load();
    while (!queue_.empty()) {
        send(std::move(queue_.front()));
        queue_.pop_front();
    }
}

void PDGoogleAnalytics::setEnabled(bool enabled)
{
    enabled_ = enabled;
    if (!enabled)
        queue_.clear();
}

std::optional<nlohmann::json> PDGoogleAnalytics::eventPayload(const std::string& event, std::optional<double> value)
{
    const auto parts = split(event, '|');
    if (parts.size() != 2 && parts.size() != 3)
        return std::nullopt;
    nlohmann::json payload = {{"t", "event"}, {"ec", parts[0]}, {"ea", parts[1]}};
    if (parts.size() == 3)
        payload["el"] = parts[2];
    if (value && std::isfinite(*value))
        payload["ev"] = *value;
    return payload;
}

void PDGoogleAnalytics::trackEvent(const std::string& event, std::optional<double> value)
{
    if (!enabled_)
        return;
    if (auto payload = eventPayload(event, value))
        send(std::move(*payload));
}

void PDGoogleAnalytics::send(nlohmann::json payload)
{
    if (!siteId_) {
        if (queue_.size() >= maximumQueued)
            queue_.pop_front();
        queue_.push_back(std::move(payload));
        return;
    }
    payload["v"] = 1;
    payload["tid"] = *siteId_;
    payload["cid"] = MachineIdentifier::current();
    TelemetryPage::shared().send(AppServices::currentEnvironment().analytics, payload);
}

void PDGoogleAnalytics::trackEvent(const std::string& event, std::chrono::seconds interval,
                                   std::chrono::seconds checkInterval, std::function<bool()> conditional)
{
    this->checkInterval(event, interval, conditional);
    if (auto old = intervalTimers_.find(event); old != intervalTimers_.end())
        old->second->cancel();
    intervalTimers_[event] = MainQueue::repeating(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::max(checkInterval, std::chrono::seconds(1))),
        [this, event, interval, conditional] { this->checkInterval(event, interval, conditional); });
}

void PDGoogleAnalytics::checkInterval(const std::string& event, std::chrono::seconds interval,
                                      const std::function<bool()>& conditional)
{
    if (!enabled_)
        return;
    const std::string key = intervalKeyPrefix + event;
    const double last = defaults_.doubleForKey(key);
    const double now = secondsSince1970();
    // A last time in the future means the clock was set back: send rather than go silent.
    if (now - last < double(interval.count()) && last <= now)
        return;
    if (conditional && !conditional())
        return;
    trackEvent(event, std::nullopt);
    defaults_.setDouble(key, now);
}

bool PDGoogleAnalytics::currentApplicationIsActive()
{
    return Window::isAnyWindowActive();
}

} // namespace kx
