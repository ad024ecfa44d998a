// The hidden page that carries usage events and web analytics to their collectors: one web
// view in no window, loaded once when the main loop is first idle (after the launch's
// windows), in the login window's web process when that window exists, shared by
// KorvelTracking and PDGoogleAnalytics. Sending
// never waits: what is sent before the page has loaded waits in a bounded queue in memory
// (the oldest is dropped when it is full) and goes out, in order, once it has.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

namespace kx {

class WebViewController;

class TelemetryPage {
public:
    static constexpr std::size_t maximumQueued = 256;

    static TelemetryPage& shared();

    TelemetryPage();
    ~TelemetryPage();
    TelemetryPage(const TelemetryPage&) = delete;
    TelemetryPage& operator=(const TelemetryPage&) = delete;

    // Loads the page unless it is loading or loaded.
    void load();
    // Posts `payload` as JSON text to `url` from the page; loads the page first when needed.
    void send(const std::string& url, const nlohmann::json& payload);

    bool isLoaded() const { return loaded_; }
    std::size_t queuedCount() const { return queue_.size(); }

private:
    void createPage();
    void deliver(const std::string& script);

    std::shared_ptr<WebViewController> controller_;
    bool loaded_ = false;
    bool loadPending_ = false;
    std::deque<std::string> queue_;
    bool toldDropped_ = false;
};

} // namespace kx
