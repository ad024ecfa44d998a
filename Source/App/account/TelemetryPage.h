// The hidden page that carries usage events and web analytics to their collectors: one web
// view in no window, loaded once the main loop is first idle (after the launch's windows) and
// the page it shares a process with has loaded, in the web process of the login window or else of the start window (no process of
// its own), shared by KorvelTracking and PDGoogleAnalytics. Sending
// never waits: what is sent before the page has loaded waits in a bounded queue in memory
// (the oldest is dropped when it is full) and goes out, in order, once it has.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <deque>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

typedef struct _WebKitWebView WebKitWebView;

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

    // The web view whose process the account's hidden pages (this one, the messenger) join
    // rather than start one of their own: the login window's page, else the signed-in page the
    // application names (the start window's), else none.
    static WebKitWebView* processToShare();
    static void setSignedInPageToShare(std::function<WebKitWebView*()> page);
    // Runs `work` once that view's page has loaded (at once when there is none or it is not
    // loading, at the latest after `sharedPageWait`): a hidden page loading in the same process
    // would hold up the page the user waits for.
    static constexpr auto sharedPageWait = std::chrono::seconds(3);
    static void afterSharedPageLoads(std::function<void()> work);
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
